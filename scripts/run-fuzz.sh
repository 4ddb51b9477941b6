#!/bin/sh
# Builds the libFuzzer harnesses in <build-dir> (configured on first use with clang-14 and the
# sanitizers) and runs each for <seconds>. Exits non-zero when any harness finds a crash, a
# leak, undefined behaviour, a timeout or an out-of-memory; the reproducer is left in
# <build-dir>/fuzz-findings/<harness>/.
#
#   scripts/run-fuzz.sh build-fuzz 30
set -eu

if [ $# -ne 2 ]; then
    echo "usage: $0 <build-dir> <seconds>" >&2
    exit 2
fi
build=$1
seconds=$2
src=$(cd "$(dirname "$0")/.." && pwd)
# Every harness fuzz/CMakeLists.txt registers; the seeds of <name>_fuzzer are in fuzz/corpus/<name>.
# The metafile harnesses also start from the samples of outside encoders that the tests use
# (tests/data/metafiles; each harness skips the files of the other kind).
harnesses=$(sed -n 's/^velmora_fuzzer(\([A-Za-z0-9_]*\)).*/\1/p' "$src/fuzz/CMakeLists.txt")
if [ -z "$harnesses" ]; then
    echo "no harnesses registered in fuzz/CMakeLists.txt" >&2
    exit 2
fi

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$src" -B "$build" -G Ninja \
        -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DVELMORA_FUZZ=ON -DVELMORA_SANITIZE=ON -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF
elif ! grep -q '^CMAKE_CXX_COMPILER:.*clang' "$build/CMakeCache.txt"; then
    echo "$build was configured without clang; use a fresh build folder" >&2
    exit 2
fi
# Only the harnesses: the fuzz build never links the program itself.
# shellcheck disable=SC2086
cmake --build "$build" -j2 --target $harnesses

export ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=1"
# Fonts are looked up through fontconfig, whose process-lifetime caches are no leak of Velmora's.
export LSAN_OPTIONS="${LSAN_OPTIONS:-}${LSAN_OPTIONS:+:}suppressions=$src/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-}${UBSAN_OPTIONS:+:}print_stacktrace=1:halt_on_error=1"

status=0
for harness in $harnesses; do
    kind=${harness%_fuzzer}
    corpus="$build/fuzz-corpus/$kind"   # grows; the seeds in the source tree stay untouched
    findings="$build/fuzz-findings/$harness"
    seeds="$src/fuzz/corpus/$kind"
    rm -rf "$findings" # reproducers of an earlier run belong to that run
    mkdir -p "$corpus" "$findings"
    [ -d "$seeds" ] || seeds=
    case $kind in
    emf | wmf) seeds="$seeds $src/tests/data/metafiles" ;;
    esac
    echo "== $harness for ${seconds}s"
    # shellcheck disable=SC2086
    if ! "$build/fuzz/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" $seeds; then
        status=1
    fi
    # A finding is a reproducer file, whatever libFuzzer's exit status was.
    if [ -n "$(ls -A "$findings")" ]; then
        echo "$harness: findings in $findings:" >&2
        ls "$findings" >&2
        status=1
    fi
done
exit $status
