#!/usr/bin/env bash
# Runs twinsifter-cli and fdupes on the same folders, with hidden and empty files left out on
# both sides, and compares their duplicate groups. Usage: benchmarks/compare-with-fdupes.sh FOLDER...
set -euo pipefail
cd "$(dirname "$0")/.."
[[ $# -gt 0 ]] || { echo "usage: $0 FOLDER..." >&2; exit 2; }
command -v fdupes >/dev/null || { apt-get install -y --no-install-recommends fdupes python3 >/dev/null; }
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target twinsifter-cli >/dev/null
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
TWINSIFTER_HOME="$out" build/bin/twinsifter-cli --quiet --json --method bytes "$@" >"$out/twinsifter.json" || true
fdupes -r -A -n "$@" >"$out/fdupes.txt" 2>/dev/null || true
python3 benchmarks/compare_groups.py "$out/twinsifter.json" "$out/fdupes.txt"
