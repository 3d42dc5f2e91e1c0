#!/usr/bin/env bash
# Builds the benchmarks in Release and prints their figures as the README's table, all measured
# in this one run. Usage: benchmarks/run.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTWINSIFTER_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target bench_picture bench_picture_memory bench_cache bench_removal >/dev/null

csv=$(mktemp)
trap 'rm -f "$csv"' EXIT
for bench in bench_picture bench_cache; do
  "$build/bin/$bench" --benchmark_format=csv --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -v '^name,' >>"$csv"
done

# The median of a benchmark: "<time> <unit>".
median() { awk -F, -v name="\"$1_median\"" '$1 == name { printf "%.3g %s", $4, $5 }' "$csv"; }
rate() { awk -F, -v name="\"$1_median\"" '$1 == name { printf "%.0f", $11 }' "$csv"; }
memory() { "$build/bin/bench_picture_memory" "$@" | sed -E 's/.*peak resident ([0-9.]+) MB.*/\1 MB/'; }

cat <<TABLE
| measurement (this machine, $(date +%Y-%m-%d); medians of 5, CPU time) | figure | goal |
|---|---|---|
| libjpeg-turbo's own full decode, 2560 x 1600 JPEG | $(median LibjpegFullDecode) ($(rate LibjpegFullDecode) MP/s) | yardstick |
| our JPEG path (decode and sample), same file | $(median LoadJpeg) ($(rate LoadJpeg) MP/s) | within 10 % of the yardstick |
| our PNG path, 2560 x 1600 PNG | $(median LoadPng) ($(rate LoadPng) MP/s) | |
| analysis after decoding, unchanged picture only | $(median AnalyseLoaded/1) | |
| analysis after decoding, all five variants | $(median AnalyseLoaded/63) | under 0.5 ms |
| CompareTraces, two L-traces | $(median CompareLTraces) | under 100 ns |
| CompareTraces, two H-traces | $(median CompareHTraces) | |
| peak memory, analysing a 100-megapixel JPEG | $(memory 100 jpeg) | under 64 MB |
| peak memory, analysing a 100-megapixel PNG | $(memory 100 png) | |
| peak memory, a 100-megapixel progressive JPEG | $(memory 100 progressive) | libjpeg keeps all coefficients |
| signature cache of 50,000 pictures: opening it | $(median BM_CacheOpen) | under 50 ms |
| signature cache: a complete hit, unchanged picture | $(median BM_CacheHitOriginal) | under 50 us |
| signature cache: a complete hit, all six variants | $(median BM_CacheHitAllVariants) | under 50 us |
| signature cache: a name it does not hold | $(median BM_CacheFindMissing) | |
TABLE

echo
# Checking every removal: the byte comparison reads each marked file and its twin once.
"$build/bin/bench_removal" 10000
