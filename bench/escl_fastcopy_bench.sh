#!/usr/bin/env bash
# Fast copy of three feeder sheets from the driverless test scanner (tests/support/escl-scanner.py
# through sane-airscan), held to about a second a sheet at 300 dpi colour like a real device, into
# a CUPS file: queue, against scanimage --batch of the same sheets in the same run (0.5 s of
# waiting a page gives scanimage about 0.95 s a sheet over loopback):
#   bench/escl_fastcopy_bench.sh [build folder, default build-rel] [seconds a page, default 0.5]
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-rel}
DELAY=${2:-0.5}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_BENCH=ON >/dev/null
cmake --build "$B" -j2 --target fastcopy_bench
# The scanner's configuration goes into the test environment's own folder, which it removes.
bash scripts/testenv.sh bash -c '
  set -u
  python3 tests/support/escl-scanner.py --sheets 3 --delay "$2" --sane-dir "$VELMORA_TEST_TMP/escl" \
    --port-file "$VELMORA_TEST_TMP/escl.port" >/dev/null &
  server=$!
  for _ in $(seq 100); do [ -s "$VELMORA_TEST_TMP/escl.port" ] && break; sleep 0.1; done
  SANE_CONFIG_DIR=$VELMORA_TEST_TMP/escl "$1/bench/fastcopy_bench" escl
  rc=$?
  kill "$server"
  exit $rc
' bench "$B" "$DELAY"
