#!/usr/bin/env bash
# Runs the print benchmark against the private scheduler of the test environment:
#   bench/print_bench.sh [build folder, default build-rel]
set -euo pipefail
cd "$(dirname "$0")/.."
B=${1:-build-rel}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF >/dev/null
cmake --build "$B" -j2 --target print_bench
bash scripts/testenv.sh "$B/bench/print_bench"
