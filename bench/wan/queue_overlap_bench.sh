#!/bin/bash
# The queue of three videos across an emulated wide-area link, run once converting each video
# only after the previous upload (--no-overlap) and once converting the next video while one
# uploads (--overlap). It prints the wall time of each run and, per job, the time spent
# converting and uploading, taken from `clipferry-cli run --json` events stamped as they arrive.
# Run by hand as root (see README.md); it touches nothing outside the namespaces and the
# temporary folder it makes.
#
#   queue_overlap_bench.sh [--build DIR] [--program DIR] [--runs N] [--rate MBIT] [--rtt MS]
#                          [--size WxH] [--queue-ms N] [--keep-events DIR]
#
# Without --rate, one video is converted and uploaded first on a fast link, and the rate is
# chosen so that one archive takes as long to send as one video takes to convert.
set -euo pipefail

build=build
program=
runs=1
rate=
rtt=20
size=640x360
queue_ms=0
keep_events=
usage() {
  echo "usage: $0 [--build DIR] [--program DIR] [--runs N] [--rate MBIT] [--rtt MS]" \
    "[--size WxH] [--queue-ms N] [--keep-events DIR]" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  [ $# -ge 2 ] || usage
  case "$1" in
    --build) build=$2 ;;
    --program) program=$2 ;;
    --runs) runs=$2 ;;
    --rate) rate=$2 ;;
    --rtt) rtt=$2 ;;
    --size) size=$2 ;;
    --queue-ms) queue_ms=$2 ;;
    --keep-events) keep_events=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[ -n "$program" ] || program=$build/program
build=$(realpath "$build")
program=$(realpath "$program")
[ -z "$keep_events" ] || keep_events=$(realpath "$keep_events")
here=$(dirname "$(realpath "$0")")
delay_line=$build/bench/wan/delay_line
kqserver=$program/kqserver
cli=$program/clipferry-cli
for tool in "$delay_line" "$kqserver" "$cli" "$program/ffmpeg"; do
  [ -x "$tool" ] || { echo "missing $tool (build delay_line and program_folder)" >&2; exit 2; }
done
[ "$(id -u)" = 0 ] || { echo "run as root: it makes network namespaces" >&2; exit 2; }
for tool in ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

work=$(mktemp -d /tmp/overlap-bench.XXXXXX)
# shellcheck source-path=SCRIPTDIR source=wan_lib.sh
source "$here/wan_lib.sh"
wan_setup
export CLIPFERRY_PASSWORD=demo

# Three one-minute clips that the server's "no conversion for MP4" never spares: Matroska with
# H.264 and PCM sound, the names with a blank.
mkdir "$work/clips"
clips=()
for i in 1 2 3; do
  clip="$work/clips/lecture $i.mkv"
  ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=25:duration=60" \
    -f lavfi -i "sine=frequency=$((220 * i)):duration=60" \
    -c:v libx264 -preset ultrafast -g 50 -c:a pcm_s16le "$clip"
  clips+=("$clip")
done

# A program state of its own: home, settings, kept work and a program folder of links to the
# built one, so that the queue file, the log and the kept conversions of one run never reach
# the next.
new_state() {
  local state=$1 name
  mkdir -p "$state/home" "$state/config" "$state/data" "$state/runtime" "$state/program"
  chmod 700 "$state/runtime"
  for name in "$program"/*; do
    case "${name##*/}" in project.xml | getfolder.xml | log.txt) continue ;; esac
    ln -s "$name" "$state/program/"
  done
}

# Runs clipferry-cli in the client namespace with the program state STATE.
cli_in() {
  local state=$1
  shift
  ip netns exec "$ns_client" env LC_ALL=C.UTF-8 HOME="$state/home" XDG_CONFIG_HOME="$state/config" \
    XDG_DATA_HOME="$state/data" XDG_RUNTIME_DIR="$state/runtime" \
    "$cli" --program-folder "$state/program" "$@"
}

# Queues CLIPS... in a fresh state STATE and runs the queue with MODE (overlap or no-overlap).
# Every event line goes to STATE/events with the time it arrived; STATE/wall gets the seconds
# of the run.
run_queue() {
  local state=$1 mode=$2 clip start end
  shift 2
  new_state "$state"
  for clip in "$@"; do
    cli_in "$state" add "$clip" --url "$server_ip:$port" --account demo --folder-id "$folder" \
      --conversion local >>"$state/add.out" 2>&1 ||
      { echo "add failed: $(cat "$state/add.out")" >&2; exit 1; }
  done
  start=$EPOCHREALTIME
  # The stamps come from the shell's clock as each line is read: the program flushes every line.
  # In the background, so that Ctrl+C ends the wait at once and the clean-up runs.
  {
    cli_in "$state" run --"$mode" --json 2>"$state/run.err" |
      while IFS= read -r line; do printf '%s\t%s\n' "$EPOCHREALTIME" "$line"; done
  } >"$state/events" &
  wait $! || true
  end=$EPOCHREALTIME
  echo "$start" >"$state/start"
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }' >"$state/wall"
  if ! grep -q "\"event\":\"done\".*\"finished\":$#[,}]" "$state/events"; then
    echo "run --$mode failed:" >&2
    tail -n 20 "$state/events" "$state/run.err" >&2
    exit 1
  fi
  [ -z "$keep_events" ] || { mkdir -p "$keep_events" && cp "$state/events" \
    "$keep_events/${state##*/}.events"; }
}

# The per-job times of one run: "CONVERT_S UPLOAD_S ARCHIVE_BYTES" and the moments (see
# queue_events.py), a line per job.
job_times() { python3 "$here/queue_events.py" "$1/events" "$1/start" "$program/res.xml"; }

# The account's first folder that takes uploads.
wan_start_line 1000 "$rtt"
wan_start_server "$work/data" --init-demo
new_state "$work/folders"
folder=$(cli_in "$work/folders" folders --url "$server_ip:$port" --account demo --json |
  python3 -c 'import json, sys
for line in sys.stdin:
    f = json.loads(line)
    if f.get("uploadable"):
        print(f["id"])
        break')
[ -n "$folder" ] || { echo "the demo account has no folder that takes uploads" >&2; exit 1; }

if [ -z "$rate" ]; then
  # One video alone on a fast link: its conversion time and its archive's size set the rate.
  run_queue "$work/calibrate" no-overlap "${clips[0]}"
  read -r conv_s _ bytes _ < <(job_times "$work/calibrate")
  rate=$(awk -v b="$bytes" -v s="$conv_s" 'BEGIN { printf "%.2f", b * 8 / 1e6 / s }')
  echo "calibration: converting took $conv_s s, the archive has $bytes bytes: $rate Mbit/s"
fi
wan_stop_server
wan_stop_line
wan_start_line "$rate" "$rtt"
wan_start_server "$work/data" --init-demo

echo "clips $size, 60 s each; link $rate Mbit/s, $rtt ms; $runs runs per mode;" \
  "load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %-3s %-8s %-8s %-8s %-9s %s\n' mode run wall conv_sum up_sum overlap \
  "per job: converting and uploading, seconds from the start of the run"
declare -A walls convs ups
for mode in no-overlap overlap; do
  for i in $(seq "$runs"); do
    state=$work/$mode-$i
    run_queue "$state" "$mode" "${clips[@]}"
    job_times "$state" >"$state/jobs"
    # "overlap" is the time a conversion ran while the job before it uploaded.
    read -r conv_sum up_sum overlap jobs < <(awk '{
        c += $1; u += $2
        if (NR > 1) { b = $4 > ue ? $4 : ue; e = $5 < ee ? $5 : ee; if (e > b) o += e - b }
        ue = $6; ee = $7
        j = j sprintf(" [%.1f-%.1f|%.1f-%.1f]", $4, $5, $6, $7)
      } END { printf "%.3f %.3f %.3f%s\n", c, u, o, j }' "$state/jobs")
    printf '%-10s %-3s %-8s %-8s %-8s %-9s %s\n' "$mode" "$i" "$(cat "$state/wall")" "$conv_sum" \
      "$up_sum" "$overlap" "$jobs"
    walls[$mode]+=" $(cat "$state/wall")"
    convs[$mode]+=" $conv_sum"
    ups[$mode]+=" $up_sum"
    rm -rf "$state"
  done
done
wan_stop_server
wan_stop_line
sed 's|^|delay_line: |' "$work/line.err" >&2

# Medians. The sums that the totals are held against come from the runs without overlap, where
# each conversion has the processor and each upload the link to itself. The last column gives
# the sums of the runs with overlap, where the two share the machine, and the total against them.
tn=$(median <<<"${walls[no-overlap]}")
to=$(median <<<"${walls[overlap]}")
cs=$(median <<<"${convs[no-overlap]}")
us=$(median <<<"${ups[no-overlap]}")
co=$(median <<<"${convs[overlap]}")
uo=$(median <<<"${ups[overlap]}")
echo
echo "| without overlap | with overlap | conversions | uploads | larger sum | without / larger |" \
  "with / larger | with overlap: conversions, uploads, with / larger |"
echo "|---|---|---|---|---|---|---|---|"
awk -v tn="$tn" -v to="$to" -v cs="$cs" -v us="$us" -v co="$co" -v uo="$uo" 'BEGIN {
  m = cs > us ? cs : us
  mo = co > uo ? co : uo
  printf "| %.1f s | %.1f s | %.1f s | %.1f s | %.1f s | %.2f | %.2f | %.1f s, %.1f s, %.2f |\n",
    tn, to, cs, us, m, tn / m, to / m, co, uo, to / mo }'
