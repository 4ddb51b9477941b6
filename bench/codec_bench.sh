#!/usr/bin/env bash
# Velmora's JPEG codec and picture saving against libjpeg-turbo's own tools, on the same files in
# one run: a 300-dpi A4 colour page (2480 × 3508) made with ImageMagick, encoded with
# "cjpeg -quality 90 -baseline".
#
#   decode:   opening the page (read + decode)            vs  djpeg -outfile /dev/null page.jpg
#   encode:   encoding the page into memory,
#             and saving it as a new .jpg (incl. fsync)   vs  cjpeg -quality 90 -baseline page.ppm
#   save all: 20 pages as Pic001.jpg … Pic020.jpg         vs  20 cjpeg runs one after the other
#   memory:   20 opened pages held at once, resident bytes against their raw RGB pixels
#
# Figures are medians. Ours come from bench/codec_bench.cpp (Google Benchmark, Release build in
# build-codec-release, or $VELMORA_BENCH_BUILD); the tools' from timed loops of whole runs, so
# their process start is included, as the program's file command includes nothing of the kind.
#
#   bench/codec_bench.sh [repetitions]
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-15}
build=${VELMORA_BENCH_BUILD:-build-codec-release}

for tool in convert cjpeg djpeg python3; do
    command -v "$tool" >/dev/null || { echo "codec_bench: $tool is missing (scripts/install-deps.sh)" >&2; exit 2; }
done

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORA_TESTS=OFF \
    -DVELMORA_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target codec_bench >/dev/null

T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
# A page as scanned: white paper, a photo with sensor noise, a colour gradient and text.
convert -size 2480x3508 xc:white \
    \( -size 2200x1400 plasma:fractal -blur 0x1 -attenuate 0.4 +noise Gaussian \) \
    -geometry +140+300 -composite \
    \( -size 2200x900 gradient:'#3060c0'-'#f0e0a0' \) -geometry +140+1900 -composite \
    -fill black -pointsize 40 -draw "text 140,2950 'Velmora Testseite mit Text und Farbverlauf'" \
    -pointsize 28 -draw "text 140,3050 'Lorem ipsum dolor sit amet, consectetur adipiscing elit.'" \
    -depth 8 "$T/page.ppm"
cjpeg -quality 90 -baseline -outfile "$T/page.jpg" "$T/page.ppm"
mkdir -p "$T/out"

# Median wall time in milliseconds of `reps` runs of a command.
median_ms() {
    local times=()
    for _ in $(seq "$reps"); do
        local start end
        start=$(date +%s%N)
        "$@"
        end=$(date +%s%N)
        times+=("$(( (end - start) / 1000 ))")
    done
    printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "%.2f", a[int((NR+1)/2)]/1000}'
}

twenty_cjpeg() {
    for i in $(seq 20); do
        cjpeg -quality 90 -baseline -outfile "$T/out/c$i.jpg" "$T/page.ppm"
    done
}

# Warm the page cache and the tools.
djpeg -outfile /dev/null "$T/page.jpg"
cjpeg -quality 90 -baseline -outfile /dev/null "$T/page.ppm"

export VELMORA_BENCH_JPEG="$T/page.jpg" VELMORA_BENCH_DIR="$T/out"
"$build/bench/codec_bench" --benchmark_filter=Memory --benchmark_format=json \
    >"$T/memory.json" 2>/dev/null
"$build/bench/codec_bench" --benchmark_filter='Load|Encode|Save' \
    --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true \
    --benchmark_format=json >"$T/ours.json" 2>/dev/null

djpeg_ms=$(median_ms djpeg -outfile /dev/null "$T/page.jpg")
cjpeg_ms=$(median_ms cjpeg -quality 90 -baseline -outfile "$T/out/c.jpg" "$T/page.ppm")
reps_saved=$reps
reps=$(( reps < 5 ? reps : 5 ))
cjpeg20_ms=$(median_ms twenty_cjpeg)
reps=$reps_saved

python3 - "$T/ours.json" "$T/memory.json" "$djpeg_ms" "$cjpeg_ms" "$cjpeg20_ms" \
    "$(stat -c %s "$T/page.jpg")" <<'PY'
import json, sys
ours = {b["run_name"].split("/")[0]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
memory = json.load(open(sys.argv[2]))["benchmarks"][0]
djpeg, cjpeg, cjpeg20, size = map(float, sys.argv[3:7])
print("300-dpi A4 colour page, 2480 x 3508, quality-90 baseline JPEG of %.0f KB" % (size / 1024))
print("%-44s %10s %10s %7s" % ("", "ours ms", "tool ms", "ratio"))
rows = [
    ("decode (open page.jpg) vs djpeg", "BM_LoadJpegFile", djpeg),
    ("encode into memory vs cjpeg", "BM_EncodeJpeg", cjpeg),
    ("save as new .jpg (fsync) vs cjpeg", "BM_SaveBitmapAsJpeg", cjpeg),
    ("save all 20 pages vs 20 x cjpeg", "BM_SaveAll20AsJpeg", cjpeg20),
]
for label, name, tool in rows:
    t = ours[name]
    print("%-44s %10.2f %10.2f %7.2f" % (label, t, tool, t / tool))
print("memory of 20 opened pages: %.1f MB resident for %.1f MB raw RGB pixels "
      "(+ %.1f MB JPEG bytes): %.3f x raw"
      % (memory["rss_MB"], memory["raw_MB"], memory["jpeg_MB"], memory["rss_per_raw"]))
PY
