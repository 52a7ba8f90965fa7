#!/usr/bin/env bash
# Installs the build in BUILD into a folder of OUT, builds the example project in EXAMPLE
# against it with find_package(tgenerator), and runs it; also compiles it with pkg-config.
set -euo pipefail
build=$1 example=$2 out=$3
rm -rf "$out"
cmake --install "$build" --prefix "$out/prefix" >/dev/null
cmake -S "$example" -B "$out/build" -DCMAKE_PREFIX_PATH="$out/prefix" >/dev/null
cmake --build "$out/build" -j2 >/dev/null
"$out/build/keys"
PKG_CONFIG_PATH="$out/prefix/lib/pkgconfig" \
  g++ -O1 -o "$out/keys-pc" "$example/main.cpp" -Wl,-rpath,"$out/prefix/lib" \
  $(PKG_CONFIG_PATH="$out/prefix/lib/pkgconfig" pkg-config --cflags --libs tgenerator)
"$out/keys-pc" >/dev/null
# The installed tools find their libraries, and the designer its package, from where they lie.
"$out/prefix/bin/genkey" preview --mask 'INV-##' >/dev/null
QT_QPA_PLATFORM=offscreen "$out/prefix/bin/genform" --list-packages | grep -q 'palette ZOR: TGenerator'
echo "consumer built and ran"
