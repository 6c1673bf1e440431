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
tree=$work/tree
DESTDIR=$tree "$cmake" --install "$build" --prefix $prefix >/dev/null
usr=$tree$prefix
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

# The manual page renders without a warning and names itself, the metainfo is valid, and the
# unit is one systemd takes (its program named where this tree put it, as systemd checks it).
manual=$usr/share/man/man1/vorlane-trelk.1.gz
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$manual" 2>&1 >/dev/null) || fail "man cannot render $manual"
[[ -z $warnings ]] || fail "the manual page warns: $warnings"
[[ $(lexgrog "$manual") == *'"vorlane-trelk - '* ]] || fail "lexgrog finds no NAME line: $(lexgrog "$manual")"
appstreamcli validate --no-net "$usr/share/metainfo/app.vorlane.Trelk.metainfo.xml" >/dev/null ||
  fail "the metainfo is not valid"
unit=$usr/lib/systemd/user/vorlane-trelk.service
grep -qx "ExecStart=$prefix/bin/vorlane-trelk serve" "$unit" || fail "the unit does not run this tree's serve"
mkdir -m 700 "$work/runtime"
sed "s|^ExecStart=/|ExecStart=$tree/|" "$unit" >"$work/vorlane-trelk.service"
verified=$(XDG_RUNTIME_DIR=$work/runtime systemd-analyze --user --man=no verify "$work/vorlane-trelk.service" 2>&1) ||
  fail "systemd-analyze verify fails: $verified"
[[ -z $verified ]] || fail "systemd-analyze verify warns: $verified"

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
              "./usr/share/icons/hicolor/16x16/apps/vorlane-trelk.png" \
              "./usr/share/man/man1/vorlane-trelk.1.gz" \
              "./usr/share/doc/vorlane-trelk/copyright" \
              "./usr/share/doc/vorlane-trelk/changelog.gz" \
              "./usr/share/metainfo/app.vorlane.Trelk.metainfo.xml" \
              "./usr/lib/systemd/user/vorlane-trelk.service"; do
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

# The changelog's entry is the version the program prints.
version=$(dpkg-deb -f "$deb" Version)
[[ $("$command" --version) == "vorlane Trelk $version" ]] || fail "the package is $version, the program $("$command" --version)"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/vorlane-trelk/changelog.gz | gzip -d | head -1 >"$work/entry"
[[ $(<"$work/entry") == "vorlane-trelk ($version) "* ]] || fail "the changelog's last entry is $(<"$work/entry")"

# Every tag lintian finds at its default level is a fault, but its notes.
if command -v lintian >/dev/null; then
  tags=$(lintian --no-cfg "$deb" 2>&1 | grep -v -e '^[IPNX]: ' -e '^running with root privileges' || true)
  [[ -z $tags ]] || fail "lintian: $tags"
fi

bash "$(dirname "$0")/throwaway-root.sh" "$deb" "$work/system" || fail "the package does not install, run and go cleanly"

echo "install checks: $failures failed"
[[ $failures -eq 0 ]]
