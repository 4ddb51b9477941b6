#!/usr/bin/env bash
# Runs the scanner dialog's preview benchmark in a Release build with SANE's test scanner:
#   bench/scan_preview_bench.sh [build folder, default build-rel]
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-rel}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_BENCH=ON >/dev/null
cmake --build "$B" -j2 --target scan_preview_bench
bash scripts/testenv.sh "$B/bench/scan_preview_bench"
