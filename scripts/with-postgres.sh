#!/usr/bin/env bash
# Runs COMMAND... with a throw-away PostgreSQL server: a new cluster in a temporary folder,
# listening on 127.0.0.1 and a free port only, removed again afterwards (also when COMMAND
# fails or is interrupted). COMMAND sees:
#   TGEN_PG_URI      connection string of an empty database "tgen"
#   TGEN_PG_RESTART  a command that restarts the server (for tests of lost connections)
# The cluster stores bytes as they are (SQL_ASCII), so Windows-1251 keys survive.
#
# With --formation, a pg_auto_failover formation on loopback instead: a monitor, a primary and
# its synchronous standby, with health checks and time-outs tuned so that a failover takes
# seconds. COMMAND then sees:
#   TGEN_PG_URI       both nodes, with target_session_attrs=read-write (the primary, whichever)
#   TGEN_PG_FAILOVER  a command for a planned failover; returns once the other node is primary
#   TGEN_PG_CRASH     a command that SIGKILLs the primary node (its keeper and its server)
#   TGEN_PG_REJOIN    a command that restarts a crashed node and waits until it is a standby
#   TGEN_PG_STATE     a command that shows the formation's state
#   TGEN_PG_QUORUM    true|false: the standby confirms every commit (synchronous, the start),
#                     or replicates in its own time (asynchronous)
#
# With --pair, a primary and its synchronous standby made with pg_basebackup, for a failover
# done by hand (scripts/pg-pair.sh says what COMMAND sees).
set -euo pipefail
. "$(dirname "$0")/server-port.sh"

formation=""
pair=""
if [ "${1:-}" = "--formation" ]; then
  formation=yes
  shift
elif [ "${1:-}" = "--pair" ]; then
  pair=yes
  shift
fi
if [ $# -eq 0 ]; then
  echo "usage: $0 [--formation|--pair] COMMAND [ARG...]" >&2
  exit 2
fi

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "with-postgres: no PostgreSQL server installed (run scripts/setup-deps.sh)" >&2
  exit 1
fi

dir=$(mktemp -d "${TMPDIR:-/tmp}/tgen-pg.XXXXXX")
# The server refuses to run as root: as root, run it as the postgres user.
as_server=()
if [ "$(id -u)" -eq 0 ]; then
  chown postgres: "$dir"
  as_server=(runuser -u postgres --)
fi

if [ -n "$formation" ]; then
  exec "$(dirname "$0")/pg-formation.sh" "$dir" "$bin" "$@"
fi
if [ -n "$pair" ]; then
  exec "$(dirname "$0")/pg-pair.sh" "$dir" "$bin" "$@"
fi

stop() {
  "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1 || true
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

"${as_server[@]}" "$bin/initdb" -D "$dir/data" -E SQL_ASCII --locale=C -A trust -U postgres \
  >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; exit 1; }

# A free port: one that nothing answers on, tried until the server starts on it.
started=""
for _ in $(seq 1 20); do
  port=$(server_port)
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
  opts="-c listen_addresses=127.0.0.1 -p $port -k $dir -c fsync=on -c max_connections=200"
  if "${as_server[@]}" "$bin/pg_ctl" -D "$dir/data" -o "$opts" -l "$dir/server.log" -w -t 30 \
    start >/dev/null 2>&1; then
    started=yes
    break
  fi
done
if [ -z "$started" ]; then
  echo "with-postgres: the server did not start:" >&2
  cat "$dir/server.log" >&2 || true
  exit 1
fi

"$bin/psql" -q -h 127.0.0.1 -p "$port" -U postgres -d postgres -c 'CREATE DATABASE tgen' >/dev/null

export TGEN_PG_URI="postgresql://postgres@127.0.0.1:$port/tgen"
export TGEN_PG_RESTART="${as_server[*]} $bin/pg_ctl -D $dir/data -l $dir/server.log -m fast -w -t 30 restart"
set +e
"$@"
status=$?
set -e
exit $status
