#!/usr/bin/env bash
# Runs the README's "Invoice numbers" recipes as written, with GENKEY for genkey, on a scratch
# default alias: each must succeed.
# Usage: readme_recipes.sh README GENKEY
set -euo pipefail
readme=$1
genkey=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export TGEN_ALIASES="$scratch/aliases"
echo "tGenAlias = sqlite:$scratch/keys" >"$TGEN_ALIASES"
recipes=$(awk '/^## Invoice numbers/ {on = 1} on && /^```sh/ {block = 1; next}
               block && /^```/ {exit} block' "$readme")
[ -n "$recipes" ] || { echo "no recipes found in $readme" >&2; exit 1; }
count=0
while IFS= read -r line; do
  [[ -z "$line" || "$line" == \#* ]] && continue
  # Without the comment that shows its output (after two blanks; masks hold "#" too).
  command=$(sed -E 's/[[:space:]]{2,}#.*$//' <<<"$line")
  echo "+ $command"
  eval "${command/genkey/\"\$genkey\"}"
  count=$((count + 1))
done <<<"$recipes"
echo "readme_recipes: $count recipes ran"
