#!/usr/bin/env bash
# Installs the built tree into a temporary prefix and uses it as a user would: the launchers start
# the installed programs, and a user who may not write the installed program folder gets the queue
# in their own data folder, while the folder's owner keeps it beside the program.
set -euo pipefail

build_dir=$1
work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

# Names with blanks, quotes and non-ASCII letters: they reach command lines through the program.
prefix="$work/pre fix"
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" || { cat "$work/install.log"; fail "cmake --install"; }
folder="$prefix/lib/clipferry"

# Every file of the built program folder is installed (files the program wrote there are not).
expected=$(cd "$build_dir/program" && find . \( -type f -o -type l \) \
  ! -name project.xml ! -name getfolder.xml ! -name log.txt ! -name tmpTest.bmp | sort)
installed=$(cd "$folder" && find . \( -type f -o -type l \) | sort)
[ "$expected" = "$installed" ] || { diff <(echo "$expected") <(echo "$installed") || true; fail "installed program folder differs from the built one"; }
for link in clipferry clipferry-cli; do
  [ -L "$prefix/bin/$link" ] || fail "no launcher bin/$link"
done
[ "$(readlink -f "$prefix/bin/clipferry")" = "$(readlink -f "$folder/clipFerry")" ] || fail "bin/clipferry does not start the program"
[ "$(readlink -f "$prefix/bin/clipferry-cli")" = "$(readlink -f "$folder/clipferry-cli")" ] || fail "bin/clipferry-cli does not start the command line"
desktop="$prefix/share/applications/clipferry.desktop"
desktop-file-validate "$desktop" || fail "the menu entry does not validate"
grep -qx 'Exec=clipferry' "$desktop" || fail "the menu entry does not start the launcher"
grep -q '<svg' "$prefix/share/icons/hicolor/scalable/apps/clipferry.svg" || fail "no icon"

# The reference server from the build, with its demo account and folders.
"$build_dir/program/kqserver" --listen 127.0.0.1:0 --data "$work/server" --init-demo >"$work/server.log" 2>&1 &
server_pid=$!
address=""
for _ in $(seq 1 100); do
  address=$(sed -n 's/^listening on \(127\.0\.0\.1:[0-9]*\).*/\1/p;T;q' "$work/server.log")
  [ -n "$address" ] && break
  sleep 0.1
done
[ -n "$address" ] || { cat "$work/server.log"; fail "kqserver did not start"; }

mkdir -p "$work/clips"
clip="$work/clips/it's \"\$(touch x)\" -a Vorlesung ä.mp4"
ffmpeg -nostdin -loglevel error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 \
  -f lavfi -i sine=duration=2 -pix_fmt yuv420p -c:v libx264 -preset ultrafast -c:a aac "$clip" \
  || fail "cannot make the clip"
chmod -R a+rX "$work"

# The command prefix that runs a launcher for one user whose home, data, settings and runtime
# folders are fresh; "other" may not write the installed program folder.
user_command() {
  local who=$1 home=$2
  mkdir -p "$home/data" "$home/config" "$home/runtime"
  chmod 700 "$home/runtime"
  command=(env HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config"
    XDG_RUNTIME_DIR="$home/runtime" QT_QPA_PLATFORM=offscreen)
  if [ "$who" = other ] && [ "$(id -u)" -eq 0 ]; then
    # Root may write anywhere: the other user is nobody.
    chown -R 65534:65534 "$home"
    command=(setpriv --reuid=65534 --regid=65534 --clear-groups "${command[@]}")
  fi
}
run_as() {
  local who=$1 home=$2; shift 2
  user_command "$who" "$home"
  timeout 60 "${command[@]}" "$@"
}
if [ "$(id -u)" -ne 0 ]; then chmod -R a-w "$folder"; fi

login=(--url "http://$address" --account demo --password demo --folder-id 2)

user="$work/user hömé"
output=$(run_as other "$user" "$prefix/bin/clipferry-cli" add "$clip" "${login[@]}" --title "Week 1" 2>&1) \
  || { echo "$output"; fail "the installed clipferry-cli add failed"; }
queue="$user/data/clipferry/program/project.xml"
[ -f "$queue" ] && [ ! -L "$queue" ] || { echo "$output"; fail "no queue in the user's data folder"; }
grep -q "Week 1" "$queue" || fail "the queue does not hold the job"
found=$(find "$prefix" -name project.xml)
[ -z "$found" ] || fail "a queue was written into the installation: $found"
[ ! -e "$work/clips/x" ] || fail "the clip's name ran a command"
output=$(run_as other "$user" "$prefix/bin/clipferry-cli" list 2>&1) || { echo "$output"; fail "list failed"; }
[[ "$output" == *"Week 1"*"$clip"* ]] || { echo "$output"; fail "list does not show the queued job"; }

# The window starts from its launcher too, and reads its texts through the user's folder.
viewer="$work/viewer"
user_command other "$viewer"
"${command[@]}" "$prefix/bin/clipferry" >"$work/window.log" 2>&1 &
window_pid=$!
for _ in $(seq 1 100); do
  [ -L "$viewer/data/clipferry/program/res.xml" ] && break
  sleep 0.1
done
sleep 1
alive=yes
kill -0 "$window_pid" 2>/dev/null || alive=no
kill "$window_pid" 2>/dev/null || true
wait "$window_pid" 2>/dev/null || true
[ -L "$viewer/data/clipferry/program/res.xml" ] || { cat "$work/window.log"; fail "the window did not prepare the user's folder"; }
[ "$alive" = yes ] || { cat "$work/window.log"; fail "the installed window ended at once"; }

# The owner of the installation may write there: the queue stays beside the program.
chmod -R u+w "$folder"
owner="$work/owner"
output=$(run_as owner "$owner" "$prefix/bin/clipferry-cli" add "$clip" "${login[@]}" --title "Week 2" 2>&1) \
  || { echo "$output"; fail "the owner's add failed"; }
grep -q "Week 2" "$folder/project.xml" || fail "the owner's queue is not in the program folder"
[ ! -e "$owner/data/clipferry/program" ] || fail "the owner got a stand-in folder"
grep -q "Week 2" "$queue" && fail "the owner's job reached the other user's queue"
echo "installed program: queues where expected"
