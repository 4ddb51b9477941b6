#!/usr/bin/env bash
# Velmora's PDF queue (scripts/pdf-queue.sh) and the test scheduler of scripts/testenv.sh belong
# to the user who started them: another local user can neither print, nor cancel the owner's
# job, nor point the queue at a folder of their choosing (which a root-run backend would write
# into), neither through the socket nor, should its folder be opened, past the scheduler's rules.
# The owner's jobs still print. Nor can they get onto the test environment's X server. Needs root,
# to act as the other users.
#   PdfQueueAccessTest.sh <scripts folder>
set -uo pipefail

SCRIPTS=$1
if [ -z "${CUPS_SERVER:-}" ] || [ -z "${VELMORA_TEST_TMP:-}" ]; then
  echo "SKIP: needs the private scheduler of scripts/testenv.sh"
  exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "SKIP: only root can act as other users"
  exit 77
fi
export PATH=$PATH:/usr/sbin:/sbin
for tool in cupsd lpadmin gs setpriv; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool missing"
    exit 77
  fi
done

T=$(mktemp -d "$VELMORA_TEST_TMP/pdfaccess.XXXXXX")
# Filters run as lp, the other users read the test document: all must get through.
chmod 755 "$T"
MACHINE=$CUPS_SERVER
MACHINE_SOCK_DIR=$(dirname "$MACHINE")
SCHEDULERS=()
CLIENTS=()
failures=0

# shellcheck disable=SC2317 # called by the EXIT trap
cleanup() {
  local pid
  chmod 0700 "$MACHINE_SOCK_DIR"
  for pid in "${CLIENTS[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${SCHEDULERS[@]}"; do kill -9 -- "-$pid" 2>/dev/null; done
  rm -rf "$T"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# Runs a command as the given user, with the environment as it is (CUPS_SERVER and HOME set by
# the caller).
as() {
  local user=$1
  shift
  setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups -- "$@"
}

wait_for_files() { # folder count
  local _
  for _ in $(seq 200); do
    [ "$(find "$1" -name '*.pdf' 2>/dev/null | wc -l)" -ge "$2" ] && return 0
    sleep 0.1
  done
  return 1
}

gs -q -sDEVICE=pdfwrite -o "$T/seite.pdf" -c showpage || fail "gs"
chmod 644 "$T/seite.pdf"

# What another user tries against a scheduler; every one of them must be refused. Sets `let_in`
# to the attempts that got through.
attack() { # other-user socket queue job-id
  local other=$1 sock=$2 q=$3 id=$4 home=$T/home-$1 attempt
  mkdir -p "$home" && chown "$other" "$home"
  let_in=()
  local attempts=(
    "lp -d $q -t Fremd $T/seite.pdf"
    "lp -U $owner -d $q -t Fremd $T/seite.pdf"
    "cancel $id"
    "cancel -a $q"
    "lp -i $id -H resume"
    "lpadmin -p $q -v velmora-pdf://$T/fremd"
    "lpadmin -p $q -v velmora-pdf://$T/fremd -U $owner"
    "lpadmin -x $q"
    "cupsdisable $q"
  )
  for attempt in "${attempts[@]}"; do
    # shellcheck disable=SC2086 # the attempt is a command line
    HOME=$home CUPS_SERVER=$sock as "$other" $attempt >>"$T/attack.log" 2>&1 && let_in+=("$attempt")
  done
}

# Whether a user reaches a scheduler's socket at all.
reaches() { # user socket
  [ "$(HOME=/ CUPS_SERVER=$2 LC_ALL=C as "$1" lpstat -r 2>/dev/null)" = "scheduler is running" ]
}

# ---- The PDF queue, started by root and by an ordinary user --------------------------------------
# owner, another user, where the owner keeps the queue
for row in "root nobody $T/root" "nobody daemon $T/nobody"; do
  read -r owner other base <<<"$row"
  mkdir -p "$base" && chown "$owner" "$base"
  export VELMORA_PDF_QUEUE_DIR=$base/q VELMORA_PDF_DIR=$base/PDF
  sleep 600 >/dev/null 2>&1 &
  client=$!
  CLIENTS+=("$client")
  sock=$(HOME=$base as "$owner" bash "$SCRIPTS/pdf-queue.sh" start "$client" 2>"$T/start.msg")
  rc=$?
  pid=$(cat "$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid" 2>/dev/null) && SCHEDULERS+=("$pid")
  if [ $rc -ne 0 ] || [ ! -S "$sock" ]; then
    fail "$owner: start: $(cat "$T/start.msg")"
    continue
  fi
  sock_dir=$(dirname "$sock")
  [ "$(stat -c '%a %U' "$sock_dir")" = "700 $owner" ] ||
    fail "$owner: the socket's folder is $(stat -c '%a %U' "$sock_dir")"

  # A job of the owner's, held until the attacks are over.
  id=$(HOME=$base CUPS_SERVER=$sock as "$owner" lp -H hold -t Eigen "$T/seite.pdf" |
    sed -n 's/^request id is \([^ ]*\) .*/\1/p')
  [ -n "$id" ] || fail "$owner: the owner cannot print"

  reaches "$other" "$sock" && fail "$owner: $other reaches the socket"
  attack "$other" "$sock" Velmora-PDF "$id"
  [ ${#let_in[@]} -eq 0 ] || fail "$owner: $other got through the socket's folder: ${let_in[*]}"
  # The scheduler's rules alone, with the folder open to all.
  chmod 755 "$sock_dir"
  reaches "$other" "$sock" || fail "$owner: the opened folder did not let $other reach the socket"
  attack "$other" "$sock" Velmora-PDF "$id"
  [ ${#let_in[@]} -eq 0 ] || fail "$owner: the scheduler let $other: ${let_in[*]}"
  chmod 700 "$sock_dir"

  # Root may always, the owner still prints, nothing of the other user's arrived.
  for user in root "$owner"; do
    [ "$(HOME=$base CUPS_SERVER=$sock LC_ALL=C as "$user" lpstat -v)" = \
      "device for Velmora-PDF: velmora-pdf://$VELMORA_PDF_DIR" ] ||
      fail "$owner: $user is refused, or the device changed"
  done
  HOME=$base CUPS_SERVER=$sock as "$owner" lp -i "$id" -H resume || fail "$owner: release $id"
  HOME=$base CUPS_SERVER=$sock as "$owner" lp -t Danach "$T/seite.pdf" >/dev/null ||
    fail "$owner: print after the attacks"
  wait_for_files "$VELMORA_PDF_DIR" 2 || fail "$owner: the owner's jobs did not print"
  [ -n "$(find "$VELMORA_PDF_DIR" -name '*-Eigen.pdf')" ] || fail "$owner: the held job is lost"
  [ -z "$(find "$VELMORA_PDF_DIR" -name '*Fremd*')" ] || fail "$owner: $other's job was printed"
  [ -e "$T/fremd" ] && fail "$owner: the backend wrote where $other pointed it"

  # The socket's folder at the next start: a wrong mode is set right; a link, or a folder of
  # another user, is refused.
  HOME=$base as "$owner" bash "$SCRIPTS/pdf-queue.sh" stop "$client"
  chmod 777 "$sock_dir"
  start_again() {
    sock=$(HOME=$base as "$owner" bash "$SCRIPTS/pdf-queue.sh" start 2>>"$T/start.msg")
    local rc=$?
    pid=$(cat "$VELMORA_PDF_QUEUE_DIR/run/cupsd.pid" 2>/dev/null) && SCHEDULERS+=("$pid")
    HOME=$base as "$owner" bash "$SCRIPTS/pdf-queue.sh" stop
    return $rc
  }
  start_again || fail "$owner: start with a folder of the wrong mode: $(cat "$T/start.msg")"
  [ "$(stat -c %a "$sock_dir")" = 700 ] || fail "$owner: mode $(stat -c %a "$sock_dir") kept"
  mv "$sock_dir" "$sock_dir.echt" && ln -s "$sock_dir.echt" "$sock_dir"
  start_again && fail "$owner: a linked socket folder was taken"
  rm "$sock_dir" && mv "$sock_dir.echt" "$sock_dir" && chown "$other" "$sock_dir"
  start_again && fail "$owner: a socket folder of $other was taken"
  chown "$owner" "$sock_dir"
done

# ---- The test scheduler of scripts/testenv.sh --------------------------------------------------
[ "$(stat -c %a "$MACHINE_SOCK_DIR")" = 700 ] ||
  fail "testenv: the socket's folder has mode $(stat -c %a "$MACHINE_SOCK_DIR")"
reaches nobody "$MACHINE" && fail "testenv: nobody reaches the socket"
owner=root
lpadmin -p Zugriff -E -v "file://$T/zugriff.pdf" || fail "lpadmin on the test scheduler"
device=$(lpstat -v Zugriff)
id=$(lp -d Zugriff -H hold -t Eigen "$T/seite.pdf" | sed -n 's/^request id is \([^ ]*\) .*/\1/p')
chmod 755 "$MACHINE_SOCK_DIR"
reaches nobody "$MACHINE" || fail "testenv: the opened folder did not let nobody reach the socket"
attack nobody "$MACHINE" Zugriff "$id"
chmod 700 "$MACHINE_SOCK_DIR"
[ ${#let_in[@]} -eq 0 ] || fail "testenv: the scheduler let nobody: ${let_in[*]}"
[ "$(lpstat -v Zugriff)" = "$device" ] ||
  fail "testenv: the device changed: $(lpstat -v Zugriff 2>&1)"
lpstat -o Zugriff | grep -q "^$id " || fail "testenv: the held job $id is gone"
cancel "$id"
lpadmin -x Zugriff

# ---- The test environment's X server --------------------------------------------------------------
if [ -n "${DISPLAY:-}" ] && command -v xdpyinfo >/dev/null; then
  HOME=/ XAUTHORITY='' as nobody xdpyinfo >/dev/null 2>&1 && fail "testenv: nobody gets onto $DISPLAY"
  xdpyinfo >/dev/null 2>&1 || fail "testenv: the tests do not get onto $DISPLAY"
fi

[ "$failures" -eq 0 ] && echo "PASS"
exit $((failures > 0))
