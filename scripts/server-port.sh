# Sourced by the server scripts. server_port prints a random port for a test server to listen
# on, below the range the kernel hands out as clients' own ports: a client socket that holds
# a port on 127.0.0.1 keeps a server from listening on it there (a server listening on every
# address would come up reachable on IPv6 only).
server_port() {
  local first
  first=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null || echo 32768)
  [ "$first" -gt 22000 ] || first=32768
  echo $((20000 + RANDOM % (first - 20000)))
}
