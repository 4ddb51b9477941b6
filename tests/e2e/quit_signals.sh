#!/usr/bin/env bash
# End to end under the test environment's X server: SIGTERM and SIGHUP end the real program
# through its normal shut-down (settings written once, exit status 0), also while a fast copy
# waits with the scripted source's dialog up, which will not close; the scanner is then closed
# before the program ends.
#   quit_signals.sh <velmora> <folder of the scripted source>
set -uo pipefail
velmora=$1
sources=$2
if [ -z "${DISPLAY:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "skipped: needs the test environment of scripts/testenv.sh"
  exit 0
fi
# libxkbcommon-x11 hands strndup a buffer without a terminating zero (see
# report_on_x_clipboard.sh).
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}intercept_strndup=0"
work=$(mktemp -d "$VELMORA_TEST_TMP/signals.XXXXXX")
pid=
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  [ -f "$work/run.log" ] && { echo "program output:"; cat "$work/run.log"; }
  failures=$((failures + 1))
}

# start <case>: Velmora with a fresh settings file, the scripted source as its only scanner and
# its lifecycle on standard error; waits for the main window.
start() {
  rm -rf "$work/home" "$work/calls.log" && mkdir -p "$work/home/.config"
  env -u QT_QPA_PLATFORM -u VELMORA_TWAIN_DSM HOME="$work/home" \
    XDG_CONFIG_HOME="$work/home/.config" QT_QPA_PLATFORM=xcb \
    QT_LOGGING_RULES="velmora.lifecycle.debug=true" VELMORA_TWAIN_SOURCES="$sources" \
    VELMORA_SCRIPTED_SCENARIO="$work/scenario" \
    "$velmora" -i "$work/home/velmora.ini" >"$work/run.log" 2>&1 &
  pid=$!
  wid=
  for _ in $(seq 200); do
    wid=$(xdotool search --pid "$pid" --name '^Velmora$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  [ -n "$wid" ] && sleep 0.5
}

# ends <case>: the program has ended by itself with status 0, and wrote its settings once.
ends() {
  local status=
  for _ in $(seq 150); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    fail "$1: still running 15 s after the signal"
    kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
    return
  fi
  wait "$pid"
  status=$?
  pid=
  [ "$status" = 0 ] || fail "$1: exit status $status"
  grep -q '^\[Window\]' "$work/home/velmora.ini" 2>/dev/null || fail "$1: no settings written"
  local writes
  writes=$(grep -c 'FormClose: WriteSettings' "$work/run.log")
  [ "$writes" = 1 ] || fail "$1: settings written $writes times"
}

for sig in TERM HUP; do
  echo "page = 40x30 24 gradient 300" >"$work/scenario"
  if ! start "SIG$sig"; then fail "SIG$sig: the main window did not appear"; continue; fi
  kill -"$sig" "$pid"
  ends "SIG$sig"
done

# A fast copy whose source shows its dialog all the same, which refuses to close.
for sig in TERM HUP; do
  printf 'enable = checkstatus\ndialog = stubborn\nready = no\npage = 40x30 24 gradient 300\nlog = %s\n' \
    "$work/calls.log" >"$work/scenario"
  if ! start "SIG$sig during a scan"; then fail "SIG$sig during a scan: no main window"; continue; fi
  xdotool windowfocus --sync "$wid" 2>/dev/null || true
  xdotool key --clearmodifiers --window "$wid" alt+s
  for _ in $(seq 100); do
    grep -q 'dialog shown' "$work/calls.log" 2>/dev/null && break
    sleep 0.1
  done
  if ! grep -q 'dialog shown' "$work/calls.log" 2>/dev/null; then
    fail "SIG$sig during a scan: the source's dialog did not come up"
    kill -9 "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
    continue
  fi
  kill -"$sig" "$pid"
  ends "SIG$sig during a scan"
  grep -q '^0001 0009 0501$' "$work/calls.log" || fail "SIG$sig during a scan: source not disabled"
  grep -q '^0001 0003 0402$' "$work/calls.log" || fail "SIG$sig during a scan: source not closed"
done

if [ "$failures" = 0 ]; then
  echo "4 passed, 0 failed"
else
  exit 1
fi
