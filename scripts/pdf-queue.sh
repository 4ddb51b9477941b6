#!/usr/bin/env bash
# A printer for every newcomer: on a machine whose printing system offers no printer at all (or
# where no CUPS scheduler runs), Velmora gets a print queue of its own, "Velmora-PDF", that puts
# every job as a PDF file into a folder. Nothing of the machine's own printing system is touched:
# the queue lives in a private CUPS scheduler that runs as the calling user, with its own
# configuration, spool and socket, and only the Velmora process is pointed at it (CUPS_SERVER).
# The scheduler belongs to the user who starts it: its socket lies in a folder only that user can
# enter, and its policy serves that user (and root) alone, since whoever may change the queue's
# device chooses where a backend run with the scheduler's rights writes.
#
#   pdf-queue.sh needed          exit status 0 when the printing system offers no printer
#   pdf-queue.sh start [CLIENT]  start the private scheduler (or join the running one), make sure
#                                the queue exists and is its default; prints the scheduler's
#                                socket on standard output and where the PDFs go on stderr
#   pdf-queue.sh stop [CLIENT]   the client is done; the last one out waits for the jobs still
#                                running (at most a minute) and stops the scheduler
#
# CLIENT is a process id (start.sh passes its own); a client that died no longer counts.
# Environment:
#   VELMORA_PDF_DIR          folder of the PDFs (default ~/Velmora-PDF)
#   VELMORA_PDF_QUEUE_DIR    the scheduler's own folder (default ~/.local/share/velmora/cups;
#                            for root /var/lib/velmora/cups, see below)
set -uo pipefail
# cupsd and lpadmin live in sbin, which a user's PATH often lacks.
export PATH=$PATH:/usr/sbin:/sbin

readonly QUEUE=Velmora-PDF
SCRIPTS=$(cd "$(dirname "$0")" && pwd)
readonly SCRIPTS
readonly SYSTEM_SERVERBIN=/usr/lib/cups
readonly PPD=/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd

# A scheduler started by root runs its filters as the unprivileged user "lp", which must be able
# to reach the spool and the queue's driver file; root's home is closed to it.
if [ "$(id -u)" -eq 0 ]; then
  DEFAULT_STATE=/var/lib/velmora/cups
else
  DEFAULT_STATE=${XDG_DATA_HOME:-$HOME/.local/share}/velmora/cups
fi
S=${VELMORA_PDF_QUEUE_DIR:-$DEFAULT_STATE}
PDF_DIR=${VELMORA_PDF_DIR:-$HOME/Velmora-PDF}
SOCK=$S/sock/cups.sock
PIDFILE=$S/run/cupsd.pid
OWNER=$(id -un)

say() { echo "pdf-queue: $*" >&2; }

# The folder exists, is no symbolic link and belongs to the caller; with a mode, it is set to it.
# Whoever else controls it could swap the socket, the configuration or the backend.
own_dir() {
  local d=$1 mode=${2:-}
  mkdir -p -- "$d" 2>/dev/null
  if [ -L "$d" ] || [ ! -d "$d" ] || [ "$(stat -c %u -- "$d")" != "$(id -u)" ]; then
    say "$d ist kein eigener Ordner von $OWNER (ein Verweis oder einem anderen Benutzer gehörend)"
    return 1
  fi
  [ -z "$mode" ] || chmod "$mode" -- "$d"
}

needed() {
  command -v lpstat >/dev/null 2>&1 || return 0
  # A remote scheduler that does not answer must not hold up the start.
  local printers
  printers=$(timeout 15 lpstat -e 2>/dev/null) || true
  [ -z "$printers" ]
}

private() { CUPS_SERVER=$SOCK "$@"; }

# The process the pid file names, if it is this queue's scheduler still: after a crash or a
# restart of the machine the number may belong to any other process, which must never be stopped.
scheduler_pid() {
  local pid
  pid=$(cat "$PIDFILE" 2>/dev/null) || return 1
  [[ $pid =~ ^[0-9]+$ ]] || return 1
  tr '\0' '\n' <"/proc/$pid/cmdline" 2>/dev/null | grep -qxF -- "$S/etc/cupsd.conf" || return 1
  echo "$pid"
}

running() {
  scheduler_pid >/dev/null &&
    # lpstat speaks the user's language; its exit status says nothing.
    private env LC_ALL=C LANG=C lpstat -r 2>/dev/null | grep -qx 'scheduler is running'
}

# Bytes of the folder that have no place in a URI as %XX.
uri_path() {
  local LC_ALL=C s=$1 out='' c i
  for ((i = 0; i < ${#s}; i++)); do
    c=${s:i:1}
    case $c in
      [A-Za-z0-9/._~-]) out+=$c ;;
      *) out+=$(printf '%%%02X' "'$c") ;;
    esac
  done
  printf '%s' "$out"
}

write_config() {
  # The name goes into the policy as it is: a name of other characters could say something else.
  if ! [[ $OWNER =~ ^[A-Za-z0-9_][A-Za-z0-9._-]*\$?$ ]]; then
    say "der Benutzername $OWNER passt nicht in die Zugriffsregeln des Druckdiensts"
    return 1
  fi
  own_dir "$S/sock" 0700 || return 1
  mkdir -p "$S"/{etc/ppd,spool/tmp,cache,run,log,lib/backend} || return 1
  chmod 755 "$S" "$S/lib" "$S/lib/backend"
  # The scheduler finds filters, drivers and helpers under its ServerBin: the system's own, and
  # beside them a backend folder that holds only ours. Mode 0700 lets a scheduler started by root
  # run it as root, so it can write into root's folder (a scheduler of a user runs it as that user).
  local d
  for d in daemon filter cgi-bin driver monitor notifier; do
    [ -e "$SYSTEM_SERVERBIN/$d" ] && ln -sfn "$SYSTEM_SERVERBIN/$d" "$S/lib/$d"
  done
  install -m 0700 "$SCRIPTS/cups-backend-velmora-pdf" "$S/lib/backend/velmora-pdf" || return 1
  cat >"$S/etc/cups-files.conf" <<CONF
ServerRoot $S/etc
ServerBin $S/lib
RequestRoot $S/spool
TempDir $S/spool/tmp
CacheDir $S/cache
StateDir $S/run
AccessLog $S/log/access_log
ErrorLog $S/log/error_log
PageLog $S/log/page_log
Printcap $S/etc/printcap
SystemGroup root
LogFileGroup root
CONF
  cat >"$S/etc/cupsd.conf" <<CONF
Listen $SOCK
# Its own name, so that the start never waits for a name service.
ServerName localhost
LogLevel warn
MaxLogSize 1m
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultShared No
PreserveJobHistory No
ErrorPolicy abort-job
# Clients on the socket are known by their process credentials (PeerCred): everything, jobs and
# administration alike, is for the owner and root only, also should the socket's folder be opened.
<Location />
  AuthType Default
  Require user $OWNER root
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  AuthType Default
  Require user $OWNER root
  Order allow,deny
  Allow all
</Location>
<Policy default>
  JobPrivateAccess default
  JobPrivateValues default
  SubscriptionPrivateAccess default
  SubscriptionPrivateValues default
  <Limit All>
    AuthType Default
    Require user $OWNER root
    Order deny,allow
  </Limit>
</Policy>
CONF
}

start_scheduler() {
  running && return 0
  if ! command -v cupsd >/dev/null 2>&1; then
    say "cupsd fehlt (Paket cups): keine PDF-Warteschlange"
    return 1
  fi
  # A Unix socket path has room for 107 bytes.
  if [ ${#SOCK} -gt 100 ]; then
    say "Pfad zu lang für den Socket: $SOCK (VELMORA_PDF_QUEUE_DIR kürzer wählen)"
    return 1
  fi
  write_config || { say "$S kann nicht angelegt werden"; return 1; }
  # One that does not answer on the socket (hung, or started with another configuration) goes.
  stop_scheduler
  rm -f "$SOCK"
  # The scheduler must not inherit the lock (fd 9) nor the caller's output, or the caller would
  # wait for it. It leads a process group of its own, so that stopping it also ends whatever it
  # started and has not reaped (a filter, a backend).
  setsid cupsd -f -c "$S/etc/cupsd.conf" -s "$S/etc/cups-files.conf" \
    </dev/null >>"$S/log/cupsd.out" 2>&1 9>&- &
  local started=$! _
  echo "$started" >"$PIDFILE"
  # Usually a fraction of a second; a machine busy with other work may take far longer.
  for _ in $(seq 300); do
    running && return 0
    kill -0 "$started" 2>/dev/null || break
    sleep 0.1
  done
  say "der Druckdienst startet nicht (siehe $S/log)"
  stop_scheduler
  return 1
}

stop_scheduler() {
  local pid _
  if pid=$(scheduler_pid); then
    kill -- "-$pid" 2>/dev/null || kill "$pid"
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 -- "-$pid" 2>/dev/null
  fi
  rm -f "$PIDFILE"
}

make_queue() {
  local args=(-p "$QUEUE" -E -v "velmora-pdf://$(uri_path "$PDF_DIR")" -D "PDF-Dateien in $PDF_DIR"
    -L "$PDF_DIR")
  # With the Generic PDF driver the queue offers the usual papers and reports the printable area
  # of a real sheet; without it the job is passed on as it comes (Velmora sends PDF anyway).
  [ -r "$PPD" ] && args+=(-P "$PPD" -o PageSize=A4)
  private lpadmin "${args[@]}" && private lpadmin -d "$QUEUE"
}

# Clients are files named by process id; the dead ones are swept away.
live_clients() {
  local f pid n=0
  for f in "$S"/clients/*; do
    [ -e "$f" ] || continue
    pid=${f##*/}
    if kill -0 "$pid" 2>/dev/null; then n=$((n + 1)); else rm -f "$f"; fi
  done
  echo $n
}

lock() {
  own_dir "$S" && own_dir "$S/run" && exec 9>"$S/run/lock" && flock 9
}

client=${2:-}
case $client in
  *[!0-9]*)
    echo "pdf-queue: $client ist keine Prozessnummer" >&2
    exit 2
    ;;
esac

case ${1:-} in
  needed)
    needed
    ;;
  start)
    lock || { say "$S kann nicht angelegt werden"; exit 1; }
    start_scheduler || exit 1
    if ! make_queue >>"$S/log/lpadmin.out" 2>&1; then
      say "die Warteschlange $QUEUE lässt sich nicht einrichten (siehe $S/log/lpadmin.out)"
      [ "$(live_clients)" -gt 0 ] || stop_scheduler
      exit 1
    fi
    mkdir -p "$S/clients" "$PDF_DIR"
    [ -n "$client" ] && : >"$S/clients/$client"
    say "Kein Drucker eingerichtet: Velmora druckt über die Warteschlange $QUEUE als PDF nach $PDF_DIR"
    echo "$SOCK"
    ;;
  stop)
    [ -d "$S/run" ] || exit 0
    lock || exit 1
    [ -n "$client" ] && rm -f "$S/clients/$client"
    [ "$(live_clients)" -gt 0 ] && exit 0
    if running; then
      # A job printed just before the program ended is still on its way into the folder.
      for _ in $(seq 600); do
        [ -z "$(private lpstat -o 2>/dev/null)" ] && break
        sleep 0.1
      done
    fi
    stop_scheduler
    ;;
  *)
    echo "usage: $0 needed | start [CLIENT-PID] | stop [CLIENT-PID]" >&2
    exit 2
    ;;
esac
