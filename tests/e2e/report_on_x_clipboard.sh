#!/usr/bin/env bash
# End to end under the test environment's X server: Velmora started with a missing picture file
# shows its error report, and the report is on the X clipboard for other programs (xclip) to read.
#   report_on_x_clipboard.sh <path of velmora>
set -uo pipefail
velmora=$1
if [ -z "${DISPLAY:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "skipped: needs the test environment of scripts/testenv.sh"
  exit 0
fi
# libxkbcommon-x11 hands strndup a buffer without a terminating zero; the sanitizer's strndup
# check then reports a read past it inside that library when the program connects to X.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
work=$(mktemp -d "$VELMORA_TEST_TMP/e2e.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

env -u QT_QPA_PLATFORM QT_QPA_PLATFORM=xcb "$velmora" -i "$work/velmora.ini" "$work/fehlt.bmp" \
  >"$work/out.log" 2>&1 &
pid=$!

# The main window comes up, then the report box over it.
for _ in $(seq 100); do
  xdotool search --name '^Velmora$' >/dev/null 2>&1 && break
  sleep 0.1
done
if ! xdotool search --name '^Velmora$' >/dev/null 2>&1; then
  echo "FAIL: the main window did not appear"; cat "$work/out.log"; exit 1
fi

report=
for _ in $(seq 100); do
  report=$(timeout 2 xclip -o -selection clipboard 2>/dev/null | tr '\r' '\n')
  [ -n "$report" ] && break
  sleep 0.1
done
fail=0
expect() {
  if ! grep -qF -- "$1" <<<"$report"; then
    echo "FAIL: the report on the clipboard lacks: $1"; fail=1
  fi
}
expect "Es ist ein unerwarteter Programmfehler aufgetreten:"
expect "EFOpenError : Datei $work/fehlt.bmp kann nicht geöffnet werden"
expect "Bit"
expect "PicWidth = 0"
expect "PrinterCount = "
if [ "$fail" -ne 0 ]; then
  printf 'clipboard was:\n%s\n' "$report"; exit 1
fi

# Esc answers the report box; the program is still running afterwards.
xdotool key --clearmodifiers Escape
sleep 0.5
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: Velmora ended after the report"; exit 1
fi
echo "1 passed, 0 failed"
