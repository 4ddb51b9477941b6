#!/usr/bin/env bash
# Builds Velmora with every warning as an error and with AddressSanitizer + UndefinedBehavior-
# Sanitizer, runs the whole test suite inside the private test environment (scripts/testenv.sh),
# then runs the fuzz harnesses for 30 seconds each.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

B=${VELMORA_TEST_BUILD:-build-test}
cmake -S . -B "$B" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELMORA_WERROR=ON -DVELMORA_SANITIZE=ON \
  -DVELMORA_TESTS=ON -DVELMORA_BENCH=ON >/dev/null
cmake --build "$B" -j2

# Qt, fontconfig and the X libraries keep process-lifetime caches that LeakSanitizer would report.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
bash scripts/testenv.sh ctest --test-dir "$B" --output-on-failure -j2 --timeout 600

bash scripts/run-fuzz.sh "${VELMORA_FUZZ_BUILD:-build-fuzz}" "${VELMORA_FUZZ_SECONDS:-30}"
