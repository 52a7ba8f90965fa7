#!/usr/bin/env bash
# A primary and its synchronous standby on loopback, for a failover done by hand: started by
# with-postgres.sh --pair DIR BIN COMMAND..., which hands over its empty folder and the
# server's programs. COMMAND sees:
#   TGEN_PG_URI      both servers, with target_session_attrs=read-write (the primary, whichever)
#   TGEN_PG_PROMOTE  a command that stops the primary at once (-m immediate), promotes the
#                    standby and clears its synchronous_standby_names, as an operator would
set -euo pipefail
. "$(dirname "$0")/server-port.sh"
dir=$1
bin=$2
shift 2

as_server=()
[ "$(id -u)" -eq 0 ] && as_server=(runuser -u postgres --)

stop() {
  for node in primary standby; do
    "${as_server[@]}" "$bin/pg_ctl" -D "$dir/$node" -m immediate stop >/dev/null 2>&1 || true
  done
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

fail() {
  echo "with-postgres --pair: $1" >&2
  cat "$dir"/*.log >&2 2>/dev/null || true
  exit 1
}

primary_port=$(server_port)
standby_port=$(server_port)
while [ "$standby_port" = "$primary_port" ]; do standby_port=$(server_port); done

start() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$dir/$1" -l "$dir/$1.log" -w -t 30 \
    -o "-c listen_addresses=127.0.0.1 -p $2 -k $dir" start >/dev/null ||
    fail "the $1 did not start"
}

"${as_server[@]}" "$bin/initdb" -D "$dir/primary" -E SQL_ASCII --locale=C -A trust -U postgres \
  >"$dir/initdb.log" 2>&1 || fail "initdb failed"
cat >>"$dir/primary/postgresql.conf" <<EOF
wal_level = replica
max_wal_senders = 5
synchronous_commit = on
synchronous_standby_names = 'standby'
max_connections = 200
EOF
echo "host replication postgres 127.0.0.1/32 trust" >>"$dir/primary/pg_hba.conf"
start primary "$primary_port"

"${as_server[@]}" "$bin/pg_basebackup" -h 127.0.0.1 -p "$primary_port" -U postgres \
  -D "$dir/standby" -R -X stream >"$dir/basebackup.log" 2>&1 || fail "pg_basebackup failed"
# The name under which the primary waits for it.
echo "primary_conninfo = 'host=127.0.0.1 port=$primary_port user=postgres application_name=standby'" \
  >>"$dir/standby/postgresql.auto.conf"
start standby "$standby_port"

# Returns once the standby confirmed it: the pair is synchronous.
"$bin/psql" -q -h 127.0.0.1 -p "$primary_port" -U postgres -d postgres \
  -c 'CREATE DATABASE tgen' >/dev/null || fail "the primary did not take a write"

export TGEN_PG_URI="postgresql://postgres@127.0.0.1:$primary_port,127.0.0.1:$standby_port/tgen?target_session_attrs=read-write"
export TGEN_PG_PROMOTE="${as_server[*]} $bin/pg_ctl -D $dir/primary -m immediate stop >/dev/null \
&& ${as_server[*]} $bin/pg_ctl -D $dir/standby -w -t 30 promote >/dev/null \
&& $bin/psql -q -h 127.0.0.1 -p $standby_port -U postgres -d postgres \
-c \"ALTER SYSTEM SET synchronous_standby_names = ''\" -c 'SELECT pg_reload_conf()' >/dev/null"
set +e
"$@"
status=$?
set -e
exit $status
