#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while.
#   scripts/fuzz.sh [SECONDS per target, default 300]
# FUZZ_TARGETS picks some of them: FUZZ_TARGETS="fuzz_jpeg fuzz_png" scripts/fuzz.sh 600
# The build folder is $FUZZ_BUILD (default build-fuzz); corpora stay in its corpus/<target>/,
# crash files in the folder itself.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-300}
build=${FUZZ_BUILD:-build-fuzz}

scripts/install-deps.sh
# clang is for fuzzing only, so the install script does not carry it.
if ! command -v clang++ >/dev/null; then
  sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends clang
fi

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTWINSIFTER_FUZZ=ON -DTWINSIFTER_BENCHMARKS=OFF
targets=(${FUZZ_TARGETS:-fuzz_settings fuzz_cache fuzz_session fuzz_jpeg fuzz_png fuzz_own})
cmake --build "$build" -j2 --target "${targets[@]}" fuzz_seeds
mkdir -p "$build/corpus/fuzz_jpeg" "$build/corpus/fuzz_png"
if [[ -z $(ls -A "$build/corpus/fuzz_jpeg") ]]; then
  "$build/bin/fuzz_seeds" "$build/corpus/fuzz_jpeg" "$build/corpus/fuzz_png"
fi

status=0
for target in "${targets[@]}"; do
  mkdir -p "$build/corpus/$target"
  echo "== $target for ${seconds}s" >&2
  (cd "$build" && "./bin/$target" -max_total_time="$seconds" -max_len=70000 -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 "corpus/$target") || status=1
done
exit $status
