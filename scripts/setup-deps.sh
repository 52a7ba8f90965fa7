#!/usr/bin/env bash
# Installs the Debian packages that the build and the tests need, and only those missing.
# Safe to run again. Runs apt-get as root, or through sudo when started as another user.
set -euo pipefail

packages=(
  cmake make g++ pkg-config          # the build
  libcli11-dev                       # genkey's command line
  nlohmann-json3-dev                 # sequences exported and imported as JSON
  pxlib-dev                          # old Paradox generator tables
  libsqlite3-dev                     # the embedded generator table store
  libpq-dev                          # generator tables on a PostgreSQL server
  postgresql                         # a throw-away server for the tests and benchmarks
  postgresql-15-auto-failover pg-auto-failover-cli  # a primary with a synchronous standby
  util-linux                         # setpriv, to test a table another user cannot write
  qt6-base-dev qt6-base-dev-tools    # the dialogs (Qt Widgets, uic, moc, QTest)
  libgtest-dev libgmock-dev          # unit tests
  librapidcheck-dev                  # the random tester of the generator against a model
  python3-pytest                     # the Python module's tests
  libbenchmark-dev                   # benchmarks
  sqlite3                            # the sqlite3 shell: a baseline of bench/outside.sh
  clang libclang-rt-14-dev           # libFuzzer with ASan and UBSan
  dpkg-dev help2man lintian          # the Debian package: dependencies, man pages, its check
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup-deps: all ${#packages[@]} packages are installed"
  exit 0
fi

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
echo "setup-deps: installing ${missing[*]}"
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends \
  "${missing[@]}"
