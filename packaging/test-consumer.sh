#!/usr/bin/env bash
# Installs the build in BUILD into a folder of OUT, builds the example projects in EXAMPLE (C++
# and C) against it with find_package(tgenerator) and with pkg-config, and runs them; the
# installed tools and Python module run from there too.
set -euo pipefail
build=$1 example=$2 out=$3
rm -rf "$out"
cmake --install "$build" --prefix "$out/prefix" >/dev/null
libdir=$(dirname "$(find "$out/prefix" -name libtgen_core.so | head -1)")
cmake -S "$example" -B "$out/build" -DCMAKE_PREFIX_PATH="$out/prefix" >/dev/null
cmake --build "$out/build" -j2 >/dev/null
"$out/build/keys"
"$out/build/keys-c" >/dev/null
# pkg-config forces no language standard: the program picks C++20 (C, any).
flags=$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs tgenerator)
g++ -std=c++20 -O1 -o "$out/keys-pc" "$example/main.cpp" -Wl,-rpath,"$libdir" $flags
gcc -std=c11 -O1 -o "$out/keys-c-pc" "$example/main.c" -Wl,-rpath,"$libdir" $flags
"$out/keys-pc" >/dev/null
"$out/keys-c-pc" >/dev/null
# The installed tools and module find their libraries, and the designer its package, from
# where they lie.
"$out/prefix/bin/genkey" preview --mask 'INV-##' >/dev/null
PYTHONPATH="$out/prefix/lib/python3/dist-packages" /usr/bin/python3 -c \
  'import tgenerator; assert tgenerator.Sequence(mask="P#", alias="memory:x", create=True).next() == "P0"'
QT_QPA_PLATFORM=offscreen "$out/prefix/bin/genform" --list-packages | grep -q 'palette ZOR: TGenerator'
echo "consumer built and ran"
