#!/usr/bin/env bash
# Measures genkey the way a user would, against the tools a user would use instead, in the
# same run on the same stores: PostgreSQL against pgbench on a counter row, SQLite against the
# sqlite3 shell on a counter row (WAL, synchronous FULL), and a one-key genkey against one
# sqlite3 update. Prints keys per second (or milliseconds) and genkey's ratio to the baseline,
# the median of ROUNDS rounds; every genkey run is checked for keys handed out twice.
#
# With ROWS, it also moves a table of ROWS sequences out and in: genkey table export and import
# against the sqlite3 shell's CSV output and .import, and psql's \copy, on fresh tables each
# round (seconds, and the peak memory of the last round).
#
# Usage: scripts/with-postgres.sh bench/outside.sh GENKEY [KEYS] [ROUNDS] [ROWS]
# (without TGEN_PG_URI the PostgreSQL rows are left out).
set -euo pipefail
genkey=$1 keys=${2:-2000} rounds=${3:-3} rows=${4:-0}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TGEN_ALIASES="$work/aliases" LC_ALL=C
echo "Lite = sqlite:$work/lite" >"$TGEN_ALIASES"
mkdir -p "$work/lite"
[ -n "${TGEN_PG_URI:-}" ] && echo "Pg = $TGEN_PG_URI" >>"$TGEN_ALIASES"

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

# genkey: PROCS processes drawing KEYS keys in all from one new sequence of MASK on ALIAS (in
# TABLE, by default one of its own); prints keys per second, and fails when a key was handed
# out twice.
genkey_rate() {
  local alias=$1 procs=$2 mask=$3 table=${4:-B$2.DB} start end
  local n=$((keys / procs)) prefix="R$RANDOM$RANDOM-"
  "$genkey" table create --alias "$alias" --table "$table" >/dev/null 2>&1 || true
  start=$(now)
  for ((i = 0; i < procs; i++)); do
    "$genkey" next --alias "$alias" --table "$table" --mask "$prefix$mask" -n "$n" \
      >"$work/out$i" &
  done
  wait
  end=$(now)
  local drawn distinct
  drawn=$(cat "$work"/out* | wc -l)
  distinct=$(cat "$work"/out* | sort -u | wc -l)
  rm -f "$work"/out*
  [ "$drawn" = "$distinct" ] || { echo "a key was handed out twice" >&2; exit 1; }
  echo "$drawn $start $end" | awk '{printf "%.0f\n", $1 / ($3 - $2)}'
}

# pgbench: PROCS clients, KEYS transactions in all, each the counter row's update.
pgbench_rate() {
  local procs=$1
  psql -q "$TGEN_PG_URI" -c "DROP TABLE IF EXISTS ctr; CREATE TABLE ctr (id int PRIMARY KEY, v bigint);
                             INSERT INTO ctr VALUES (1, 0)" >/dev/null 2>&1
  echo 'UPDATE ctr SET v = v + 1 WHERE id = 1 RETURNING v;' >"$work/ctr.sql"
  pgbench -n -f "$work/ctr.sql" -c "$procs" -j "$procs" -t $((keys / procs)) "$TGEN_PG_URI" 2>/dev/null |
    awk '/^tps/ {printf "%.0f\n", $3}'
}

# The sqlite3 shell: PROCS shells, KEYS updates in all, each its own transaction.
sqlite_rate() {
  local procs=$1 start end db="$work/ctr.db"
  rm -f "$db"*
  sqlite3 "$db" 'PRAGMA journal_mode=WAL; CREATE TABLE ctr (id INTEGER PRIMARY KEY, v INTEGER);
                 INSERT INTO ctr VALUES (1, 0);' >/dev/null
  {
    echo '.timeout 30000'
    echo 'PRAGMA synchronous=FULL;'
    for ((i = 0; i < keys / procs; i++)); do
      echo 'UPDATE ctr SET v = v + 1 WHERE id = 1 RETURNING v;'
    done
  } >"$work/ctr-lite.sql"
  start=$(now)
  for ((i = 0; i < procs; i++)); do sqlite3 "$db" <"$work/ctr-lite.sql" >/dev/null & done
  wait
  end=$(now)
  echo "$keys $start $end" | awk '{printf "%.0f\n", $1 / ($3 - $2)}'
}

# Milliseconds of one whole process, the median of 15.
process_ms() {
  local t
  for ((i = 0; i < 15; i++)); do
    t=$(now)
    "$@" >/dev/null
    echo "$t $(now)" | awk '{printf "%.2f\n", ($2 - $1) * 1000}'
  done | median
}

row() {  # what, genkey's figure, the baseline's, unit (higher or lower is better)
  awk -v what="$1" -v a="$2" -v b="$3" -v unit="$4" 'BEGIN {
    ratio = unit == "ms" || unit == "s" ? b / a : a / b
    printf "| %-52s | %10s | %10s | %-6s | %5.2f |\n", what, a, b, unit, ratio }'
}

# With TGEN_OUTSIDE_CSV=FILE, only the draws on one sequence for each number of processes in
# TGEN_OUTSIDE_CLIENTS (default 1,2,4,8), as CSV rows: store, processes, genkey's and the
# baseline's keys per second (scripts/contention-chart.sh draws them).
if [ -n "${TGEN_OUTSIDE_CSV:-}" ]; then
  echo "store,clients,genkey_keys_per_s,baseline_keys_per_s" >"$TGEN_OUTSIDE_CSV"
  stores=(sqlite)
  [ -n "${TGEN_PG_URI:-}" ] && stores+=(postgresql)
  for store in "${stores[@]}"; do
    IFS=, read -ra counts <<<"${TGEN_OUTSIDE_CLIENTS:-1,2,4,8}"
    for procs in "${counts[@]}"; do
      ga=() gb=()
      for ((r = 0; r < rounds; r++)); do
        if [ "$store" = sqlite ]; then
          ga+=("$(genkey_rate Lite "$procs" '#####')")
          gb+=("$(sqlite_rate "$procs")")
        else
          ga+=("$(genkey_rate Pg "$procs" '#####')")
          gb+=("$(pgbench_rate "$procs")")
        fi
      done
      echo "$store,$procs,$(printf '%s\n' "${ga[@]}" | median),$(printf '%s\n' "${gb[@]}" | median)" \
        >>"$TGEN_OUTSIDE_CSV"
    done
  done
  exit 0
fi

echo "| what (median of $rounds rounds, $keys keys a run)          |     genkey |   baseline | unit   | ratio |"
echo "|------------------------------------------------------|------------|------------|--------|-------|"
measure() {  # what, unit, genkey command..., then '--', baseline command...
  local what=$1 unit=$2
  shift 2
  local a=() b=() side=a
  for arg in "$@"; do
    if [ "$arg" = "--" ]; then side=b; continue; fi
    if [ $side = a ]; then a+=("$arg"); else b+=("$arg"); fi
  done
  local ga=() gb=()
  for ((r = 0; r < rounds; r++)); do
    ga+=("$("${a[@]}")")
    gb+=("$("${b[@]}")")
  done
  row "$what" "$(printf '%s\n' "${ga[@]}" | median)" "$(printf '%s\n' "${gb[@]}" | median)" "$unit"
}

if [ -n "${TGEN_PG_URI:-}" ]; then
  measure "PostgreSQL, 1 process, suffix #####, vs pgbench" "keys/s" \
    genkey_rate Pg 1 '#####' -- pgbench_rate 1
  measure "PostgreSQL, 8 processes, suffix #####, vs pgbench" "keys/s" \
    genkey_rate Pg 8 '#####' -- pgbench_rate 8
  measure "PostgreSQL, 8 processes, suffix &&&&&, vs pgbench" "keys/s" \
    genkey_rate Pg 8 '&&&&&' -- pgbench_rate 8
fi
measure "SQLite, 1 process, suffix #####, vs sqlite3 shell" "keys/s" \
  genkey_rate Lite 1 '#####' -- sqlite_rate 1
measure "SQLite, 8 processes, suffix #####, vs sqlite3 shell" "keys/s" \
  genkey_rate Lite 8 '#####' -- sqlite_rate 8
"$genkey" table create --alias Lite >/dev/null
"$genkey" next --alias Lite --mask 'ONE-#####' >/dev/null
sqlite3 "$work/one.db" 'PRAGMA journal_mode=WAL; CREATE TABLE ctr (id INTEGER PRIMARY KEY, v INTEGER);
                        INSERT INTO ctr VALUES (1, 0);' >/dev/null
measure "one key, SQLite, whole process, vs one sqlite3 update" "ms" \
  process_ms "$genkey" next --alias Lite --mask 'ONE-#####' -- \
  process_ms sqlite3 "$work/one.db" 'PRAGMA synchronous=FULL; UPDATE ctr SET v = v + 1 WHERE id = 1 RETURNING v;'

# Bulk transfer: a table of $rows sequences, as genkey writes its rows.
seconds() {  # LABEL COMMAND...: its wall time in seconds; its peak memory (MB) into $work/peak-LABEL
  local label=$1 s kb
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
  read -r s kb <"$work/time"
  echo $((kb / 1024)) >"$work/peak-$label"
  echo "$s"
}
fresh_lite() {  # a new, empty generator table IN.DB on Lite
  rm -f "$work/lite/IN.DB"*
  "$genkey" table create --alias Lite --table IN.DB >/dev/null
}
fresh_pg() {
  psql -q "$TGEN_PG_URI" -c 'DROP TABLE IF EXISTS "IN.DB"' >/dev/null 2>&1
  "$genkey" table create --alias Pg --table IN.DB >/dev/null
}
columns='"GenID","Prefix","Suffix","State","Who","Try","Time"'
import_genkey() { "fresh_$1" && seconds "$1-import-a" "$genkey" table import --alias "$2" --table IN.DB --format csv "$work/big.csv"; }
import_lite() { fresh_lite && seconds lite-import-b sqlite3 "$work/lite/IN.DB" -cmd '.mode csv' ".import --skip 1 $work/big.csv IN.DB"; }
import_pg() { fresh_pg && seconds pg-import-b psql -q "$TGEN_PG_URI" -c "\\copy \"IN.DB\" ($columns) FROM '$work/big.csv' WITH (FORMAT csv, HEADER true)"; }
if [ "$rows" -gt 0 ]; then
  "$genkey" table create --alias Lite --table BIG.DB >/dev/null
  sqlite3 "$work/lite/BIG.DB" "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < $rows)
    INSERT INTO \"BIG.DB\" SELECT i % 1000, 'P' || i, '0042', '20261207101010001', 0, 0,
    '20261207101010000' FROM c"
  "$genkey" table export --alias Lite --table BIG.DB --format csv >"$work/big.csv"
  measure "export $rows rows, SQLite, vs sqlite3 -csv" "s" \
    seconds lite-export-a "$genkey" table export --alias Lite --table BIG.DB --format csv -- \
    seconds lite-export-b sqlite3 -csv -header "$work/lite/BIG.DB" "SELECT $columns FROM \"BIG.DB\""
  measure "import $rows rows, SQLite, vs sqlite3 .import" "s" \
    import_genkey lite Lite -- import_lite
  measure "SQLite, 1 process, table of $rows rows vs of one" "keys/s" \
    genkey_rate Lite 1 '#####' BIG.DB -- genkey_rate Lite 1 '#####' ONE.DB
  if [ -n "${TGEN_PG_URI:-}" ]; then
    "$genkey" table create --alias Pg --table BIG.DB >/dev/null
    psql -q "$TGEN_PG_URI" -c "\\copy \"BIG.DB\" ($columns) FROM '$work/big.csv' WITH (FORMAT csv, HEADER true)"
    measure "export $rows rows, PostgreSQL, vs psql \\copy" "s" \
      seconds pg-export-a "$genkey" table export --alias Pg --table BIG.DB --format csv -- \
      seconds pg-export-b psql -q "$TGEN_PG_URI" -c "\\copy \"BIG.DB\" TO STDOUT WITH (FORMAT csv, HEADER true)"
    measure "import $rows rows, PostgreSQL, vs psql \\copy" "s" \
      import_genkey pg Pg -- import_pg
    measure "PostgreSQL, 1 process, table of $rows rows vs of one" "keys/s" \
      genkey_rate Pg 1 '#####' BIG.DB -- genkey_rate Pg 1 '#####' ONE.DB
  fi
  echo
  echo "peak memory of the last round, MB (genkey / baseline):"
  for what in lite-export lite-import pg-export pg-import; do
    if [ -f "$work/peak-$what-a" ]; then
      echo "  $what: $(cat "$work/peak-$what-a") / $(cat "$work/peak-$what-b")"
    fi
  done
fi
echo "ratio: genkey's speed over the baseline's (for ms and s, the baseline's time over genkey's); 1 is as fast"
