#!/usr/bin/env bash
# Measures keys per second of both lock modes, and of batches and a cache of 100 keys in
# lmTransaction, against the baselines with bench/contention, on SQLite and on a throw-away
# PostgreSQL server; and, from outside, genkey processes against pgbench and the sqlite3 shell
# on a counter row (bench/outside.sh). Draws them as one SVG chart (gnuplot; apt-get install
# gnuplot-nox).
#
#   scripts/contention-chart.sh [--build DIR] [--out FILE.svg] [--seconds S] [--clients LIST]
#                               [--kill-every-ms MS] [--repeat N] [--redraw | --outside-only]
#
# Defaults: build/, docs/contention.svg, 2 s a run, clients 1,2,4,8, kills every 200 ms, the
# median of 3 rounds. The measured tables are kept as CSV beside the chart (FILE-sqlite.csv,
# FILE-postgresql.csv, FILE-outside.csv, with the dates and machine in FILE-run.txt); --redraw
# draws the chart again from them without measuring, --outside-only measures only the outside
# series.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
out=docs/contention.svg
seconds=2
clients=1,2,4,8
kill_ms=200
repeat=3
redraw=no
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --clients) clients=$2; shift 2 ;;
    --kill-every-ms) kill_ms=$2; shift 2 ;;
    --repeat) repeat=$2; shift 2 ;;
    --redraw) redraw=yes; shift ;;
    --outside-only) redraw=outside; shift ;;
    -h | --help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "contention-chart: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
command -v gnuplot > /dev/null || {
  echo "contention-chart: gnuplot is missing (apt-get install gnuplot-nox)" >&2
  exit 1
}
mkdir -p "$(dirname "$out")"
base="${out%.svg}"
if [ "$redraw" = no ]; then
  bench="$build/bench/contention"
  [ -x "$bench" ] || { echo "contention-chart: build $bench first" >&2; exit 1; }
  args=(--clients "$clients" --seconds "$seconds" --kill-every-ms "$kill_ms" --repeat "$repeat")
  many=(--clients "$clients" --seconds "$seconds" --repeat "$repeat" --lock transaction)
  measure() {  # store, then the command's own start (nothing, or the server script)
    local store=$1
    shift
    "$@" "$bench" --store "$store" "${args[@]}" --csv "$base-$store.csv"
    "$@" "$bench" --store "$store" "${many[@]}" --batch 100 --csv "$base-$store-batch.csv"
    "$@" "$bench" --store "$store" "${many[@]}" --cache 100 --csv "$base-$store-cache.csv"
  }
  measure sqlite
  measure postgresql scripts/with-postgres.sh
  machine="$(nproc) cores, $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
  echo "$(date +%F), $machine, median of $repeat runs of ${seconds} s" > "$base-run.txt"
fi
if [ "$redraw" != yes ]; then
  genkey="$build/tools/genkey/genkey"
  [ -x "$genkey" ] || { echo "contention-chart: build $genkey first" >&2; exit 1; }
  TGEN_OUTSIDE_CSV="$(realpath -m "$base-outside.csv")" TGEN_OUTSIDE_CLIENTS="$clients" \
    scripts/with-postgres.sh bench/outside.sh "$genkey" 8000 "$repeat"
  echo "outside series $(date +%F)" > "$base-outside-run.txt"
fi
run=$(cat "$base-run.txt")
[ -f "$base-outside-run.txt" ] && run="$run; $(cat "$base-outside-run.txt")"

data=$(mktemp -d)
trap 'rm -rf "$data"' EXIT
# One file a line of the chart: clients and keys/s, per store, sequences and series.
for store in sqlite postgresql; do
  awk -F, -v dir="$data" -v store="$store" 'NR > 1 {
      key = store "-" $2
      print $3, $5 > (dir "/" key "-" $4 ".dat")
      if ($4 == "transaction") print $3, $8 > (dir "/" key "-killed.dat")
      if ($4 == "fields") {
        print $3, $6 > (dir "/" key "-counter.dat")
        if (store == "postgresql") print $3, $7 > (dir "/" key "-nextval.dat")
      }
    }' "$base-$store.csv"
  [ -f "$base-outside.csv" ] && awk -F, -v file="$data/$store" -v store="$store" \
    'NR > 1 && $1 == store {
        print $2, $3 > (file "-one-genkey.dat")
        print $2, $4 > (file "-one-outside.dat")
      }' "$base-outside.csv"
  for kind in batch cache; do
    [ -f "$base-$store-$kind.csv" ] || continue
    awk -F, -v file="$data/$store" -v kind="$kind" 'NR > 1 {
        print $3, $5 > (file "-" $2 "-" kind ".dat")
      }' "$base-$store-$kind.csv"
  done
done

panel() {  # store, sequences, title
  local d="$data/$1-$2"
  local plots="'$d-fields.dat' w lp t 'generator, lmRowFields', '$d-transaction.dat' w lp t 'generator, lmTransaction', '$d-killed.dat' w lp dt 2 t 'lmTransaction, a client SIGKILLed every ${kill_ms} ms', '$d-counter.dat' w lp t 'counter row (UPDATE ... RETURNING)'"
  [ -f "$d-nextval.dat" ] && plots="$plots, '$d-nextval.dat' w lp t 'nextval()'"
  [ -f "$d-batch.dat" ] && plots="$plots, '$d-batch.dat' w lp t 'lmTransaction, batches of 100'"
  [ -f "$d-cache.dat" ] && plots="$plots, '$d-cache.dat' w lp t 'lmTransaction, a cache of 100'"
  local outside='sqlite3 shell, counter row'
  [ "$1" = postgresql ] && outside='pgbench, counter row'
  [ -f "$d-genkey.dat" ] && plots="$plots, '$d-genkey.dat' w lp lw 2 t 'genkey processes, #####'"
  [ -f "$d-outside.dat" ] && plots="$plots, '$d-outside.dat' w lp lw 2 dt 3 t '$outside'"
  echo "set title '$3'; plot $plots"
}
gnuplot <<EOF
set terminal svg size 1100,900 dynamic font 'sans,11'
set output '$out'
set multiplot layout 2,2 title "Keys per second against clients ($run)"
set xlabel 'client processes'
set ylabel 'keys/s'
set logscale y
set logscale x 2
set format x '%g'
set key below font 'sans,9' maxrows 3
set grid
$(panel sqlite one 'SQLite, one sequence')
$(panel sqlite separate 'SQLite, a sequence per client')
$(panel postgresql one 'PostgreSQL, one sequence')
$(panel postgresql separate 'PostgreSQL, a sequence per client')
unset multiplot
EOF
echo "contention-chart: wrote $out"
