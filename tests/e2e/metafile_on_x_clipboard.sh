#!/usr/bin/env bash
# End to end under the test environment's X server: an enhanced metafile that another program
# (xclip) offers as image/emf is inserted with "Bild einfügen", copied back with "Bild kopieren",
# and xclip then reads the very same bytes, plus a rendered image for programs without EMF; a
# Windows metafile offered as image/x-wmf comes back as an enhanced metafile.
#   metafile_on_x_clipboard.sh <path of velmora>
set -uo pipefail
velmora=$1
if [ -z "${DISPLAY:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "skipped: needs the test environment of scripts/testenv.sh"
  exit 0
fi
# See report_on_x_clipboard.sh: libxkbcommon-x11 trips the sanitizer's strndup check.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
work=$(mktemp -d "$VELMORA_TEST_TMP/e2e.XXXXXX")
pid=
server=
# shellcheck source=stop.sh
. "$(dirname "$0")/stop.sh"
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  stop_velmora "$pid"
  rm -rf "$work"
}
trap cleanup EXIT

# Little-endian 16-bit and 32-bit words as bytes.
le16() {
  local v
  for v in "$@"; do
    printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $((v >> 8 & 255)))"
  done
}
le32() {
  local v
  for v in "$@"; do
    printf "\\x$(printf %02x $((v & 255)))\\x$(printf %02x $((v >> 8 & 255)))"
    printf "\\x$(printf %02x $((v >> 16 & 255)))\\x$(printf %02x $((v >> 24 & 255)))"
  done
}
# A 96 x 48 pixel EMF: header (frame 2540 x 1270 hundredths of a millimetre, a 96-dpi reference
# device), a red brush, a rectangle, end of file.
{
  le32 1 108 0 0 95 47 0 0 2540 1270 0x464D4520 0x10000 188 5 2 0 0 0 1920 1440 508 381 0 0 0 \
    508000 381000
  le32 39 24 1 0 0x0000FF 0
  le32 37 12 1
  le32 43 24 10 10 80 40
  le32 14 20 0 16 20
} >"$work/bild.emf"
# A placeable WMF of 96 x 48 pixels (960 units at 960 per inch), a green rectangle.
{
  le16 0xCDD7 0x9AC6 0 0 0 960 480 960 0 0 $((0xCDD7 ^ 0x9AC6 ^ 960 ^ 480 ^ 960))
  le16 1 9 0x300 30 0 1 7 0 0
  le16 7 0 0x02FC 0 0xFF00 0 0
  le16 4 0 0x012D 0
  le16 7 0 0x041B 400 800 100 100
  le16 3 0 0
} >"$work/bild.wmf"
if [ "$(stat -c %s "$work/bild.wmf")" -ne 82 ]; then
  echo "FAIL: the sample WMF came out $(stat -c %s "$work/bild.wmf") bytes long"; exit 1
fi
if [ "$(stat -c %s "$work/bild.emf")" -ne 188 ]; then
  echo "FAIL: the sample EMF came out $(stat -c %s "$work/bild.emf") bytes long"; exit 1
fi

env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb "$velmora" -i "$work/velmora.ini" >"$work/out.log" 2>&1 &
pid=$!
win=
for _ in $(seq 100); do
  win=$(xdotool search --name '^Velmora$' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.1
done
if [ -z "$win" ]; then
  echo "FAIL: the main window did not appear"; cat "$work/out.log"; exit 1
fi

# xclip stays in the foreground with -quiet, so it can be stopped by its process id.
xclip -quiet -selection clipboard -t image/emf -i "$work/bild.emf" >/dev/null 2>&1 &
server=$!
sleep 0.5

menu() {
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
  xdotool key --clearmodifiers alt+d
  sleep 1
  xdotool key --clearmodifiers "$1"
  sleep 1.5
}
menu f # Bild einfügen
menu k # Bild kopieren

fail=0
# Copying took the clipboard over from xclip, which then ends.
for _ in $(seq 30); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$server" 2>/dev/null; then
  echo "FAIL: Velmora did not take the clipboard over"; fail=1
fi
targets=$(timeout 5 xclip -o -selection clipboard -t TARGETS 2>/dev/null)
for t in image/emf image/x-emf image/png; do
  if ! grep -qx -- "$t" <<<"$targets"; then
    echo "FAIL: the clipboard does not offer $t"; fail=1
  fi
done
timeout 5 xclip -o -selection clipboard -t image/emf >"$work/kopie.emf" 2>/dev/null
if ! cmp -s "$work/bild.emf" "$work/kopie.emf"; then
  echo "FAIL: image/emf on the clipboard differs from the inserted metafile"
  od -A d -t x1 "$work/kopie.emf" | head -5
  fail=1
fi
timeout 5 xclip -o -selection clipboard -t image/png >"$work/kopie.png" 2>/dev/null
if ! head -c 8 "$work/kopie.png" | grep -q PNG; then
  echo "FAIL: no rendered image on the clipboard"; fail=1
elif ! identify -format '%wx%h' "$work/kopie.png" 2>/dev/null | grep -qx 96x48; then
  echo "FAIL: the rendered image is $(identify -format '%wx%h' "$work/kopie.png"), not 96x48"
  fail=1
fi
if [ "$fail" -ne 0 ]; then
  printf 'targets were:\n%s\nlog:\n' "$targets"; cat "$work/out.log"; exit 1
fi

# A Windows metafile offered under its other name goes in the same way and comes out converted
# to an enhanced metafile.
xclip -quiet -selection clipboard -t image/x-wmf -i "$work/bild.wmf" >/dev/null 2>&1 &
server=$!
sleep 0.5
menu f
menu k
for _ in $(seq 30); do kill -0 "$server" 2>/dev/null || break; sleep 0.1; done
timeout 5 xclip -o -selection clipboard -t image/emf >"$work/konvertiert.emf" 2>/dev/null
signature=$(od -A n -t x1 -j 40 -N 4 "$work/konvertiert.emf" | tr -d ' ')
if [ "$(od -A n -t x1 -N 4 "$work/konvertiert.emf" | tr -d ' ')" != 01000000 ] ||
  [ "$signature" != 20454d46 ] || cmp -s "$work/bild.emf" "$work/konvertiert.emf"; then
  echo "FAIL: the inserted WMF did not come out as an enhanced metafile"
  od -A d -t x1 "$work/konvertiert.emf" | head -4
  cat "$work/out.log"; exit 1
fi
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: Velmora ended"; exit 1
fi
echo "1 passed, 0 failed"
