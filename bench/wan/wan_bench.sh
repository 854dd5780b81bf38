#!/bin/bash
# Uploads across an emulated wide-area link: kqserver in one network namespace, the clients in
# another, joined by delay_line. For each link it times curl posting the archive once to /sink
# (the reference), bare_putfile and `mavo putfile`, and prints the medians and the ratios to
# curl. Run by hand as root (see README.md); it touches nothing outside the namespaces it makes.
#
#   wan_bench.sh [--build DIR] [--program DIR] [--runs N] [--size MIB] [--links LIST]
#                [--queue-ms N]
#
# --program points at a program folder (kqserver, mavo, libkqmavo2.so); default BUILD/program.
# --links is a comma-separated list of RATE_MBIT/RTT_MS, default 100/20,20/50,1000/1.
set -euo pipefail

build=build
program=
runs=3
size_mib=64
links=100/20,20/50,1000/1
queue_ms=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --program) program=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --size) size_mib=$2; shift 2 ;;
    --links) links=$2; shift 2 ;;
    --queue-ms) queue_ms=$2; shift 2 ;;
    *) echo "usage: $0 [--build DIR] [--program DIR] [--runs N] [--size MIB] [--links LIST]" \
         "[--queue-ms N]" >&2
       exit 2 ;;
  esac
done
[ -n "$program" ] || program=$build/program
build=$(realpath "$build")
program=$(realpath "$program")
delay_line=$build/bench/wan/delay_line
bare=$build/bench/upload/bare_putfile
for tool in "$delay_line" "$bare" "$program/kqserver" "$program/mavo"; do
  [ -x "$tool" ] || { echo "missing $tool (build delay_line bare_putfile kqserver mavo)" >&2; exit 2; }
done
[ "$(id -u)" = 0 ] || { echo "run as root: it makes network namespaces" >&2; exit 2; }
if ! command -v curl >/dev/null || ! command -v zip >/dev/null; then
  echo "needs curl and zip" >&2
  exit 2
fi

ns_server=cfwan-s-$$
ns_client=cfwan-c-$$
server_ip=10.231.0.1
client_ip=10.231.0.2
port=8080
work=$(mktemp -d /tmp/wan-bench.XXXXXX)
line_pid=
server_pid=

stop_link() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null || true
  server_pid=
  [ -n "$line_pid" ] && kill "$line_pid" 2>/dev/null && wait "$line_pid" 2>/dev/null || true
  line_pid=
}
cleanup() {
  stop_link
  ip netns del "$ns_server" 2>/dev/null || true
  ip netns del "$ns_client" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

ip netns add "$ns_server"
ip netns add "$ns_client"
ip -n "$ns_server" link set lo up
ip -n "$ns_client" link set lo up

# A stored zip of random bytes, like the upload packages, and an account whose one content
# every upload replaces.
head -c $((size_mib * 1024 * 1024)) /dev/urandom >"$work/payload.bin"
(cd "$work" && zip -0 -q archive.zip payload.bin && rm payload.bin)
archive=$work/archive.zip
cat >"$work/seed.xml" <<'SEED'
<kqserver><account name="bench" password="bench" digest="0">
<folder id="2" pid="0" name="Bench" uploadable="1"/>
<content id="500" folder="2" overwrite="1" size="0"/>
</account></kqserver>
SEED
mkdir -p "$work/home"

start_link() {  # RATE_MBIT RTT_MS
  local rate=$1 rtt=$2
  "$delay_line" --ns-a "$ns_server" --dev-a wan0 --ns-b "$ns_client" --dev-b wan0 \
    --delay-us $((rtt * 1000 / 2)) --rate-mbit "$rate" \
    --queue-ms "$queue_ms" >"$work/line.out" 2>"$work/line.err" &
  line_pid=$!
  for _ in $(seq 100); do grep -q ready "$work/line.out" 2>/dev/null && break; sleep 0.05; done
  grep -q ready "$work/line.out" || { cat "$work/line.err" >&2; exit 1; }
  ip -n "$ns_server" addr add "$server_ip" peer "$client_ip" dev wan0
  ip -n "$ns_client" addr add "$client_ip" peer "$server_ip" dev wan0
  ip -n "$ns_server" link set wan0 up
  ip -n "$ns_client" link set wan0 up
  rm -rf "$work/data"
  ip netns exec "$ns_server" "$program/kqserver" --listen "$server_ip:$port" --data "$work/data" \
    --seed "$work/seed.xml" >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 100); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.05; done
  grep -q listening "$work/server.out" || { cat "$work/server.err" >&2; exit 1; }
}

# Runs a command in the client namespace; prints its wall time in seconds, fails when it did.
timed() {
  local start end
  start=$(date +%s%N)
  ip netns exec "$ns_client" env HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work" "$@" >"$work/out" 2>&1 ||
    { echo "failed: $* : $(tail -c 400 "$work/out")" >&2; return 1; }
  end=$(date +%s%N)
  awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END {
  if (NR % 2) printf "%.3f", v[(NR + 1) / 2]; else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

bytes=$(stat -c %s "$archive")
url=http://$server_ip:$port
echo "archive $bytes bytes; $runs runs per link; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-16s %-6s %s\n' link tool "seconds per run"
summary=
IFS=, read -ra link_list <<<"$links"
for link in "${link_list[@]}"; do
  rate=${link%/*}
  rtt=${link#*/}
  start_link "$rate" "$rtt"
  curl_times='' bare_times='' mavo_times=''
  for _ in $(seq "$runs"); do
    # No "Expect: 100-continue": curl would wait for an interim answer the server never sends.
    curl_times+=" $(timed curl -sS -f -o /dev/null -H 'Expect:' -X POST -T "$archive" "$url/sink")"
    bare_times+=" $(timed "$bare" "$server_ip:$port" bench bench 2 500 "$archive")"
    mavo_times+=" $(timed "$program/mavo" putfile "$url/mavo/putFile/" bench bench 2 500 "$archive")"
    grep -q '<contentID>500</contentID>' "$work/out" || { echo "mavo: $(cat "$work/out")" >&2; exit 1; }
  done
  label="${rate} Mbit/s ${rtt} ms"
  printf '%-16s %-6s %s\n' "$label" curl "$curl_times" "$label" bare "$bare_times" \
    "$label" mavo "$mavo_times"
  c=$(median <<<"$curl_times")
  b=$(median <<<"$bare_times")
  m=$(median <<<"$mavo_times")
  summary+=$(awk -v l="$label" -v c="$c" -v b="$b" -v m="$m" -v n="$bytes" 'BEGIN {
    r = n * 8 / 1e6
    printf "| %s | %.2f s, %.1f Mbit/s | %.2f s, %.1f Mbit/s, %.2f | %.2f s, %.1f Mbit/s, %.2f |\n",
      l, c, r / c, b, r / b, c / b, m, r / m, c / m }')$'\n'
  stop_link
  # Tail drops at the bottleneck tell a queue that is too short for the bursts.
  sed "s|^|$label: |" "$work/line.err" >&2
  ip -n "$ns_server" link del wan0 2>/dev/null || true
  ip -n "$ns_client" link del wan0 2>/dev/null || true
done
echo
echo "| link | curl, one post to /sink | bare_putfile, ratio to curl | mavo putfile, ratio to curl |"
echo "|---|---|---|---|"
printf '%s' "$summary"
