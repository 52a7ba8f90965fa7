#!/usr/bin/env bash
# The --formation half of with-postgres.sh: DIR (an empty folder the server user owns) and BIN
# (the server's programs), then COMMAND... Starts a pg_auto_failover formation on loopback (a
# monitor, a primary and a synchronous standby), runs COMMAND beside it, and removes it again.
# Every socket, state and configuration file stays inside DIR.
set -euo pipefail
. "$(dirname "$0")/server-port.sh"

dir=$1
bin=$2
shift 2

if ! command -v pg_autoctl >/dev/null; then
  echo "with-postgres: pg_autoctl is not installed (run scripts/setup-deps.sh)" >&2
  exit 1
fi

# Everything the nodes run sees the folder as its home for sockets, state and settings.
env_vars=(PATH="$bin:$PATH" PGHOST="$dir" PG_REGRESS_SOCK_DIR="$dir"
  XDG_CONFIG_HOME="$dir/config" XDG_DATA_HOME="$dir/share" XDG_RUNTIME_DIR="$dir/run")
as_server=(env "${env_vars[@]}")
[ "$(id -u)" -eq 0 ] && as_server=(runuser -u postgres -- env "${env_vars[@]}")
"${as_server[@]}" mkdir -p "$dir/config" "$dir/share" "$dir/run"

# Three ports, each free when chosen and none the same (server_port says which range).
chosen=()
free_port() {
  local port
  while :; do
    port=$(server_port)
    [[ " ${chosen[*]} " == *" $port "* ]] && continue
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
    chosen+=("$port")
    return
  done
}
free_port
free_port
free_port
monitor_port=${chosen[0]}
ports=("${chosen[1]}" "${chosen[2]}")

stop() {
  for pidfile in "$dir"/*.pgid; do
    [ -e "$pidfile" ] && kill -9 -- "-$(cat "$pidfile")" 2>/dev/null || true
  done
  sleep 0.2
  pkill -9 -f -- "$dir/" 2>/dev/null || true
  rm -rf "$dir"
}
trap stop EXIT
trap 'exit 130' INT TERM

# Starts a pg_auto_failover service (`pg_autoctl ARG...`) in a process group of its own, whose
# id goes to DIR/NAME.pgid: SIGKILL of that group is a crash of the whole node.
start_service() {
  local name=$1
  shift
  # Not a job of this shell, so that its end is not reported here.
  (
    setsid "${as_server[@]}" pg_autoctl "$@" >>"$dir/$name.log" 2>&1 &
    echo $! >"$dir/$name.pgid"
  )
}

psql_on() {  # PORT USER DB SQL
  "$bin/psql" -X -q -At -h 127.0.0.1 -p "$1" -U "$2" -d "$3" -c "$4"
}

wait_for() {  # SECONDS TEXT COMMAND...: until COMMAND succeeds
  local seconds=$1 text=$2 last=""
  shift 2
  for _ in $(seq 1 $((seconds * 5))); do
    last=$("$@" 2>&1 >/dev/null) && return 0
    sleep 0.2
  done
  echo "with-postgres: $text did not happen in $seconds s${last:+ (last: $last)}" >&2
  tail -n 20 "$dir"/*.log >&2 || true
  return 1
}

start_service monitor create monitor --pgdata "$dir/monitor" --pgport "$monitor_port" \
  --hostname 127.0.0.1 --auth trust --no-ssl --run
wait_for 60 "the monitor's start" psql_on "$monitor_port" autoctl_node pg_auto_failover "SELECT 1"
# Health checks every second and a quick verdict, so that a failover takes seconds, not a
# minute; a primary that lost its standby stops waiting for it after five seconds.
for setting in health_check_period=1000 health_check_timeout=1000 health_check_max_retries=1 \
  health_check_retry_delay=500 node_considered_unhealthy_timeout=2000 \
  primary_demote_timeout=5000 startup_grace_period=2000; do
  psql_on "$monitor_port" postgres pg_auto_failover \
    "ALTER SYSTEM SET pgautofailover.${setting%%=*} = ${setting#*=}" >/dev/null
done
psql_on "$monitor_port" postgres pg_auto_failover "SELECT pg_reload_conf()" >/dev/null
monitor_uri="postgres://autoctl_node@127.0.0.1:$monitor_port/pg_auto_failover?sslmode=disable"

state() {
  "${as_server[@]}" pg_autoctl show state --pgdata "$dir/monitor" 2>/dev/null
}
# The node (1 or 2) whose reported and assigned states are both "primary".
primary() {
  state | awk -F'|' '{gsub(/ /, "", $1); gsub(/ /, "", $6); gsub(/ /, "", $7)}
                     $6 == "primary" && $7 == "primary" {sub("node", "", $1); print $1}'
}
secondaries() {
  state | awk -F'|' '{gsub(/ /, "", $6); gsub(/ /, "", $7)} $6 == "secondary" && $7 == "secondary"' |
    wc -l
}
has_secondary() { [ "$(secondaries)" -ge 1 ]; }
has_primary() { [ -n "$(primary)" ]; }

for n in 1 2; do
  start_service "node$n" create postgres --pgdata "$dir/node$n" --pgport "${ports[$((n - 1))]}" \
    --hostname 127.0.0.1 --listen 127.0.0.1 --name "node$n" --monitor "$monitor_uri" \
    --auth trust --no-ssl --dbname tgen --run
  if [ "$n" -eq 1 ]; then
    wait_for 60 "the first node's start" \
      psql_on "${ports[0]}" postgres tgen "SELECT 1"
  fi
done
# The standby's base backup waits for a checkpoint, which the primary spreads over minutes
# unless asked for one now.
for _ in $(seq 1 300); do
  has_secondary && break
  psql_on "${ports[0]}" postgres postgres "CHECKPOINT" >/dev/null 2>&1 || true
  sleep 0.5
done
wait_for 60 "the standby's start" has_secondary
# The keepers decide that they are cut off before the monitor demotes them, so that two
# primaries never take writes at once.
for n in 1 2; do
  "${as_server[@]}" pg_autoctl config set --pgdata "$dir/node$n" \
    timeout.network_partition_timeout 3 >/dev/null
done

# The commands COMMAND gets, as small scripts.
cat >"$dir/failover" <<SCRIPT
#!/usr/bin/env bash
set -e
$(declare -f state primary wait_for psql_on)
$(declare -p as_server dir bin)
before=\$(primary)
"\${as_server[@]}" pg_autoctl perform failover --pgdata "$dir/monitor" >>"$dir/failover.log" 2>&1
promoted() { p=\$(primary); [ -n "\$p" ] && [ "\$p" != "\$before" ]; }
wait_for 60 "the failover" promoted
SCRIPT
cat >"$dir/crash" <<SCRIPT
#!/usr/bin/env bash
set -e
$(declare -f state primary)
$(declare -p as_server dir)
p=\$(primary)
[ -n "\$p" ] || { echo "with-postgres: no primary to crash" >&2; exit 1; }
kill -9 -- "-\$(cat "$dir/node\$p.pgid")"
echo "\$p" >"$dir/crashed"
SCRIPT
cat >"$dir/rejoin" <<SCRIPT
#!/usr/bin/env bash
set -e
$(declare -f state primary secondaries has_secondary wait_for psql_on start_service)
$(declare -p as_server dir bin ports)
n=\$(cat "$dir/crashed")
pkill -9 -f -- "$dir/node\$n" || true
start_service "node\$n" run --pgdata "$dir/node\$n"
for _ in \$(seq 1 300); do
  has_secondary && exit 0
  p=\$(primary)
  [ -n "\$p" ] && psql_on "\${ports[\$((p - 1))]}" postgres postgres "CHECKPOINT" >/dev/null 2>&1 || true
  sleep 0.5
done
wait_for 10 "the crashed node's return" has_secondary
SCRIPT
cat >"$dir/quorum" <<SCRIPT
#!/usr/bin/env bash
# true: the standby confirms every commit (synchronous); false: it follows on its own time.
# Returns once every node has the setting and the primary works by it: with true, a primary
# and a secondary whose synchronous_standby_names names the standby.
set -e
$(declare -f state primary secondaries has_secondary psql_on wait_for)
$(declare -p as_server dir bin ports monitor_port)
quorum() {  # NODE: its replication quorum as the monitor has it
  psql_on "\$monitor_port" postgres pg_auto_failover \
    "SELECT replicationquorum FROM pgautofailover.node WHERE nodename = 'node\$1'"
}
want=f
[ "\$1" = true ] && want=t
for n in 1 2; do
  # The monitor may refuse a change while it changes something else (a deadlock under load):
  # tried again until it holds.
  for _ in \$(seq 1 30); do
    [ "\$(quorum "\$n")" = "\$want" ] && break
    "\${as_server[@]}" pg_autoctl set node replication-quorum "\$1" --pgdata "$dir/node\$n" \
      >>"$dir/quorum.log" 2>&1 || sleep 1
  done
done
set_everywhere() { [ "\$(quorum 1)\$(quorum 2)" = "\$want\$want" ]; }
wait_for 30 "the change of every node's quorum" set_everywhere
applied() {
  p=\$(primary)
  [ -n "\$p" ] || return 1
  names=\$(psql_on "\${ports[\$((p - 1))]}" postgres postgres "SHOW synchronous_standby_names")
  if [ "\$want" = t ]; then has_secondary && [ -n "\$names" ]; else [ -z "\$names" ]; fi
}
wait_for 60 "the primary's work by the standby's quorum" applied
SCRIPT
cat >"$dir/state" <<SCRIPT
#!/usr/bin/env bash
$(declare -p as_server)
"\${as_server[@]}" pg_autoctl show state --pgdata "$dir/monitor"
SCRIPT
chmod +x "$dir/failover" "$dir/crash" "$dir/rejoin" "$dir/quorum" "$dir/state"

export TGEN_PG_URI="postgresql://postgres@127.0.0.1:${ports[0]},127.0.0.1:${ports[1]}/tgen?target_session_attrs=read-write"
export TGEN_PG_FAILOVER="$dir/failover"
export TGEN_PG_CRASH="$dir/crash"
export TGEN_PG_REJOIN="$dir/rejoin"
export TGEN_PG_STATE="$dir/state"
export TGEN_PG_QUORUM="$dir/quorum"
set +e
"$@"
status=$?
set -e
if [ "$status" -ne 0 ]; then
  # What the monitor decided, and when: the states a failing test met.
  echo "with-postgres: the formation's last events:" >&2
  "${as_server[@]}" pg_autoctl show events --pgdata "$dir/monitor" --count 80 >&2 || true
fi
exit $status
