#!/usr/bin/env bash
# A campaign of the random tester of the generator against its model: rounds of runs from
# fresh random seeds until STEPS steps (default 10 million) have been checked. Each round
# prints its seed; a failure stops the campaign and prints the shortest list of steps that
# rapidcheck found, with the RC_PARAMS that replay it (add TGEN_MODEL_TRACE=1 to see every
# key handed out).
#
# Usage: scripts/model-check.sh [STEPS]    (build folder: $TGEN_BUILD_DIR, default build)
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:-10000000}
build=${TGEN_BUILD_DIR:-build}
cmake --build "$build" -j2 --target generator_model_test >/dev/null
binary="$build/core/generator_model_test"
export TGEN_STAMP_FILE="$build/model-stamp"

steps=0
rounds=0
started=$(date +%s)
while [ "$steps" -lt "$target" ]; do
  seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')
  if ! out=$(RC_PARAMS="seed=$seed max_success=20000 max_size=300" "$binary" 2>&1); then
    echo "$out" | sed -n '/Falsifiable/,/reproduce=/p'
    echo "model-check: seed $seed failed after $steps steps"
    exit 1
  fi
  done_now=$(echo "$out" | sed -n 's/^model: \([0-9]*\) steps.*/\1/p')
  steps=$((steps + done_now))
  rounds=$((rounds + 1))
  echo "model-check: seed $seed: $done_now steps; $steps in all, $(($(date +%s) - started)) s"
done
echo "model-check: $steps steps in $rounds rounds, nothing found"
