#!/usr/bin/env bash
# End to end under the test environment's X server: the installed Velmora, started with a fresh
# settings file, gets "Schnellkopie" pressed (its mnemonic Alt+S, typed with xdotool); the
# page scanned from SANE's test scanner arrives in the PDF of a CUPS file: queue.
#   fast_copy.sh <build folder>
set -uo pipefail
build=$1
if [ -z "${DISPLAY:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ] || [ -z "${CUPS_SERVER:-}" ] ||
   [ -z "${SANE_CONFIG_DIR:-}" ]; then
  echo "skipped: needs the test environment of scripts/testenv.sh"
  exit 0
fi
# libxkbcommon-x11 hands strndup a buffer without a terminating zero (see
# report_on_x_clipboard.sh).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
queue=E2E-Kopie
work=$(mktemp -d "$VELMORA_TEST_TMP/fastcopy.XXXXXX")
out=$VELMORA_TEST_OUT/$queue.pdf
pid=
# shellcheck source=stop.sh
. "$(dirname "$0")/stop.sh"
cleanup() {
  stop_velmora "$pid"
  lpadmin -x "$queue" 2>/dev/null
  rm -rf "$work"
  rm -f "$out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; [ -f "$work/run.log" ] && { echo "program output:"; cat "$work/run.log"; }; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install"; }
rm -f "$out"
lpadmin -p "$queue" -E -v "file://$out" -m lsb/usr/cupsfilters/Generic-PDF_Printer-PDF.ppd \
  -o PageSize=A4 || fail "lpadmin"
lpadmin -d "$queue" || fail "lpadmin -d"

mkdir -p "$work/home/.config"
(
  cd /
  exec env -u VELMORA_DATA_DIR -u VELMORA_TWAIN_DSM -u VELMORA_TWAIN_SOURCES -u QT_QPA_PLATFORM \
    HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb \
    "$work/prefix/bin/velmora" -i "$work/home/velmora.ini"
) >"$work/run.log" 2>&1 &
pid=$!

wid=
for _ in $(seq 200); do
  wid=$(xdotool search --name '^Velmora$' 2>/dev/null | head -n 1)
  [ -n "$wid" ] && break
  kill -0 "$pid" 2>/dev/null || fail "Velmora ended at start"
  sleep 0.1
done
[ -n "$wid" ] || fail "the main window did not appear"
sleep 1
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool key --clearmodifiers --window "$wid" alt+s

# One A4 colour page at 300 dpi through a sanitizer build and the PDF filter takes a while.
done_=
for _ in $(seq 600); do
  if [ -s "$out" ] && [ -n "$(lpstat -W completed -o "$queue" 2>/dev/null)" ]; then
    done_=yes; break
  fi
  kill -0 "$pid" 2>/dev/null || fail "Velmora ended during the fast copy"
  sleep 0.2
done
[ -n "$done_" ] || fail "no printed page in $out"
sleep 0.5
pages=$(pdfinfo "$out" 2>/dev/null | sed -n 's/^Pages: *//p')
[ "$pages" = 1 ] || fail "the PDF has ${pages:-no} pages, not 1"
# The test scanner's colour pattern, not an empty sheet: the page is far from white, and
# coloured.
pdftoppm -r 20 -singlefile -png "$out" "$work/page" || fail "pdftoppm"
mean=$(convert "$work/page.png" -colorspace Gray -format '%[fx:mean]' info:)
saturation=$(convert "$work/page.png" -colorspace HSL -channel G -separate -format '%[fx:maxima]' info:)
awk -v m="$mean" 'BEGIN { exit !(m < 0.9) }' || fail "the printed page is blank (mean grey $mean)"
awk -v s="$saturation" 'BEGIN { exit !(s > 0.3) }' || fail "the printed page has no colour ($saturation)"
kill -0 "$pid" 2>/dev/null || fail "Velmora ended after the fast copy"
echo "1 passed, 0 failed"
