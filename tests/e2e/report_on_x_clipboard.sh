#!/usr/bin/env bash
# End to end under the test environment's X server: Velmora started with a missing picture file
# shows its error report, and the report is on the X clipboard for other programs (xclip) to read,
# line by line. Every title bar of the program names it once.
#   report_on_x_clipboard.sh <path of velmora> <its version, e.g. 1.0.0.1>
set -uo pipefail
velmora=$1
version=$2
if [ -z "${DISPLAY:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "skipped: needs the test environment of scripts/testenv.sh"
  exit 0
fi
# libxkbcommon-x11 hands strndup a buffer without a terminating zero; the sanitizer's strndup
# check then reports a read past it inside that library when the program connects to X.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
work=$(mktemp -d "$VELMORA_TEST_TMP/e2e.XXXXXX")
pid=
# shellcheck source=stop.sh
. "$(dirname "$0")/stop.sh"
cleanup() {
  stop_velmora "$pid"
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
  report=$(timeout 2 xclip -o -selection clipboard 2>/dev/null)
  [ -n "$report" ] && break
  sleep 0.1
done
fail=0
# Mail and chat programs break lines on line feeds only.
if [[ $report == *$'\r'* ]]; then
  echo "FAIL: the report on the clipboard holds carriage returns"; fail=1
fi
report=${report//$'\r'/$'\n'}
# The report line by line, in its order: the version line, the error, the two request lines,
# then the figures by name.
mapfile -t lines <<<"$report"
expected=(
  "Version $version $(getconf LONG_BIT)-Bit"
  "Es ist ein unerwarteter Programmfehler aufgetreten:"
  "EFOpenError : Datei $work/fehlt.bmp kann nicht geöffnet werden"
  "Dieser Fehlertext wird gleichzeitig in die Zwischenablage geschrieben."
)
for i in "${!expected[@]}"; do
  if [ "${lines[$i]:-}" != "${expected[$i]}" ]; then
    echo "FAIL: report line $((i + 1)) is '${lines[$i]:-}', not '${expected[$i]}'"; fail=1
  fi
done
case ${lines[4]:-} in
  "Ich bitte um Zusendung aller Angaben ("*")." ) ;;
  *) echo "FAIL: report line 5 is '${lines[4]:-}'"; fail=1 ;;
esac
names=$(printf '%s\n' "${lines[@]:5}" | sed -n 's/^\([A-Za-z.]*\) = .*/\1/p' | paste -sd' ')
want="PicWidth PicHeight PrnAreaWidth PrnAreaHeight PrnAreaMMWidth PrnAreaMMHeight PrnDPI.X PrnDPI.Y"
want="$want ScannerDPI.X ScannerDPI.Y xZoom yZoom xRelPos yRelPos PrevXSize PrevYSize"
want="$want PrinterIndex PrinterCount"
if [ "$names" != "$want" ]; then
  echo "FAIL: the figures are '$names', not '$want'"; fail=1
fi
grep -qx "PicWidth = 0" <<<"$report" || { echo "FAIL: no empty picture in the report"; fail=1; }
if [ "$fail" -ne 0 ]; then
  printf 'clipboard was:\n%s\n' "$report"; exit 1
fi

# Esc answers the report box; the program is still running afterwards.
xdotool key --clearmodifiers Escape
sleep 0.5
if ! kill -0 "$pid" 2>/dev/null; then
  echo "FAIL: Velmora ended after the report"; exit 1
fi
# The help window (F1) beside the main window: the title bars show "Velmora" once each.
win=$(xdotool search --name '^Velmora$' 2>/dev/null | head -1)
xdotool windowfocus --sync "$win" 2>/dev/null
xdotool key --window "$win" F1
titles=
for _ in $(seq 50); do
  titles=$(for id in $(xdotool search --pid "$pid" 2>/dev/null); do
             xdotool getwindowname "$id" 2>/dev/null
           done | sed '/^$/d' | sort -u)
  grep -q Hilfe <<<"$titles" && break
  sleep 0.1
done
if ! grep -q Hilfe <<<"$titles"; then
  echo "FAIL: no help window among: $titles"; exit 1
fi
while IFS= read -r title; do
  if [ "$(grep -o Velmora <<<"$title" | wc -l)" -ne 1 ]; then
    echo "FAIL: the title bar '$title' does not name Velmora exactly once"; exit 1
  fi
done <<<"$titles"
echo "1 passed, 0 failed"
