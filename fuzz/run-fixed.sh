#!/usr/bin/env bash
# The fuzz targets in the test suite: every input of the given folders (the seeds, the corpus
# that campaigns grew, every input that ever failed) run once, nothing mutated. A fixed set of
# inputs gives the same answer on every run and every machine; exploring belongs to campaigns
# (scripts/fuzz.sh). A failing input is written to SCRATCH.
# Usage: run-fixed.sh TARGET SCRATCH CORPUS...
set -euo pipefail
target=$1 scratch=$2
shift 2
rm -rf "$scratch"
mkdir -p "$scratch"
corpus=()
for dir in "$@"; do
  [ -d "$dir" ] && corpus+=("$dir")  # a target without regressions has no folder yet
done
exec "$target" -runs=0 -print_final_stats=1 -artifact_prefix="$scratch/" "${corpus[@]}"
