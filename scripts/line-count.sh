#!/bin/bash
# Counts non-blank, non-comment lines of C++ code and of tests (fuzz targets and benchmarks
# left out) and prints their share, for keeping the tests at a quarter to a third of the code.
set -euo pipefail
cd "$(dirname "$0")/.."
count() {
  awk 'BEGIN { c = 0; inb = 0 }
       { l = $0; gsub(/^[ \t]+|[ \t]+$/, "", l)
         if (inb) { if (l ~ /\*\//) inb = 0; next }
         if (l == "" || l ~ /^\/\//) next
         if (l ~ /^\/\*/) { if (l !~ /\*\//) inb = 1; next }
         c++ }
       END { print c }' "$1"
}
tests=0
code=0
while read -r f; do
  [ -f "$f" ] || continue
  n=$(count "$f")
  case "$f" in
    *_test.cpp | *_testing.h | *_testing.cpp | *_test_module.cpp | tests/* | packaging/*) tests=$((tests + n)) ;;
    *) code=$((code + n)) ;;
  esac
done < <(git ls-files -co --exclude-standard '*.cpp' '*.h' | grep -v -e '^fuzz/' -e '^bench/')
echo "code $code, tests $tests ($((100 * tests / code))% of the code)"
