#!/usr/bin/env bash
# Builds Velmora and starts it on the current display: scripts/start.sh [picture files] [-i file.ini]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

B=${VELMORA_BUILD:-build}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF \
  -DVELMORA_BENCH=OFF >/dev/null
cmake --build "$B" -j2 --target velmora

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "Velmora braucht eine grafische Anzeige, DISPLAY ist nicht gesetzt: starten Sie es mit 'xvfb-run -s \"-screen 0 1280x1024x24\" bash scripts/start.sh'." >&2
  exit 1
fi
# A machine without any scanner gets SANE's test scanner, for this Velmora only; with real
# scanners nothing changes. VELMORA_TEST_SCANNER=no switches this off.
if [ "${VELMORA_TEST_SCANNER:-yes}" != no ] && bash scripts/sane-test-scanner.sh needed; then
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
