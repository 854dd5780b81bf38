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

kqserver=$program/kqserver
work=$(mktemp -d /tmp/wan-bench.XXXXXX)
# shellcheck source-path=SCRIPTDIR source=wan_lib.sh
source "$(dirname "$(realpath "$0")")/wan_lib.sh"
wan_setup

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

bytes=$(stat -c %s "$archive")
url=http://$server_ip:$port
echo "archive $bytes bytes; $runs runs per link; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-16s %-6s %s\n' link tool "seconds per run"
summary=
IFS=, read -ra link_list <<<"$links"
for link in "${link_list[@]}"; do
  rate=${link%/*}
  rtt=${link#*/}
  wan_start_line "$rate" "$rtt"
  wan_start_server "$work/data" --seed "$work/seed.xml"
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
  wan_stop_server
  wan_stop_line
  # Tail drops at the bottleneck tell a queue that is too short for the bursts.
  sed "s|^|$label: |" "$work/line.err" >&2
done
echo
echo "| link | curl, one post to /sink | bare_putfile, ratio to curl | mavo putfile, ratio to curl |"
echo "|---|---|---|---|"
printf '%s' "$summary"
