#!/usr/bin/env bash
# Runs the fast-copy benchmark in a Release build against the test environment's scheduler and
# SANE test scanner:
#   bench/fastcopy_bench.sh [build folder, default build-rel]
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-rel}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF -DVELMORA_BENCH=ON >/dev/null
cmake --build "$B" -j2 --target fastcopy_bench
# First with the test scanner at memory speed, then held back to about a second per A4 page.
bash scripts/testenv.sh "$B/bench/fastcopy_bench"
echo
bash scripts/testenv.sh "$B/bench/fastcopy_bench" 7000
