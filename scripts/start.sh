#!/usr/bin/env bash
# Builds Velmora and starts it on the current display: scripts/start.sh [picture files] [-i file.ini]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

# Whether SANE finds any scanner (sane-airscan's network discovery included) is asked while the
# program builds: probing every backend takes seconds (3.4 s on a machine without scanners,
# up to 5 s more where an mDNS daemon runs and sane-airscan waits for its answers).
probe=
if [ "${VELMORA_TEST_SCANNER:-yes}" != no ]; then
  probe=$(mktemp)
  trap 'rm -f "$probe"' EXIT
  { bash scripts/sane-test-scanner.sh needed; echo $? >"$probe"; } &
fi

B=${VELMORA_BUILD:-build}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF \
  -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$B" -j2 --target velmora

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Velmora braucht eine grafische Anzeige, DISPLAY ist nicht gesetzt: starten Sie es mit 'xvfb-run -s \"-screen 0 1280x1024x24\" bash scripts/start.sh'." >&2
  exit 1
fi
# A machine without any scanner gets SANE's test scanner, for this Velmora only; with real
# scanners (USB, network, driverless) nothing changes. VELMORA_TEST_SCANNER=no switches this off.
needed=1
if [ -n "$probe" ]; then
  wait
  needed=$(cat "$probe")
  rm -f "$probe"
fi
if [ "$needed" = 0 ]; then
  if dir=$(bash scripts/sane-test-scanner.sh config); then
    export SANE_CONFIG_DIR=$dir
    echo "Velmora: kein Scanner gefunden, verwende den SANE-Testscanner ($dir)." >&2
  fi
fi
# A machine without any printer gets Velmora's own PDF queue, for this Velmora only; with real
# printers nothing changes. VELMORA_PDF_QUEUE=no switches this off.
if [ "${VELMORA_PDF_QUEUE:-yes}" != no ] && bash scripts/pdf-queue.sh needed; then
  if sock=$(bash scripts/pdf-queue.sh start $$); then
    trap 'bash scripts/pdf-queue.sh stop $$' EXIT
    rc=0
    CUPS_SERVER=$sock "$B/velmora" "$@" || rc=$?
    exit $rc
  fi
fi
exec "$B/velmora" "$@"
