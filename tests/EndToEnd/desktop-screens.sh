#!/usr/bin/env bash
# The real program as a desktop application on a virtual display with a tray: its menu opens
# from the tray icon, and a page's pairing request shows the dialog, whose Return allows it.
# A second start hands over: the running one opens its window, shown with a small library, a
# set, a package, a job at work and a project's two walls. Screenshots are left for people to
# look at.
# usage: desktop-screens.sh PROGRAM SCREENSHOT-FOLDER
set -euo pipefail
program=$1
screens=$2
work=$(mktemp -d)
pids=()
# The program first, the display last.
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT

for tool in Xvfb trayer xdotool import curl ffmpeg jq; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done

# Waits up to thirty seconds for a command to succeed: a loaded machine makes slowly.
until_ok() {
  for _ in $(seq 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "never: $*" >&2
  return 1
}

# Xvfb picks a free display itself and names it when it is ready; without -noreset it resets
# whenever its last client leaves, and a client connecting then is refused.
Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" &
pids+=($!)
until_ok test -s "$work/display"
export DISPLAY=:$(<"$work/display")
until_ok xdotool getmouselocation

export HOME=$work XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DBUS_SESSION_BUS_ADDRESS # no tray of that kind either

# Before there is a tray: the window opens at launch, and the program says why.
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" 2>"$work/no-tray.txt" &
pids+=($!)
until_ok xdotool search --onlyvisible --name '^vorlane Trelk$'
grep -q "shows no tray" "$work/no-tray.txt" || { echo "no word of the missing tray" >&2; exit 1; }
kill "${pids[-1]}"
wait "${pids[-1]}" || true

trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x303030 &
pids+=($!)
until_ok xdotool search --class trayer
# The library before the start: a video, a still and a package.
library="$HOME/Movies/vorlane Library"
mkdir -p "$library"
media() { ffmpeg -v error -f lavfi -i "testsrc2=s=$1:r=25:d=$2" -c:v libx264 -preset ultrafast -pix_fmt yuv420p "${@:3}"; }
media 640x360 2 "$library/harbour dawn.mp4"
ffmpeg -v error -f lavfi -i testsrc2=s=1280x720 -frames:v 1 "$library/opening title.png"
media 7680x1080 0.2 "$work/skyline.mov"
"$program" make "$work/skyline.mov" --into "$library/skyline" >/dev/null
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" &
pids+=($!)
port=
found_port() {
  for candidate in 47615 47616 47617; do
    curl -sf "http://127.0.0.1:$candidate/trelk/hello" >/dev/null && port=$candidate && return 0
  done
  return 1
}
until_ok found_port
found_port

# The tray icon is the program's one window, embedded in the tray: a click on it opens the menu.
until_ok xdotool search --classname vorlane-trelk
icon=$(xdotool search --classname vorlane-trelk | head -1)
read -r x y < <(xdotool getwindowgeometry --shell "$icon" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x+w/2, y+h/2}')
xdotool mousemove "$x" "$y" click 1
until_ok test "$(xdotool search --classname vorlane-trelk | wc -l)" -gt 1
sleep 0.5
import -window root "$screens/desktop-menu.png"
xdotool key Escape

answer=$(curl -sf -X POST -H 'Origin: http://localhost:5173' "http://127.0.0.1:$port/trelk/pair")
id=$(sed -E 's/.*"id":"([^"]+)".*/\1/' <<<"$answer")
until_ok xdotool search --onlyvisible --name '^vorlane Trelk$'
dialog=$(xdotool search --onlyvisible --name '^vorlane Trelk$' | tail -1)
sleep 1
import -window root "$screens/desktop-pairing.png"
# No window manager here: the keyboard goes to the dialog by focus, not by activation.
xdotool windowfocus --sync "$dialog" key Return
state=
for _ in $(seq 50); do
  state=$(curl -sf -H 'Origin: http://localhost:5173' "http://127.0.0.1:$port/trelk/pair/$id" || true)
  [[ $state == *allowed* ]] && break
  sleep 0.1
done
[[ $state == *allowed* ]] || { echo "the dialog's Return did not allow: $state" >&2; exit 1; }
token=$(sed -E 's/.*"token":"([^"]+)".*/\1/' <<<"$state")
# usage: trelk PATH [CURL OPTION...]: as the paired page asks, with its token added to the query
trelk() {
  local path=$1 join='?'
  shift
  [[ $path == *\?* ]] && join='&'
  curl -sS --fail-with-body -H "Origin: http://localhost:5173" "$@" "http://127.0.0.1:$port/trelk/$path${join}t=$token"
}

# The page sends a set of two parts, then a master long enough to be at work for the screenshot.
media 1280x720 1 "$work/finale left.mp4"
media 1280x720 1 "$work/finale right.mp4"
# Not H.264, so that it is made, not taken as it is.
ffmpeg -v error -f lavfi -i testsrc2=s=1920x1080:r=25:d=20 -c:v mpeg4 -q:v 8 "$work/concert.mov"
for side in left right; do
  trelk "upload?name=finale%20$side.mp4&set=finale&of=2" --data-binary "@$work/finale $side.mp4" >/dev/null
done
listed() { trelk library | grep -q "$1"; }
until_ok listed '"finale'
video=$(trelk library | jq -r '.. | objects | select(.name? == "harbour dawn.mp4") | .id')
walls='"walls":[{"id":"w1","name":"Left wing","w":1920,"h":1080,"fps":"25"},{"id":"w2","name":"Main","w":3840,"h":1080,"fps":"50"}]'
items="{\"id\":\"i1\",\"name\":\"harbour dawn.mp4\",\"lib\":\"$video\"},{\"id\":\"i2\",\"name\":\"old intro.mp4\",\"lib\":\"gone\"},{\"id\":\"i3\",\"name\":\"countdown.mp4\"}"
trelk project --data-binary "{\"id\":\"p1\",\"name\":\"Spring gala\",$walls,\"list\":{\"wall\":\"w1\",\"at\":1,\"items\":[$items]}}" >/dev/null
trelk "upload?name=concert.mov" --data-binary "@$work/concert.mov" >/dev/null

# A second start hands over to the running one, which opens its window, and ends.
timeout 10 env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" || { echo "a second start did not hand over" >&2; exit 1; }
until_ok xdotool search --onlyvisible --name '^vorlane Trelk$'
sleep 1
import -window root "$screens/manager-window.png"
echo "menu, pairing dialog and window shown; screenshots in $screens"
