#!/usr/bin/env bash
# A fuzz campaign: every target runs for SECONDS (default 600) from a random seed, all at once,
# each growing its own corpus in the build folder. A crash does not end a target's campaign:
# the input is saved and the target starts again for the time that is left. At the end the
# runs of each target are printed, and the crashes found, each to be fixed and then copied
# into fuzz/regressions/TARGET/ so that the test suite runs it for good; and the command that
# merges the new corpus into fuzz/corpus/TARGET/, which the test suite replays.
#
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]     (targets: genmask form alias transfer paradox)
# The fuzz build is made in $TGEN_FUZZ_BUILD (default build-fuzz) with clang.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-600}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(genmask form alias transfer paradox)
build=${TGEN_FUZZ_BUILD:-build-fuzz}
work="$build/campaign"

clangxx=$(command -v clang++ || command -v clang++-14)
cmake -S . -B "$build" -DTGEN_FUZZ=ON -DCMAKE_CXX_COMPILER="$clangxx" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 >/dev/null

campaign() {
  local target=$1
  local corpus="$work/corpus/$target" crashes="$work/crashes/$target" log="$work/$target.log"
  rm -rf "$crashes"  # each campaign lists the crashes it found itself
  mkdir -p "$corpus" "$crashes"
  : >"$log"
  local end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ]; do
    # A non-zero status is a crash (saved under $crashes) or a leak; go on with the time left.
    # An input that runs longer than 30 s is saved as a hang (timeout-*) instead of stalling
    # the campaign for the rest of its time.
    "$build/fuzz/${target}_fuzz" -max_total_time=$((end - SECONDS)) -print_final_stats=1 -timeout=30 \
      -artifact_prefix="$crashes/" "$corpus" "$root/fuzz/seeds/$target" \
      $( [ -d "$root/fuzz/corpus/$target" ] && echo "$root/fuzz/corpus/$target" ) \
      $( [ -d "$root/fuzz/regressions/$target" ] && echo "$root/fuzz/regressions/$target" ) \
      >>"$log" 2>&1 || echo "fuzz: $target stopped with status $?; going on" >>"$log"
  done
}

echo "fuzz: ${targets[*]} for $seconds s each; logs in $work/"
for t in "${targets[@]}"; do
  campaign "$t" &
done
wait

status=0
for t in "${targets[@]}"; do
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$work/$t.log" | awk '{s += $2} END {print s + 0}')
  found=$(find "$work/crashes/$t" -type f | wc -l)
  echo "fuzz: $t: $runs runs, $found inputs that crashed, hung or ran slowly"
  if [ "$found" -gt 0 ]; then
    status=1
    find "$work/crashes/$t" -type f | sed "s|^|  fix, then: cp |; s|\$| fuzz/regressions/$t/|"
  fi
done
echo "fuzz: to let the test suite replay what the campaign found (only inputs that add coverage):"
for t in "${targets[@]}"; do
  echo "  mkdir -p fuzz/corpus/$t && $build/fuzz/${t}_fuzz -merge=1 fuzz/corpus/$t $work/corpus/$t"
done
exit $status
