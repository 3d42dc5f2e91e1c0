#!/usr/bin/env bash
# The race: Twinsifter beside the duplicate finders Debian ships, on the same trees in one run.
#  - identical files: a tree of 200,000 files (make_tree.py: one in ten a copy, one in twenty a
#    same-size decoy), twinsifter-cli, fdupes, jdupes and rmlint in interleaved rounds with a warm
#    cache, then once each with a cold cache where the page cache can be dropped; the groups are
#    checked against fdupes';
#  - pictures: 5,000 pictures (4,000 tiles of real photographs in eight orientations, 1,000 copies
#    derived from them),
#    twinsifter-cli --visual at its defaults beside findimagedupes at its defaults, end to end,
#    recall and precision of the derived copies; the preprocessing on two cores against one;
#  - memory: bytes per plain file record beyond its path (bench_records_memory, and the command
#    line's peak).
# Prints the table the README shows and keeps it in WORK/race.md.
# Usage: benchmarks/race.sh [WORK_FOLDER]   (default /tmp/twinsifter-race; the corpora stay there
# and are made again only when missing). RACE_FILES, RACE_PICTURES and RACE_ROUNDS make it smaller;
# RACE_PAIRS=1 adds benchmarks/visual-pairs.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(realpath -m "${1:-/tmp/twinsifter-race}")
case "$work/" in "$repo"/*) echo "$0: keep the work folder out of the repository" >&2; exit 2 ;; esac
files=${RACE_FILES:-200000}
pictures=${RACE_PICTURES:-5000}
rounds=${RACE_ROUNDS:-5}
copies=$((pictures / 5))
build=$repo/build-bench

log() { echo "$(date +%T) $*" >&2; }
load() { cut -d' ' -f1 /proc/loadavg; }

benchmarks/install-peers.sh
scripts/install-deps.sh
log "Building twinsifter-cli (Release) ..."
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTWINSIFTER_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target twinsifter-cli bench_records_memory -j2 >/dev/null
cli=$build/bin/twinsifter-cli
mkdir -p "$work"
load_start=$(load)

# Whether the page cache can be dropped here (root, and /proc/sys writable).
drop_caches() { sync && echo 3 >/proc/sys/vm/drop_caches; }
if drop_caches 2>/dev/null; then cold=yes; else cold=no; fi

# ---------------------------------------------------------------- identical files
tree=$work/tree-$files
if [[ ! -f "$tree.done" ]]; then
  log "Making $files files ..."
  rm -rf "$tree"
  python3 benchmarks/make_tree.py "$tree" "$files" 1 20000
  touch "$tree.done"
fi
ts_home=$work/home
mkdir -p "$ts_home"
declare -A commands=(
  [twinsifter]="TWINSIFTER_HOME=$ts_home $cli --quiet --json $tree >/dev/null"
  [fdupes]="fdupes -r -A -n -q $tree >/dev/null"
  [jdupes]="jdupes -r -A -q $tree >/dev/null"
  [rmlint]="cd $work && rmlint -T df -o json:/dev/null $tree >/dev/null"
)
tools=(twinsifter fdupes jdupes rmlint)

log "Checking the groups against fdupes ..."
TWINSIFTER_HOME=$ts_home "$cli" --quiet --json "$tree" >"$work/identical-twinsifter.json"
fdupes -r -A -n -q "$tree" >"$work/identical-fdupes.txt"
agree=$(python3 benchmarks/compare_groups.py "$work/identical-twinsifter.json" "$work/identical-fdupes.txt" | tail -1 || true)

# Rounds of one run of each tool after another, so that a change of the machine's load falls on
# all of them alike; the first round only warms the page cache.
hyperfine_args() { for tool in "${tools[@]}"; do printf '%s\0%s\0%s\0' -n "$tool" "${commands[$tool]}"; done; }
mapfile -d '' -t race_args < <(hyperfine_args)
rm -f "$work"/identical-warm-*.json
for ((round = 0; round <= rounds; ++round)); do
  log "Identical files, warm round $round of $rounds ..."
  hyperfine --runs 1 --style none --export-json "$work/identical-warm-$round.json" "${race_args[@]}" >/dev/null
done
rm -f "$work/identical-warm-0.json"
if [[ $cold == yes ]]; then
  log "Identical files, cold cache ..."
  hyperfine --runs 1 --style none --prepare 'sync; echo 3 > /proc/sys/vm/drop_caches' \
    --export-json "$work/identical-cold.json" "${race_args[@]}" >/dev/null
fi

log "Memory per record ..."
memory_line=$("$build/bin/bench_records_memory" "$tree")
mkdir -p "$work/one-file" && echo x >"$work/one-file/a" && echo x >"$work/one-file/b"
peak_kb() { env TWINSIFTER_HOME="$ts_home" /usr/bin/time -f %M "$cli" --quiet --json "$1" 2>&1 >/dev/null | tail -1; }
cli_peak=$(peak_kb "$tree")
cli_base=$(peak_kb "$work/one-file")

# ---------------------------------------------------------------- pictures
pics=$work/pictures-$pictures
if [[ ! -f "$pics/truth.txt" ]]; then
  source benchmarks/visual-photos.sh
  rm -rf "$pics"
  mkdir -p "$pics/tiles"
  copy_photos "$pics/photos"
  log "Cutting the photographs into tiles ..."
  # Forty tiles of each photograph and the mean of their edges: featureless tiles (sky, sand,
  # water) look alike to any tool and are left out. The most detailed tiles, each in its eight
  # orientations, make distinct pictures of 0.64 megapixels, JPEG quality 90.
  mkdir -p "$pics/details" "$pics/oriented"
  tiles() {
    local photo=$1 stem
    stem=$(basename "${photo%.*}")
    convert "$photo" -resize '2560x1600!' -crop 8x5@ +repage -write "$pics/tiles/$stem-%02d.png" \
      -colorspace gray -edge 1 -format "$pics/tiles/$stem %s %[fx:mean]\n" info: >"$pics/details/$stem.txt"
  }
  orient() {
    local sequence=() k
    for k in 0 1 2 3 4 5 6 7; do
      sequence+=(-write "$pics/oriented/%[filename:tile]-$k.jpg")
      if [[ $k == 3 ]]; then sequence+=(-flop); else sequence+=(-rotate 90); fi
    done
    convert "$@" -set filename:tile '%t' -resize 250% -quality 90 "${sequence[@]}" null:
  }
  export pics
  export -f tiles orient
  find "$pics/photos" -type f -print0 | xargs -0 -P2 -I{} bash -c 'tiles "$1"' _ {}
  python3 benchmarks/race_pictures.py select "$pics/details" $(((pictures - copies + 7) / 8)) |
    xargs -d '\n' -n 20 -P2 bash -c 'orient "$@"' _
  rm -rf "$pics/tiles"
  python3 benchmarks/race_pictures.py pick "$pics/oriented" "$pics/bases" "$pics/copies" $((pictures - copies)) "$copies" \
    >"$pics/truth.tmp"
  log "Deriving $copies copies ..."
  declare -A operations=()
  while IFS=: read -r kind ops extension; do operations[$kind]=$ops; done < <(python3 benchmarks/race_pictures.py kinds)
  while read -r base kind copy; do
    # shellcheck disable=SC2086  # the operations are words on purpose
    convert "$base" ${operations[$kind]} "$copy" &
    [[ $(jobs -rp | wc -l) -lt 2 ]] || wait -n
  done <"$pics/truth.tmp"
  wait
  mv "$pics/truth.tmp" "$pics/truth.txt"
fi
made=$(find "$pics/bases" "$pics/copies" -type f | wc -l)
[[ $made -eq $pictures ]] || { echo "$0: $made pictures, not $pictures" >&2; exit 1; }

# twinsifter_pictures LABEL OPTION...: one visual search at the defaults with an empty signature
# cache; its wall time in seconds and peak in KB go to LABEL.time, the statistics to LABEL.err.
twinsifter_pictures() {
  local label=$1
  shift
  rm -rf "$work/picture-home" && mkdir -p "$work/picture-home"
  TWINSIFTER_HOME=$work/picture-home /usr/bin/time -f "%e %M" -o "$work/$label.time" "$@" \
    --visual --pictures-only --json --stats "$pics/bases" "$pics/copies" >"$work/$label.json" 2>"$work/$label.err"
}
log "Pictures: Twinsifter, findimagedupes, Twinsifter ..."
cat "$pics"/bases/* "$pics"/copies/* >/dev/null  # the same warm page cache for both
twinsifter_pictures pictures-ts-1 "$cli"
/usr/bin/time -f "%e %M" -o "$work/pictures-fid.time" findimagedupes -q "$pics/bases" "$pics/copies" \
  >"$work/pictures-fid.txt" 2>"$work/pictures-fid.err" || log "findimagedupes failed: see $work/pictures-fid.err"
twinsifter_pictures pictures-ts-2 "$cli"
log "Preprocessing on two cores and on one ..."
twinsifter_pictures prepare-2-a "$cli" --no-cache
twinsifter_pictures prepare-1-a taskset -c 0 "$cli" --no-cache
twinsifter_pictures prepare-2-b "$cli" --no-cache
twinsifter_pictures prepare-1-b taskset -c 0 "$cli" --no-cache
ts_score=$(python3 benchmarks/race_pictures.py score "$pics/truth.txt" twinsifter "$work/pictures-ts-1.json")
fid_score=$(python3 benchmarks/race_pictures.py score "$pics/truth.txt" findimagedupes "$work/pictures-fid.txt")

# The comparison phase of 50,000 signatures has a benchmark of its own, which takes more than an
# hour today; RACE_PAIRS=1 runs it too.
pairs_note="see benchmarks/visual-pairs.sh (filled by its own benchmark)"
if [[ ${RACE_PAIRS:-0} == 1 ]]; then
  log "Comparison phase of 50,000 signatures (benchmarks/visual-pairs.sh) ..."
  if BUILD_FOLDER=${build#"$repo"/} benchmarks/visual-pairs.sh "$work/visual-pairs" >"$work/visual-pairs.md" 2>"$work/visual-pairs.err"; then
    pairs_note=$work/visual-pairs.md
  else
    log "visual-pairs.sh failed: see $work/visual-pairs.err"
  fi
fi
log "Memory per picture record ..."
picture_memory_line=$("$build/bin/bench_records_memory" --visual "$pics/bases" "$pics/copies")
load_end=$(load)

python3 - "$work" "$files" "$pictures" "$copies" "$cold" "$agree" "$memory_line" "$cli_peak" "$cli_base" \
  "$ts_score" "$fid_score" "$pairs_note" "$load_start" "$load_end" "$rounds" "$picture_memory_line" <<'EOF' | tee "$work/race.md"
import glob, json, re, statistics, sys, time
(work, files, pictures, copies, cold, agree, memory_line, cli_peak, cli_base, ts_score, fid_score, pairs_note,
 load_start, load_end, rounds, picture_memory_line) = sys.argv[1:17]
files, pictures, copies = int(files), int(pictures), int(copies)
peers = ("fdupes", "jdupes", "rmlint")

warm = {}
for path in sorted(glob.glob(f"{work}/identical-warm-*.json")):
    for result in json.load(open(path))["results"]:
        warm.setdefault(result["command"], []).append(result["times"][0])
median = {tool: statistics.median(times) for tool, times in warm.items()}
fastest = min(peers, key=lambda tool: median[tool])
# The ratio of each round, Twinsifter against the peer that is fastest overall, and their median.
ratios = [t / p for t, p in zip(warm["twinsifter"], warm[fastest])]
ratio = statistics.median(ratios)
colds = {}
if cold == "yes":
    colds = {r["command"]: r["times"][0] for r in json.load(open(f"{work}/identical-cold.json"))["results"]}
cold_fastest = min(peers, key=lambda tool: colds[tool]) if colds else None

def stats_of(label):
    text = open(f"{work}/{label}.err", encoding="utf-8", errors="replace").read()
    match = re.search(r"pictures prepared in ([\d.]+) s.*comparison ([\d.]+) s", text)
    wall, peak = open(f"{work}/{label}.time").read().split()[-2:]
    return float(wall), float(match.group(1)) if match else float("nan"), float(match.group(2)) if match else float("nan")

ts_walls = [stats_of(f"pictures-ts-{k}")[0] for k in (1, 2)]
ts_wall = statistics.mean(ts_walls)
_, ts_prepare, ts_compare = stats_of("pictures-ts-1")
fid_wall = float(open(f"{work}/pictures-fid.time").read().split()[-2])
speedup = fid_wall / ts_wall
two = statistics.mean(stats_of(f"prepare-2-{k}")[1] for k in "ab")
one = statistics.mean(stats_of(f"prepare-1-{k}")[1] for k in "ab")
cores = one / two
ts_recall, ts_precision, ts_found = ts_score.split()
fid_recall, fid_precision, fid_found = fid_score.split()
quality_met = float(ts_recall) >= float(fid_recall) and float(ts_precision) >= float(fid_precision)
def memory_of(line):
    found = re.search(r"^(\d+) records.*path ([\d.]+) bytes.*keeps (-?\d+) bytes.*memory is (-?\d+) bytes", line)
    return int(found.group(1)), float(found.group(2)), int(found.group(3)), int(found.group(4))
records, path_bytes, kept, peak_record = memory_of(memory_line)
_, picture_path, picture_kept, picture_peak = memory_of(picture_memory_line)
cli_record = (int(cli_peak) - int(cli_base)) * 1024 / records - path_bytes

met = lambda ok: "met" if ok else "**not met**"
s = lambda seconds: f"{seconds:.2f} s"
print(f"Race of {time.strftime('%Y-%m-%d')} on this machine ({open('/proc/cpuinfo').read().count('processor')} cores), "
      f"load average {load_start} at the start and {load_end} at the end.\n")
print("| race | Twinsifter | peer | ratio | goal | |")
print("|---|---|---|---|---|---|")
print(f"| identical files, {files:,} files, warm cache (median of {rounds} rounds) | {s(median['twinsifter'])} | "
      f"{fastest} {s(median[fastest])} | {ratio:.2f} × | at most 0.8 × the fastest peer | {met(ratio <= 0.8)} |")
if colds:
    print(f"| identical files, cold cache (one run each) | {s(colds['twinsifter'])} | {cold_fastest} {s(colds[cold_fastest])} | "
          f"{colds['twinsifter'] / colds[cold_fastest]:.2f} × | | |")
else:
    print("| identical files, cold cache | not measured: the page cache cannot be dropped here | | | | |")
print(f"| the same groups as fdupes | {agree} | | | the same groups | {met(agree == 'the groups agree')} |")
print(f"| pictures end to end, {pictures:,} ({pictures - copies:,} + {copies:,} derived copies), empty signature cache | "
      f"{s(ts_wall)} | findimagedupes {s(fid_wall)} | {speedup:.1f} × faster | at least 3 × faster | {met(speedup >= 3)} |")
print(f"| recall / precision of the derived copies (defaults of both) | {ts_recall} / {ts_precision} % | "
      f"{fid_recall} / {fid_precision} % | | at least findimagedupes' | {met(quality_met)} |")
print(f"| preprocessing on 2 cores against 1 (no cache, mean of 2) | {s(two)} | 1 core {s(one)} | {cores:.2f} × | "
      f"at least 1.8 × | {met(cores >= 1.8)} |")
pairs_tables = ""
if pairs_note.endswith(".md"):
    pairs_tables = open(pairs_note).read()
    # The slowest tolerance of each variant set: "| tolerance | wall | CPU | pairs | below % | ..."
    sets = [block for block in pairs_tables.split("\n\n") if "| tolerance |" in block]
    slowest = []
    for block in sets:
        rows = [line.split("|")[1:-1] for line in block.splitlines() if re.match(r"\| \d+ \|", line)]
        worst = max(rows, key=lambda row: float(row[1].split()[0]))
        pruned = [float(row[4].split()[0]) for row in rows]
        slowest.append((float(worst[1].split()[0]), int(worst[0]), min(pruned), max(pruned)))
    if len(slowest) == 2:
        (d_wall, d_tol, d_lo, d_hi), (a_wall, a_tol, a_lo, a_hi) = slowest
        print(f"| comparison phase of 50,000 picture signatures, slowest tolerance | default variants {s(d_wall)} "
              f"(tolerance {d_tol}), all variants {s(a_wall)} (tolerance {a_tol}) | | scored below the threshold: "
              f"{d_lo:.3g} to {d_hi:.3g} % / {a_lo:.3g} to {a_hi:.3g} % | under 5 s at every tolerance | "
              f"{met(d_wall < 5)} with the default variants, {met(a_wall < 5)} with all |")
    else:
        pairs_tables = ""
if not pairs_tables:
    print(f"| comparison phase of 50,000 picture signatures | {pairs_note} | | | under 5 s at every tolerance | |")
print(f"| peak memory per plain file record beyond its path ({path_bytes:.0f} bytes on average) | {peak_record} bytes "
      f"(the command line: {cli_record:.0f}) | | | under 300 bytes | {met(max(peak_record, cli_record) < 300)} |")
print(f"| memory per picture record beyond its path, the {pictures:,} pictures ({picture_path:.0f} bytes on average) | "
      f"{picture_kept} bytes kept after the search (1,056 of them its traces), peak {picture_peak} | | | | |")
print(f"\nIdentical files, every tool (median of {rounds} warm rounds; cold: one run):\n")
print("| tool | warm | cold |")
print("|---|---|---|")
for tool in ("twinsifter", *peers):
    print(f"| {tool} | {s(median[tool])} | {s(colds[tool]) if colds else '-'} |")
print(f"\nTwinsifter's visual search: preparation {s(ts_prepare)}, comparison {s(ts_compare)} of the "
      f"{s(ts_walls[0])} run; {ts_found} pairs found, findimagedupes {fid_found}. A record keeps {kept} bytes of "
      f"heap beyond its path after the search.")
if pairs_tables:
    print("\nThe comparison phase alone (benchmarks/visual-pairs.sh):\n")
    print(pairs_tables.strip())
EOF
