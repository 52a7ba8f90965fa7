#!/usr/bin/env bash
# Makes the Debian packages of the build in BUILD into OUT and checks them without touching
# the system: lintian finds no error and no warning; unpacked together into a fresh root, the
# packages' genkey and Python module draw keys on a temporary alias, and the example projects
# in EXAMPLE (C++ and C) build and run against them, with CMake and with pkg-config.
set -euo pipefail
build=$1 example=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
debs=("$out"/*.deb)
[ ${#debs[@]} -eq 5 ] || { echo "expected 5 packages, made: ${debs[*]}"; exit 1; }

lintian --allow-root "${debs[@]}" >"$out/lintian.txt" 2>&1 || true
if grep -q '^[EW]:' "$out/lintian.txt"; then cat "$out/lintian.txt"; exit 1; fi

# Each package needs from the others only what is among them.
for deb in "${debs[@]}"; do
  for wanted in $(dpkg-deb -f "$deb" Depends | tr ',' '\n' | awk '/tgenerator/ {print $1}'); do
    ls "$out/${wanted}"_*.deb >/dev/null 2>&1 || { echo "$deb needs $wanted"; exit 1; }
  done
  dpkg-deb -x "$deb" "$out/root"
done
usr="$out/root/usr"
libdir=$(cd "$usr" && echo lib/*-linux-gnu)

"$usr/bin/genkey" --version | grep -q '^genkey [0-9]'
printf 'Tmp = sqlite:%s\n' "$out/keys" >"$out/aliases"
export TGEN_ALIASES="$out/aliases"
"$usr/bin/genkey" table create --alias Tmp >/dev/null
keys=$("$usr/bin/genkey" next --alias Tmp --mask 'T-###' -n 3)
[ "$keys" = "$(printf 'T-000\nT-001\nT-002')" ] || { echo "genkey next drew: $keys"; exit 1; }
key=$(PYTHONPATH="$usr/lib/python3/dist-packages" /usr/bin/python3 -c \
  'import tgenerator; print(tgenerator.Sequence(mask="T-###", alias="Tmp").next())')
[ "$key" = "T-003" ] || { echo "python drew: $key"; exit 1; }
for page in genkey genform; do
  for section in 'EXIT STATUS' ENVIRONMENT FILES EXAMPLES; do
    zcat "$usr/share/man/man1/$page.1.gz" | grep -q "^\.SH \"\?$section" ||
      { echo "the man page of $page has no $section"; exit 1; }
  done
done
zcat "$usr/share/man/man1/genkey.1.gz" | grep -q 'genkey table import' ||
  { echo "the man page of genkey leaves out table import"; exit 1; }

cmake -S "$example" -B "$out/consumer" -DCMAKE_PREFIX_PATH="$usr" >/dev/null
cmake --build "$out/consumer" -j2 >/dev/null
"$out/consumer/keys" >/dev/null
"$out/consumer/keys-c" >/dev/null
flags=$(PKG_CONFIG_PATH="$usr/$libdir/pkgconfig" pkg-config --cflags --libs tgenerator)
gcc -std=c11 -o "$out/keys-c-pc" "$example/main.c" -Wl,-rpath,"$usr/$libdir" $flags
"$out/keys-c-pc" >/dev/null
echo "packages $(cd "$out" && echo *.deb) pass lintian, and ran and built against"
