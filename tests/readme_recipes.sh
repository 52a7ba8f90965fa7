#!/usr/bin/env bash
# Runs every `sh` block of the README and of docs/*.md as written, in order, with GENKEY for
# genkey, on one scratch default alias: each line must succeed. (Commands for another machine,
# a server or a build are fenced as `console` and are not run.)
# Usage: readme_recipes.sh README GENKEY
set -euo pipefail
readme=$1
genkey=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TGEN_ALIASES="$scratch/aliases"
echo "tGenAlias = sqlite:$scratch/keys" >"$TGEN_ALIASES"
count=0
for file in "$readme" "$(dirname "$readme")"/docs/*.md; do
  recipes=$(awk '/^```sh$/ {block = 1; next} block && /^```/ {block = 0; next} block' "$file")
  while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Without the comment that shows its output (after two blanks; masks hold "#" too).
    command=$(sed -E 's/[[:space:]]{2,}#.*$//' <<<"$line")
    echo "+ $command"
    eval "${command/genkey/\"\$genkey\"}"
    count=$((count + 1))
  done <<<"$recipes"
done
[ "$count" -gt 0 ] || { echo "no recipes found" >&2; exit 1; }
echo "readme_recipes: $count recipes ran"
