#!/usr/bin/env bash
# The real program as a desktop application on a virtual display with a tray: its menu opens
# from the tray icon, and a page's pairing request shows the dialog, whose Return allows it.
# Screenshots of both are left for people to look at. A second start hands over and ends.
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

for tool in Xvfb trayer xdotool import curl; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done

# Waits up to ten seconds for a command to succeed.
until_ok() {
  for _ in $(seq 100); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "never: $*" >&2
  return 1
}

# Xvfb picks a free display itself and names it when it is ready; without -noreset it resets
# whenever its last client leaves, and a client connecting then is refused.
Xvfb -displayfd 3 -noreset -screen 0 800x600x24 -nolisten tcp 3>"$work/display" &
pids+=($!)
until_ok test -s "$work/display"
export DISPLAY=:$(<"$work/display")
until_ok xdotool getmouselocation
trayer --edge top --align right --widthtype request --height 32 --transparent false --tint 0x303030 &
pids+=($!)
until_ok xdotool search --class trayer

export HOME=$work XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
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
until_ok xdotool search --class vorlane-trelk
icon=$(xdotool search --class vorlane-trelk | head -1)
read -r x y < <(xdotool getwindowgeometry --shell "$icon" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x+w/2, y+h/2}')
xdotool mousemove "$x" "$y" click 1
until_ok test "$(xdotool search --class vorlane-trelk | wc -l)" -gt 1
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
# A second start hands over to the running one and ends.
timeout 10 env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb "$program" || { echo "a second start did not hand over" >&2; exit 1; }
echo "menu and pairing dialog shown; screenshots in $screens"
