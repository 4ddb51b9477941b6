#!/usr/bin/env bash
# Runs a command inside Velmora's private test environment:
#   scripts/testenv.sh <command> [args...]
# - a temporary HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR (nothing of the user's settings is seen),
# - a virtual X server (Xvfb) on a free display, exported as DISPLAY (with its cookie in
#   XAUTHORITY) for tests that need a real window system (widget tests themselves use the
#   offscreen platform),
# - a private CUPS scheduler on a socket in the temporary folder (CUPS_SERVER), with no printers:
#   tests add their own file: queues with lpadmin, or velmora-pdf:///folder queues that keep
#   every job in a file of its own,
# - SANE restricted to its test backend (SANE_CONFIG_DIR).
# Everything started here is stopped by process id when the command ends, also when it fails or
# is interrupted. The machine's own printers, scanners and settings are never touched.
set -uo pipefail

T=$(mktemp -d /tmp/velmora-test.XXXXXX)
# CUPS runs its filters as the unprivileged lp user: they must be able to reach the queues' output.
chmod 755 "$T"
PIDS=()

cleanup() {
  local pid
  for pid in "${PIDS[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${PIDS[@]}"; do
    # wait only works for our own children; poll for the rest
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
  done
  [ -n "${VELMORA_KEEP_TESTENV:-}" ] || rm -rf "$T"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export HOME=$T/home XDG_CONFIG_HOME=$T/home/.config XDG_RUNTIME_DIR=$T/runtime
mkdir -p "$HOME" "$XDG_CONFIG_HOME" && mkdir -m700 "$XDG_RUNTIME_DIR"
unset APPDATA PRINTER LPDEST
export VELMORA_TEST_TMP=$T
# Qt reads the number format from these; the copier's tests expect the German one.
export LANG=de_DE.UTF-8 LC_ALL= LANGUAGE=de

# Only clients that know the server's cookie get in: without it every local user could watch the
# tests' windows and type into a program under test, which may run as root.
start_xvfb() {
  local n cookie
  export XAUTHORITY=$T/xauthority
  (umask 077 && : >"$XAUTHORITY") || return 1
  cookie=$(od -An -N16 -tx1 /dev/urandom | tr -d ' \n')
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    xauth -q add ":$n" . "$cookie" || return 1
    Xvfb ":$n" -auth "$XAUTHORITY" -screen 0 1280x1024x24 -dpi 96 -nolisten tcp \
      >"$T/xvfb.log" 2>&1 &
    local pid=$!
    PIDS+=("$pid")
    for _ in $(seq 100); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  echo "testenv: could not start Xvfb" >&2
  return 1
}

start_cups() {
  local c=$T/cups d user
  user=$(id -un)
  mkdir -p "$c"/{etc/ppd,spool/tmp,cache,run,log,lib/backend} "$T/out"
  # The socket's folder is the tester's alone; the rest stays open to the filters' lp user.
  mkdir -m 0700 "$c/sock"
  chmod 755 "$c" "$c/lib" "$c/lib/backend"
  # The system's filters, drivers and backends, and beside them Velmora's PDF backend, which
  # stores every job in a file of its own (velmora-pdf:///folder); mode 0700 runs it as root.
  local serverbin=/usr/lib/cups
  for d in daemon filter cgi-bin driver monitor notifier; do
    [ -e "$serverbin/$d" ] && ln -sfn "$serverbin/$d" "$c/lib/$d"
  done
  for d in "$serverbin"/backend/*; do
    [ -e "$d" ] && ln -sfn "$d" "$c/lib/backend/"
  done
  install -m 0700 "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/cups-backend-velmora-pdf" \
    "$c/lib/backend/velmora-pdf"
  cat >"$c/etc/cups-files.conf" <<CONF
ServerRoot $c/etc
ServerBin $c/lib
RequestRoot $c/spool
TempDir $c/spool/tmp
CacheDir $c/cache
StateDir $c/run
AccessLog $c/log/access_log
ErrorLog $c/log/error_log
PageLog $c/log/page_log
Printcap $c/etc/printcap
FileDevice Yes
SystemGroup root
LogFileGroup root
CONF
  cat >"$c/etc/cupsd.conf" <<CONF
Listen $c/sock/cups.sock
LogLevel info
Browsing No
BrowseLocalProtocols none
WebInterface No
DefaultShared No
ErrorPolicy abort-job
# For the user running the tests (and root) only, known by the socket's peer credentials: other
# users of the machine neither see the test jobs nor change the queues.
<Location />
  AuthType Default
  Require user $user root
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  AuthType Default
  Require user $user root
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
    Require user $user root
    Order deny,allow
  </Limit>
</Policy>
CONF
  cupsd -f -c "$c/etc/cupsd.conf" -s "$c/etc/cups-files.conf" >"$c/log/cupsd.out" 2>&1 &
  PIDS+=("$!")
  export CUPS_SERVER=$c/sock/cups.sock VELMORA_TEST_CUPS_DIR=$c VELMORA_TEST_OUT=$T/out
  for _ in $(seq 100); do
    lpstat -r >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "testenv: could not start cupsd (see $c/log)" >&2
  return 1
}

setup_sane() {
  mkdir -p "$T/sane" && echo test >"$T/sane/dll.conf"
  if [ -f /etc/sane.d/test.conf ]; then
    sed -e 's/^number_of_devices.*/number_of_devices 1/' -e 's/^geometry_max.*/geometry_max 300.0/' \
        -e 's/^br_x.*/br_x 210.0/' -e 's/^br_y.*/br_y 297.0/' -e 's/^mode.*/mode Color/' \
        -e 's/^resolution .*/resolution 300/' -e 's/^test-picture.*/test-picture "Color pattern"/' \
        /etc/sane.d/test.conf >"$T/sane/test.conf"
  fi
  export SANE_CONFIG_DIR=$T/sane
}

start_xvfb || exit 1
start_cups || exit 1
setup_sane

"$@"
