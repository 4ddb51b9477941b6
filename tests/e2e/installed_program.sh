#!/usr/bin/env bash
# Velmora installed like a Linux program: `cmake --install` into a temporary prefix puts the
# program, its help file, its German translations, the desktop entry and the icon there; the
# installed tree, moved to another folder, starts offscreen with a picture from the command
# line and finds its own files there. (The Debian package of the same files: debian_package.sh.)
#   installed_program.sh <build folder>
set -uo pipefail
build=$1
tmp=${VELMORA_TEST_TMP:-${TMPDIR:-/tmp}}
work=$(mktemp -d "$tmp/installed.XXXXXX")
pid=
# shellcheck source=stop.sh
. "$(dirname "$0")/stop.sh"
cleanup() {
  stop_velmora "$pid"
  rm -rf "$work"
}
trap cleanup EXIT
fail=0
failed() { echo "FAIL: $*"; fail=1; }

if ! cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"; echo "FAIL: cmake --install"; exit 1
fi
# Nothing may depend on the prefix given at install time.
mv "$work/prefix" "$work/moved"
p=$work/moved
for f in bin/velmora share/velmora/velmorix.hlp share/velmora/translations/qtbase_de.qm \
         share/applications/velmora.desktop share/icons/hicolor/scalable/apps/velmora.svg \
         share/man/man1/velmora.1.gz share/metainfo/org.example.velmora.metainfo.xml; do
  [ -f "$p/$f" ] || failed "not installed: $f"
done
# The TWAIN source manager in Velmora's own library folder; the scripted test source never.
[ -n "$(find "$p" -path '*/velmora/libvelmora-twaindsm.so')" ] || failed "not installed: the TWAIN manager"
[ -z "$(find "$p" -name 'velmora-scripted*')" ] || failed "the scripted test source was installed"
# Its SANE bridge in the manager's sources folder, beside it.
[ -n "$(find "$p" -path '*/velmora/sources/velmora-sane.ds')" ] ||
  failed "not installed: the SANE bridge source"
# "Öffnen mit" offers Velmora for every picture kind it opens.
mime=$(sed -n 's/^MimeType=//p' "$p/share/applications/velmora.desktop")
for type in image/bmp image/jpeg image/vnd.microsoft.icon image/wmf image/emf image/png \
  image/gif image/tiff; do
  grep -qF ";$type;" <<<";$mime" || failed "desktop entry lacks MimeType $type"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$p/share/applications/velmora.desktop" || failed "desktop entry invalid"
fi

convert -size 40x30 xc:'#3060c0' "BMP3:$work/seite.bmp" || failed "no test picture"
mkdir -p "$work/home"
(
  cd /
  exec env -u VELMORA_DATA_DIR HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" \
    QT_QPA_PLATFORM=offscreen \
    QT_LOGGING_RULES="velmora.files.info=true;velmora.lifecycle.debug=true" \
    "$p/bin/velmora" -i "$work/home/velmora.ini" "$work/seite.bmp"
) >"$work/run.log" 2>&1 &
pid=$!
# The command line is released only after every picture on it was opened.
for _ in $(seq 200); do
  grep -q "CmdLineHandler released" "$work/run.log" && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "CmdLineHandler released" "$work/run.log" || failed "the picture was not opened"
grep -qF "help file: \"$p/share/velmora/velmorix.hlp\" " "$work/run.log" ||
  failed "the help file was not found in the installed tree"
grep -qF "translations: \"$p/share/velmora/translations/qtbase_de.qm\"" "$work/run.log" ||
  failed "the translations were not loaded from the installed tree"
kill -0 "$pid" 2>/dev/null || failed "the installed program ended by itself"
stop_velmora "$pid"; pid=
if [ "$fail" -ne 0 ]; then
  echo "program output:"; cat "$work/run.log"; exit 1
fi

[ "$fail" -eq 0 ] || exit 1
echo "1 passed, 0 failed"
