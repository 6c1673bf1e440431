#!/usr/bin/env bash
# The real program in a Wayland session with no tray (a headless compositor), not through
# XWayland: it says there is no tray and opens its window at launch; a panel that comes later gets
# the icon; a second start hands over its activation token and ends. Screenshots are left for
# people to look at.
# usage: wayland-road.sh PROGRAM SCREENSHOT-FOLDER
set -euo pipefail
program=$(realpath "$1") screens=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
pids=()
stop_all() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null || true
    wait "${pids[i]}" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap stop_all EXIT

for tool in weston weston-screenshooter dbus-daemon compare curl; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1 || { echo "no qt6-wayland: skipped"; exit 77; }

until_ok() {
  for _ in $(seq 300); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  echo "never: $*" >&2
  return 1
}

export HOME=$work XDG_RUNTIME_DIR=$work/run XDG_SESSION_TYPE=wayland WAYLAND_DISPLAY=wayland-trelk
mkdir -m 700 "$XDG_RUNTIME_DIR"
unset DISPLAY QT_QPA_PLATFORM # no X server to fall back on
# --debug lets the screenshooter in.
weston --backend=headless-backend.so --use-pixman --socket=$WAYLAND_DISPLAY --width=1280 --height=800 \
  --idle-time=0 --debug >"$work/weston.log" 2>&1 &
pids+=($!)
until_ok test -S "$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY"
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" &
pids+=($!)
until_ok test -s "$work/bus"
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus")

# usage: screenshot NAME: the compositor's whole output, into the work folder
screenshot() {
  rm -f "$work"/wayland-screenshot-*.png
  (cd "$work" && weston-screenshooter >/dev/null 2>&1) && mv "$work"/wayland-screenshot-*.png "$work/$1.png"
}
sleep 1 # the shell's panel drawn
screenshot empty
"$program" 2>"$work/program.txt" &
pids+=($!)
served() {
  for port in 47615 47616 47617; do curl -sf "http://127.0.0.1:$port/trelk/hello" && return 0; done
  return 1
}
until_ok served
until_ok grep -q "shows no tray" "$work/program.txt"
# The window differs from the empty desktop over far more than the clock.
window_shown() {
  screenshot window
  (($(compare -metric AE -fuzz 10% "$work/empty.png" "$work/window.png" null: 2>&1 | cut -d' ' -f1) > 100000))
}
until_ok window_shown || { echo "no window on the Wayland desktop" >&2; exit 1; }
cp "$work/window.png" "$screens/wayland-window.png"

/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null && {
  /usr/bin/python3 "$here/tray-host.py" panel || { echo "a panel that came late got no icon" >&2; exit 1; }
}
XDG_ACTIVATION_TOKEN=handed-over timeout 20 "$program" || { echo "a second start did not hand over" >&2; exit 1; }
sleep 1
screenshot handed-over
cp "$work/handed-over.png" "$screens/wayland-handed-over.png"
kill -0 "${pids[-1]}" || { echo "the program ended" >&2; exit 1; }
# Qt's Wayland platform says nothing the user should act on.
if grep -v "shows no tray" "$work/program.txt" | grep .; then
  echo "the program warned on Wayland" >&2
  exit 1
fi
echo "window shown on Wayland; screenshots in $screens"
