#!/usr/bin/env bash
# Makes the Debian package of the build in BUILD into OUT, and checks it without installing it:
# extracted with dpkg-deb, its genkey runs and draws keys on a temporary alias, the example
# project in EXAMPLE builds and runs against the extracted tree, and lintian finds no error.
set -euo pipefail
build=$1 example=$2 out=$3
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log") || { cat "$out/cpack.log"; exit 1; }
deb=$(ls "$out"/tgenerator_*_amd64.deb)
dpkg-deb -x "$deb" "$out/root"
usr="$out/root/usr"

"$usr/bin/genkey" --version | grep -q '^genkey [0-9]'
printf 'Tmp = sqlite:%s\n' "$out/keys" >"$out/aliases"
export TGEN_ALIASES="$out/aliases"
"$usr/bin/genkey" table create --alias Tmp >/dev/null
keys=$("$usr/bin/genkey" next --alias Tmp --mask 'T-###' -n 3)
[ "$keys" = "$(printf 'T-000\nT-001\nT-002')" ] || { echo "genkey next drew: $keys"; exit 1; }
for page in genkey genform; do
  [ -s "$usr/share/man/man1/$page.1.gz" ] || { echo "no man page for $page"; exit 1; }
done

cmake -S "$example" -B "$out/consumer" -DCMAKE_PREFIX_PATH="$usr" >/dev/null
cmake --build "$out/consumer" -j2 >/dev/null
"$out/consumer/keys" >/dev/null

# lintian's errors fail the package; its warnings are listed.
lintian --allow-root "$deb" >"$out/lintian.txt" 2>&1 || true
cat "$out/lintian.txt"
if grep -q '^E:' "$out/lintian.txt"; then exit 1; fi
echo "package $(basename "$deb") ($(du -k "$deb" | cut -f1) KiB) extracted, ran and built against"
