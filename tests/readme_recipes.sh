#!/usr/bin/env bash
# Runs the README's everyday tasks and "Invoice numbers" recipes as written, in order, with
# GENKEY for genkey, on one scratch default alias: each must succeed.
# Usage: readme_recipes.sh README GENKEY
set -euo pipefail
readme=$1
genkey=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TGEN_ALIASES="$scratch/aliases"
echo "tGenAlias = sqlite:$scratch/keys" >"$TGEN_ALIASES"
count=0
for section in 'Everyday tasks' 'Invoice numbers'; do
  recipes=$(awk -v title="## $section" '$0 == title {on = 1; next} on && /^## / {exit}
                 on && /^```sh/ {block = 1; next} block && /^```/ {exit} block' "$readme")
  [ -n "$recipes" ] || { echo "no recipes found under '$section' in $readme" >&2; exit 1; }
  while IFS= read -r line; do
    [[ -z "$line" || "$line" == \#* ]] && continue
    # Without the comment that shows its output (after two blanks; masks hold "#" too).
    command=$(sed -E 's/[[:space:]]{2,}#.*$//' <<<"$line")
    echo "+ $command"
    eval "${command/genkey/\"\$genkey\"}"
    count=$((count + 1))
  done <<<"$recipes"
done
echo "readme_recipes: $count recipes ran"
