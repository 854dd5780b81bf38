# shellcheck shell=bash disable=SC2154
# Sourced by the WAN benches: two network namespaces joined by delay_line, kqserver on the server
# side, and the clean-up of both. The caller sets, before wan_setup:
#   delay_line  the delay_line program
#   kqserver    the kqserver program
#   work        a folder of its own that wan_cleanup removes
# and may set queue_ms (the bottleneck queue of delay_line, 0 for its default). The server listens
# on $server_ip:$port inside $ns_server; clients run in $ns_client.

ns_server=cfwan-s-$$
ns_client=cfwan-c-$$
server_ip=10.231.0.1
client_ip=10.231.0.2
port=8080
queue_ms=${queue_ms:-0}
line_pid=
server_pid=

# Ends PID with SIGTERM, and with SIGKILL when it is still there after five seconds (a server
# waiting on a request whose sender is gone, say).
wan_end() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

wan_stop_server() {
  [ -z "$server_pid" ] || wan_end "$server_pid"
  server_pid=
}

wan_stop_line() {
  [ -z "$line_pid" ] || wan_end "$line_pid"
  line_pid=
  ip -n "$ns_server" link del wan0 2>/dev/null || true
  ip -n "$ns_client" link del wan0 2>/dev/null || true
}

wan_cleanup() {
  # The clients first, while the link still carries their goodbyes to the server; one left
  # running would also keep its namespace.
  local pid
  for pid in $(ip netns pids "$ns_client" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  wan_stop_server
  wan_stop_line
  for pid in $(ip netns pids "$ns_server" 2>/dev/null); do kill "$pid" 2>/dev/null || true; done
  ip netns del "$ns_server" 2>/dev/null || true
  ip netns del "$ns_client" 2>/dev/null || true
  rm -rf "$work"
}

# Makes the namespaces and arranges for everything to go when the script ends, also on Ctrl+C.
wan_setup() {
  trap wan_cleanup EXIT
  trap 'exit 130' INT TERM
  ip netns add "$ns_server"
  ip netns add "$ns_client"
  ip -n "$ns_server" link set lo up
  ip -n "$ns_client" link set lo up
}

# Starts the delay line between the namespaces: RATE_MBIT (may have a fraction) and RTT_MS.
# Its drop counts go to $work/line.err when it stops.
wan_start_line() {
  local rate=$1 rtt=$2
  # A session of its own, like the server: Ctrl+C reaches the script and the clients only, and
  # the clean-up takes the link down after them.
  setsid "$delay_line" --ns-a "$ns_server" --dev-a wan0 --ns-b "$ns_client" --dev-b wan0 \
    --delay-us $((rtt * 1000 / 2)) --rate-mbit "$rate" \
    --queue-ms "$queue_ms" >"$work/line.out" 2>"$work/line.err" &
  line_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/line.out" 2>/dev/null && break; sleep 0.05; done
  grep -q ready "$work/line.out" || { cat "$work/line.err" >&2; exit 1; }
  ip -n "$ns_server" addr add "$server_ip" peer "$client_ip" dev wan0
  ip -n "$ns_client" addr add "$client_ip" peer "$server_ip" dev wan0
  ip -n "$ns_server" link set wan0 up
  ip -n "$ns_client" link set wan0 up
}

# Starts kqserver in the server namespace on a fresh data folder DATA; further arguments go to it
# (--seed FILE, --init-demo).
wan_start_server() {
  local data=$1
  shift
  rm -rf "$data"
  setsid ip netns exec "$ns_server" "$kqserver" --listen "$server_ip:$port" --data "$data" "$@" \
    >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  grep -q listening "$work/server.out" || { cat "$work/server.err" >&2; exit 1; }
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
