#!/usr/bin/env bash
# The real program on a virtual display, facing a panel of the StatusNotifierItem road on a
# private session bus (tray-host.py plays the panel).
# usage: tray-road.sh check|measure PROGRAM
set -euo pipefail
mode=$1 program=$2
here=$(dirname "$0")
work=$(mktemp -d)
display=
stop_all() {
  [[ -n $display ]] && kill "$display" 2>/dev/null && wait "$display" 2>/dev/null
  rm -rf "$work"
}
trap stop_all EXIT

for tool in Xvfb xdotool dbus-run-session ffmpeg; do
  command -v "$tool" >/dev/null || { echo "no $tool: skipped"; exit 77; }
done
/usr/bin/python3 -c 'import dbus, gi' 2>/dev/null || { echo "no python3-dbus or python3-gi: skipped"; exit 77; }

Xvfb -displayfd 3 -noreset -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" &
display=$!
for _ in $(seq 300); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=:$(<"$work/display")
mkdir "$work/home"
dbus-run-session -- /usr/bin/python3 "$here/tray-host.py" "$mode" "$program" "$work/home"
