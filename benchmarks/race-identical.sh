#!/usr/bin/env bash
# The identical-files race: builds trees of 50,000 and 200,000 files (make_tree.py), checks
# that Twinsifter's groups agree with fdupes' on them, then times twinsifter-cli, fdupes,
# jdupes and rmlint on each with hyperfine (warm cache, side by side in one run) and prints
# the README's table. Usage: benchmarks/race-identical.sh [work folder]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-/tmp/twinsifter-race}
missing=()
for tool in fdupes jdupes rmlint hyperfine python3; do command -v "$tool" >/dev/null || missing+=("$tool"); done
if [[ ${#missing[@]} -gt 0 ]]; then
  apt-get update >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null
fi
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build --target twinsifter-cli >/dev/null
cli=$PWD/build/bin/twinsifter-cli
mkdir -p "$work"
export TWINSIFTER_HOME="$work/home"

echo "| files | twinsifter-cli (MD5) | fdupes | jdupes | rmlint | groups agree with fdupes |"
echo "|---|---|---|---|---|---|"
for files in 50000 200000; do
  tree="$work/tree-$files"
  [[ -d "$tree" ]] || python3 benchmarks/make_tree.py "$tree" "$files" 1 20000
  agree=$(benchmarks/compare-with-fdupes.sh "$tree" | tail -1 || true)
  hyperfine --warmup 1 --runs 3 --export-json "$work/times-$files.json" --style none \
    -n twinsifter "$cli --quiet --json $tree > /dev/null" \
    -n fdupes "fdupes -r -A -n -q $tree > /dev/null" \
    -n jdupes "jdupes -r -A -q $tree > /dev/null" \
    -n rmlint "cd $work && rmlint -T df -o json:/dev/null $tree > /dev/null" >/dev/null
  python3 - "$work/times-$files.json" "$files" "$agree" <<'PY'
import json, sys
runs = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
cell = lambda name: f"{runs[name]['median']:.2f} s" if name in runs else "-"
print(f"| {int(sys.argv[2]):,} | " + " | ".join(cell(n) for n in ("twinsifter", "fdupes", "jdupes", "rmlint")) + f" | {sys.argv[3]} |")
PY
done
