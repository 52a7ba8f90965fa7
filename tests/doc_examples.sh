#!/usr/bin/env bash
# Runs the library examples of the README, docs/library.md and docs/gap-free.md as written, in
# the order written, on one alias, Shop (a scratch SQLite folder with its generator table): each
# C++ and C example is put in a main() and built against the installed library, the Python one
# runs on the installed module, and a stored form is written to orders.frm, where the example
# after it reads it. The gap-free example draws in a transaction on the PostgreSQL server of
# $TGEN_PG_URI (SALES_DB), in a database with its invoice table; without it, it is only built.
# Each must build and succeed.
# Usage: doc_examples.sh SOURCE BUILD
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(dirname "$(find "$work/prefix" -name libtgen_core.so | head -1)")
read -r -a flags <<<"$(PKG_CONFIG_PATH="$libdir/pkgconfig" pkg-config --cflags --libs tgenerator)"
export TGEN_ALIASES="$work/aliases" XDG_DATA_HOME="$work/data" LC_ALL=C
echo "Shop = sqlite:$work/shop" >"$TGEN_ALIASES"
mkdir -p "$work/shop"
"$work/prefix/bin/genkey" table create --alias Shop >/dev/null
cd "$work"

# Every fenced block of a file: "LANGUAGE<TAB>FILE:LINE", then its lines, then "```".
blocks() {
  awk -v f="$1" '/^```/ { if (on) { on = 0; print "```" } else { on = 1; lang = substr($0, 4);
                          printf "%s\t%s:%d\n", (lang == "" ? "text" : lang), f, NR }; next }
                 on { print }' "$1"
}

count=0
run() {  # LANGUAGE WHERE, the block on standard input
  local lang=$1 where=$2 body
  body=$(cat)
  case "$lang" in
    cpp | c)
      local ext=$lang compiler=(g++ -std=c++20) out="ex$count"
      [ "$lang" = c ] && compiler=(gcc -std=c11)
      {
        grep '^#include' <<<"$body" || true
        echo "int main(void) {"
        grep -v '^#include' <<<"$body"
        echo "return 0;"
        echo "}"
      } >"$out.$ext"
      local more=()
      # shellcheck disable=SC2207 # flags, one a word
      grep -q 'postgresql.h' <<<"$body" && more=(-ltgen_store_pg $(pkg-config --cflags --libs libpq))
      "${compiler[@]}" -o "$out" "$out.$ext" "${flags[@]}" "${more[@]}" -Wl,-rpath,"$libdir" ||
        { echo "$where: does not build" >&2; exit 1; }
      if [ ${#more[@]} -gt 0 ] && [ -z "${SALES_DB:-}" ]; then
        echo "built $where ($lang); no PostgreSQL server to run it on"
        return 0
      fi
      ./"$out" >/dev/null || { echo "$where: failed" >&2; exit 1; }
      ;;
    python)
      PYTHONPATH="$work/prefix/lib/python3/dist-packages" /usr/bin/python3 -c "$body" ||
        { echo "$where: failed" >&2; exit 1; }
      ;;
    text)  # a stored form, for the example after it
      grep -q '^object ' <<<"$body" || return 0
      echo "$body" >orders.frm
      ;;
    *) return 0 ;;
  esac
  echo "ran $where ($lang)"
  count=$((count + 1))
}

if [ -n "${TGEN_PG_URI:-}" ]; then  # the sales database of the gap-free example
  export SALES_DB=$TGEN_PG_URI
  psql -q "$SALES_DB" -c 'DROP TABLE IF EXISTS invoice, "GENTBL";
                          CREATE TABLE invoice (number text PRIMARY KEY, total numeric)' 2>/dev/null
  "$work/prefix/bin/genkey" table create --alias "$SALES_DB" --table GENTBL >/dev/null
fi

for file in README.md docs/library.md docs/gap-free.md; do
  first=$(grep -n '^## Using the library' "$src/README.md" | cut -d: -f1)
  while IFS=$'\t' read -r lang where; do
    block=""
    while IFS= read -r line && [ "$line" != '```' ]; do
      block+="$line"$'\n'
    done
    # Only the library's examples: the README's after "Using the library".
    if [ "$file" = README.md ] && [ "${where#*:}" -lt "$first" ]; then
      continue
    fi
    run "$lang" "$where" <<<"$block"
  done < <(blocks "$src/$file")
done
if [ -n "${SALES_DB:-}" ]; then  # the gap-free example stored its invoice with its number
  stored=$(psql -Atq "$SALES_DB" -c 'SELECT number FROM invoice')
  [ "$stored" = "INV-000001" ] || { echo "the gap-free example stored: '$stored'" >&2; exit 1; }
fi
echo "doc_examples: $count examples ran"
