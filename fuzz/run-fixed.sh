#!/usr/bin/env bash
# One deterministic fuzz run for the test suite: a fixed seed and a fixed number of runs over
# the seed corpus and every input that ever crashed a target. New inputs go to a scratch
# folder that is emptied first, so the run never depends on an earlier one.
# Usage: run-fixed.sh TARGET SCRATCH RUNS CORPUS...
set -euo pipefail
target=$1 scratch=$2 runs=$3
shift 3
rm -rf "$scratch"
mkdir -p "$scratch"
corpus=()
for dir in "$@"; do
  [ -d "$dir" ] && corpus+=("$dir")  # a target without regressions has no folder yet
done
# Addresses vary from run to run, and libFuzzer learns the values it sees compared, pointers
# among them: without address-space randomisation the same seed gives the same runs.
runner=()
if setarch "$(uname -m)" -R true 2>/dev/null; then runner=(setarch "$(uname -m)" -R); fi
exec "${runner[@]}" "$target" -seed=1 -runs="$runs" -print_final_stats=1 -artifact_prefix="$scratch/" \
  "$scratch" "${corpus[@]}"
