#!/usr/bin/env bash
# Installs the package with dpkg into an empty root, runs the installed program from there
# (--version, probe, and serve until SIGTERM), removes it and checks that nothing it put there is
# left. The root holds only what the package needs of its dependencies: the FFmpeg programs,
# linked to the system's own.
# Usage: throwaway-root.sh PACKAGE ROOT
set -euo pipefail
deb=$1 root=$2
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/usr/bin"
touch "$root/var/lib/dpkg/status"
ln -s "$(command -v ffmpeg)" "$root/usr/bin/ffmpeg"
ln -s "$(command -v ffprobe)" "$root/usr/bin/ffprobe"
dpkg() { fakeroot dpkg --root="$root" --force-not-root --force-depends --log=/dev/null "$@"; }
dpkg -i "$deb" >/dev/null 2>"$root/dpkg.log" || { cat "$root/dpkg.log" >&2; exit 1; }

program=$root/usr/bin/vorlane-trelk
home=$root/home/user
mkdir -p "$home" "$root/run/user"
chmod 700 "$root/run/user"
as_user=(env -u TRELK_FFMPEG -u TRELK_FFPROBE -u XDG_DATA_HOME -u XDG_CONFIG_HOME HOME="$home" XDG_RUNTIME_DIR="$root/run/user")

"${as_user[@]}" "$program" --version | grep -qx "vorlane Trelk $(dpkg-deb -f "$deb" Version)"
"$root/usr/lib/vorlane-trelk/ffmpeg" -loglevel error -f lavfi -i color=blue:size=48x32:duration=0.1 "$home/clip.mkv"
"${as_user[@]}" "$program" probe "$home/clip.mkv" | grep -q '"w":48'

# serve says where it listens (or that the ports are taken by another run), then ends on SIGTERM.
"${as_user[@]}" "$program" serve </dev/null >"$root/serve.log" 2>&1 &
serve=$!
trap 'kill $serve 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [[ -s $root/serve.log ]] && break
  sleep 0.1
done
grep -qE '^(listening on 127\.0\.0\.1:|Trelk off)' "$root/serve.log" || { cat "$root/serve.log" >&2; exit 1; }
kill -TERM $serve
wait $serve || { echo "serve ended on SIGTERM with status $?" >&2; exit 1; }

dpkg --purge vorlane-trelk >/dev/null 2>"$root/dpkg.log" || { cat "$root/dpkg.log" >&2; exit 1; }
rm -r "$root/usr/bin/ffmpeg" "$root/usr/bin/ffprobe" "$root/home" "$root/run" "$root/serve.log" "$root/dpkg.log"
rmdir "$root/usr/bin" "$root/usr" 2>/dev/null || true
left=$(find "$root" -mindepth 1 -path "$root/var" -prune -o -print)
[[ -z $left ]] || { echo "left after removal: ${left//$root/}" >&2; exit 1; }
