#!/usr/bin/env bash
# Velmora's PDF queue for machines without a printer (scripts/pdf-queue.sh), with real CUPS
# schedulers: the private scheduler of scripts/testenv.sh plays the machine's printing system.
#   PdfQueueTest.sh <scripts folder>
set -uo pipefail

SCRIPTS=$1
if [ -z "${CUPS_SERVER:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "SKIP: needs the private scheduler of scripts/testenv.sh"
  exit 77
fi
for tool in cupsd lpadmin gs pdfinfo; do
  if ! PATH=$PATH:/usr/sbin command -v "$tool" >/dev/null; then
    echo "SKIP: $tool missing"
    exit 77
  fi
done
export PATH=$PATH:/usr/sbin

T=$(mktemp -d "$VELMORA_TEST_TMP/pdfqueue.XXXXXX")
# The scheduler's filters may run as the unprivileged lp user: they must reach the spool.
chmod 755 "$T"
export HOME=$T/home VELMORA_PDF_QUEUE_DIR=$T/q VELMORA_PDF_DIR="$T/home/PDF Ablage ü"
mkdir -p "$HOME"
MACHINE=$CUPS_SERVER
CLIENTS=()
SCHEDULERS=() # every private scheduler seen, each the leader of its process group
failures=0

# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
  local pid
  for pid in "${CLIENTS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SCHEDULERS[@]}"; do kill -9 -- "-$pid" 2>/dev/null; done
  CUPS_SERVER=$MACHINE lpadmin -x Vorhandener-Drucker 2>/dev/null
  rm -rf "$T"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

queue() { bash "$SCRIPTS/pdf-queue.sh" "$@"; }

# A client of the queue: a process that lives until the test ends it. Sets `client`.
new_client() {
  sleep 600 >/dev/null 2>&1 &
  client=$!
  CLIENTS+=("$client")
}

scheduler_pid() { cat "$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid" 2>/dev/null; }

# Starts the queue for `client`; sets `sock`.
start_for() {
  sock=$(queue start "$1" 2>"$T/start.msg")
  local rc=$?
  local pid
  pid=$(scheduler_pid) && SCHEDULERS+=("$pid")
  return $rc
}

wait_gone() {
  local _
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.1; done
  return 1
}

# ---- Only a machine without printers needs the queue ------------------------------------------
CUPS_SERVER=$MACHINE lpadmin -p Vorhandener-Drucker -E -v "file://$T/vorhanden.pdf" ||
  fail "lpadmin on the machine's scheduler"
queue needed && fail "a machine with a printer was given the PDF queue"
CUPS_SERVER=$MACHINE lpadmin -x Vorhandener-Drucker
queue needed || fail "a scheduler without printers needs the PDF queue"
CUPS_SERVER=$T/niemand.sock queue needed || fail "no scheduler at all needs the PDF queue"
[ -e "$VELMORA_PDF_QUEUE_DIR" ] && fail "asking made the scheduler's folder"
[ -e "$VELMORA_PDF_DIR" ] && fail "asking made the PDF folder"

# ---- The queue: a private scheduler, default destination, the machine's one untouched -----------
new_client
first=$client
if ! start_for "$first"; then
  fail "start: $(cat "$T/start.msg")"
  tail -n 20 "$VELMORA_PDF_QUEUE_DIR"/log/* >&2
  exit 1
fi
[ -S "$sock" ] || fail "start printed no socket: '$sock'"
grep -qF "$VELMORA_PDF_DIR" "$T/start.msg" || fail "start did not say where PDFs go: $(cat "$T/start.msg")"
[ "$(wc -l <"$T/start.msg")" -eq 1 ] || fail "start said more than one line: $(cat "$T/start.msg")"
[ "$(CUPS_SERVER=$sock LC_ALL=C lpstat -d)" = "system default destination: Velmora-PDF" ] ||
  fail "Velmora-PDF is not the private scheduler's default: $(CUPS_SERVER=$sock lpstat -d)"
[ -z "$(CUPS_SERVER=$MACHINE lpstat -e)" ] || fail "the machine's scheduler got a queue"

# ---- Every job lands as a PDF named by job number and title ------------------------------------
gs -q -sDEVICE=pdfwrite -o "$T/zwei.pdf" -c showpage showpage || fail "gs"
CUPS_SERVER=$sock lp -t "Velmora 1" "$T/zwei.pdf" >/dev/null || fail "lp 1"
CUPS_SERVER=$sock lp -t "Bericht/Seite 2" "$T/zwei.pdf" >/dev/null || fail "lp 2"
for _ in $(seq 200); do
  [ "$(find "$VELMORA_PDF_DIR" -name '*.pdf' 2>/dev/null | wc -l)" -ge 2 ] && break
  sleep 0.1
done
one=$(find "$VELMORA_PDF_DIR" -name '[0-9]*-Velmora 1.pdf')
two=$(find "$VELMORA_PDF_DIR" -name '[0-9]*-Bericht_Seite 2.pdf')
{ [ -n "$one" ] && [ -n "$two" ]; } || fail "PDFs missing: $(ls -a "$VELMORA_PDF_DIR" 2>&1)"
for f in "$one" "$two"; do
  [ -n "$f" ] || continue
  pages=$(pdfinfo "$f" 2>/dev/null | sed -n 's/^Pages: *//p')
  [ "$pages" = 2 ] || fail "$f has '$pages' pages, not 2"
done
[ -z "$(find "$VELMORA_PDF_DIR" -name '.velmora-pdf.*')" ] || fail "half-written files left over"

# ---- The scheduler is shared and ends with its last client -------------------------------------
pid=$(scheduler_pid)
new_client
second=$client
first_sock=$sock
start_for "$second" || fail "second start: $(cat "$T/start.msg")"
[ "$sock" = "$first_sock" ] || fail "second start: another socket"
[ "$(scheduler_pid)" = "$pid" ] || fail "second start: another scheduler"
queue stop "$first"
kill -0 "$pid" 2>/dev/null || fail "the scheduler stopped while a client was left"
# A client that died no longer holds it.
kill "$second"
wait "$second" 2>/dev/null
queue stop
wait_gone "$pid" || fail "the scheduler outlived its clients"
[ -e "$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid" ] && fail "pid file left"

# ---- A new start brings it back, with the queue and a job number that goes on ------------------
new_client
third=$client
start_for "$third" || fail "restart: $(cat "$T/start.msg")"
CUPS_SERVER=$sock lp -t "Velmora 1" "$T/zwei.pdf" >/dev/null || fail "lp after restart"
for _ in $(seq 200); do
  [ "$(find "$VELMORA_PDF_DIR" -name '*.pdf' | wc -l)" -ge 3 ] && break
  sleep 0.1
done
[ "$(find "$VELMORA_PDF_DIR" -name '*.pdf' | wc -l)" -eq 3 ] ||
  fail "the job after the restart replaced or lost a file: $(ls "$VELMORA_PDF_DIR")"
pid=$(scheduler_pid)
queue stop "$third"
wait_gone "$pid" || fail "the scheduler did not stop"

# ---- A pid file left behind names a process that is not the scheduler (after a reboot, say) ----
setsid sleep 600 >/dev/null 2>&1 &
stranger=$!
CLIENTS+=("$stranger")
echo "$stranger" >"$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid"
queue stop
kill -0 "$stranger" 2>/dev/null || fail "stop ended a process that was not the scheduler"
echo "$stranger" >"$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid"
new_client
fourth=$client
start_for "$fourth" || fail "start beside a stale pid file: $(cat "$T/start.msg")"
[ "$(scheduler_pid)" != "$stranger" ] || fail "a stranger was taken for the scheduler"
pid=$(scheduler_pid)
queue stop "$fourth"
wait_gone "$pid" || fail "the scheduler did not stop"
kill -0 "$stranger" 2>/dev/null || fail "start or stop ended a process that was not the scheduler"

[ "$failures" -eq 0 ] && echo "PASS"
exit $((failures > 0))
