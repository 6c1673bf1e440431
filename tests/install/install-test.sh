#!/usr/bin/env bash
# Installs the build into a temporary root and builds the Debian package into a temporary folder,
# then checks what a shell, a desktop and apt will find there.
# Usage: install-test.sh CMAKE CPACK BUILD-FOLDER
set -euo pipefail
cmake=$1 cpack=$2 build=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# A prefix away from the FFmpeg programs, whose links then name them absolutely and work in DESTDIR.
prefix=/opt/vorlane-trelk
DESTDIR=$work/root "$cmake" --install "$build" --prefix $prefix >/dev/null
usr=$work/root$prefix
program=$usr/lib/vorlane-trelk/vorlane-trelk

# The command in bin is a relative link to the program, so that the tree can move as a whole.
command=$usr/bin/vorlane-trelk
[[ -L $command && $(readlink "$command") != /* ]] || fail "bin/vorlane-trelk is no relative link"
[[ $(readlink -f "$command") == "$program" && -x $program ]] || fail "bin/vorlane-trelk does not lead to the program"
for tool in ffmpeg ffprobe; do
  [[ -x $usr/lib/vorlane-trelk/$tool ]] || fail "lib/vorlane-trelk/$tool leads to no program"
  [[ ! -e $usr/bin/$tool ]] || fail "bin/$tool would clash with the system's own"
done

# Started through bin, the program finds the FFmpeg programs beside its real self (a Matroska
# master is probed by ffprobe).
"$usr/lib/vorlane-trelk/ffmpeg" -loglevel error -f lavfi -i color=red:size=32x18:duration=0.1 "$work/clip.mkv"
facts=$(env -u TRELK_FFMPEG -u TRELK_FFPROBE "$command" probe "$work/clip.mkv") || fail "probe through bin failed"
[[ $facts == *'"w":32'* ]] || fail "probe through bin printed $facts"

for entry in applications/vorlane-trelk.desktop vorlane-trelk/autostart/vorlane-trelk.desktop; do
  desktop-file-validate "$usr/share/$entry" || fail "$entry is not a valid desktop entry"
done
icons=$usr/share/icons/hicolor
[[ -s $icons/scalable/apps/vorlane-trelk.svg ]] || fail "no scalable icon"
for size in 16 24 32 48 64 128 256; do
  png=$icons/${size}x${size}/apps/vorlane-trelk.png
  [[ $(file -b "$png") == "PNG image data, $size x $size,"* ]] || fail "$png: $(file -b "$png")"
done

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >/dev/null
debs=("$work"/package/vorlane-trelk_*_*.deb)
deb=${debs[0]}
[[ -f $deb ]] || { fail "cpack made no vorlane-trelk_VERSION_ARCH.deb"; exit 1; }
[[ $(dpkg-deb -f "$deb" Package) == vorlane-trelk ]] || fail "package name: $(dpkg-deb -f "$deb" Package)"
[[ $(dpkg-deb -f "$deb" Section) == video ]] || fail "section: $(dpkg-deb -f "$deb" Section)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in ffmpeg libqt6core6 libvips42; do
  [[ ", $depends," =~ ,\ $needed[\ ,] ]] || fail "Depends lacks $needed: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{ $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }')
for wanted in "./usr/bin/vorlane-trelk -> ../lib/vorlane-trelk/vorlane-trelk" \
              "./usr/lib/vorlane-trelk/vorlane-trelk" \
              "./usr/share/applications/vorlane-trelk.desktop" \
              "./usr/share/vorlane-trelk/autostart/vorlane-trelk.desktop" \
              "./usr/share/icons/hicolor/scalable/apps/vorlane-trelk.svg" \
              "./usr/share/icons/hicolor/16x16/apps/vorlane-trelk.png"; do
  grep -qF -- "$wanted" <<<"$contents" || fail "the package lacks $wanted"
done
# Inside /usr the links to the FFmpeg programs are relative, and lead to them once installed.
for tool in ffmpeg ffprobe; do
  target=$(sed -n "s|^\./usr/lib/vorlane-trelk/$tool -> ||p" <<<"$contents")
  [[ -n $target && $target != /* && -x $(realpath -m "/usr/lib/vorlane-trelk/$target") ]] ||
    fail "the package's $tool link leads to '$target'"
done
outside=$(grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" || true)
[[ -z $outside ]] || fail "the package puts files outside /usr: $outside"

echo "install checks: $failures failed"
[[ $failures -eq 0 ]]
