#!/usr/bin/env bash
# Saves pictures of the dialogs in their states and of the form designer with a form open, for
# a person to look at: runs the Qt tests offscreen with TGEN_SCREENSHOTS set. The pictures go
# to the folder given (build/screenshots by default).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${TGEN_BUILD_DIR:-build}
out=$(realpath -m "${1:-$build/screenshots}")
cmake --build "$build" -j2 --target dialogs_test designer_test tgen_module
mkdir -p "$out"
for t in dialogs designer; do
  TGEN_SCREENSHOTS="$out" QT_QPA_PLATFORM=offscreen "$build/tests/${t}_test" >/dev/null
done
echo "screenshots: $(ls "$out" | wc -l) pictures in $out"
