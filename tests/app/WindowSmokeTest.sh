#!/usr/bin/env bash
# Starts the built program under a real X server from a copy of its program folder: the main
# window appears with its versioned caption, and a second start ends at once while the first runs.
set -euo pipefail

program_dir=$1
work=$(mktemp -d)
app_pid=""
xvfb_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cp -r "$program_dir" "$work/program"
mkdir -p "$work/home" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

display=""
for n in $(seq 91 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=":$n"; break; fi
done
[ -n "$display" ] || { echo "no free X display number"; exit 1; }
# -noreset: a server that resets when the probe below disconnects would refuse the window.
Xvfb "$display" -noreset -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY="$display"
for _ in $(seq 1 100); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
xwininfo -root >/dev/null 2>&1 || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

"$work/program/clipFerry" >"$work/first.log" 2>&1 &
app_pid=$!

title=""
for _ in $(seq 1 200); do
  title=$(xwininfo -root -tree | grep -o '"[^"]* - v\.2\.100603"' | head -n 1 || true)
  [ -n "$title" ] && break
  kill -0 "$app_pid" 2>/dev/null || { echo "the program ended early"; cat "$work/first.log"; exit 1; }
  sleep 0.1
done
if [ -z "$title" ]; then
  echo "no window with a versioned caption appeared"; xwininfo -root -tree; cat "$work/first.log"; exit 1
fi
if [ "$title" = '" - v.2.100603"' ]; then echo "the caption from res.xml is missing: $title"; exit 1; fi
echo "window: $title"

# A second copy must end by itself, promptly, and leave the first one running.
if ! timeout 20 "$work/program/clipFerry" >"$work/second.log" 2>&1; then
  echo "the second start did not end by itself"; cat "$work/second.log"; exit 1
fi
kill -0 "$app_pid" 2>/dev/null || { echo "the first copy died"; exit 1; }
windows=$(xwininfo -root -tree | grep -c ' - v\.2\.100603"' || true)
echo "windows with the caption: $windows"
