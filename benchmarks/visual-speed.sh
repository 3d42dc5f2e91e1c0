#!/usr/bin/env bash
# Visual search of 5,000 distinct pictures (crops and resizes of real photographs, 1 to 3
# megapixels JPEG): once with a cold signature cache, once warm, once without the cache.
# Prints a Markdown table of where the time went; the warm run must decode nothing.
# Usage: benchmarks/visual-speed.sh [WORK_FOLDER [COUNT]]   (default /tmp/twinsifter-visual-speed,
# 5000; the pictures are kept there between runs and made again only when COUNT changes)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(realpath -m "${1:-/tmp/twinsifter-visual-speed}")
count=${2:-5000}
case "$work/" in "$repo"/*) echo "$0: keep the work folder out of the repository" >&2; exit 2 ;; esac
tolerance=4
variants=r180,r90l,r90r,vflip,hflip,grey

source benchmarks/visual-photos.sh
install_packages imagemagick python3 time "${photo_packages[@]}"
scripts/install-deps.sh
cmake -S . -B build-visual -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-visual --target twinsifter-cli -j2 >/dev/null
cli=$repo/build-visual/bin/twinsifter-cli

# make_pictures PHOTO FIRST N: N crops of PHOTO, numbered from FIRST, from one decode. Each keeps
# 55 to 100 % of each side at a random place and is resized to 1 to 3 megapixels, JPEG quality
# 80 to 95; the seed is the photo's first number, so a run makes the same pictures again.
make_pictures() {
  local photo=$1 first=$2 n=$3 size width height k arguments=() w h x y area quality
  size=$(identify -format '%w %h' "$photo" 2>/dev/null)
  read -r width height <<<"$size"
  RANDOM=$first
  for ((k = first; k < first + n; ++k)); do
    w=$((width * (55 + RANDOM % 46) / 100))
    h=$((height * (55 + RANDOM % 46) / 100))
    x=$((RANDOM % (width - w + 1)))
    y=$((RANDOM % (height - h + 1)))
    area=$((1000000 + RANDOM * 61))  # 1.0 .. 3.0 megapixels
    quality=$((80 + RANDOM % 16))
    arguments+=("(" +clone -crop "${w}x${h}+${x}+${y}" +repage -resize "${area}@" -quality "$quality"
      -write "$work/pictures/$(printf 'p%05d' "$k").jpg" +delete ")")
  done
  convert "$photo" "${arguments[@]}" null: 2>/dev/null
}

if [[ "$(cat "$work/pictures.count" 2>/dev/null)" != "$count" ]]; then
  rm -rf "$work"
  mkdir -p "$work/pictures"
  copy_photos "$work/photos"
  mapfile -t sources < <(find "$work/photos" -type f | sort)
  echo "Making $count pictures ..." >&2
  first=0
  for i in "${!sources[@]}"; do
    n=$(((count * (i + 1)) / ${#sources[@]} - first))
    make_pictures "${sources[$i]}" "$first" "$n" &
    first=$((first + n))
    [[ $(jobs -rp | wc -l) -lt 2 ]] || wait -n
  done
  wait
  made=$(find "$work/pictures" -type f | wc -l)
  [[ $made -eq $count ]] || { echo "$0: made $made pictures, not $count" >&2; exit 1; }
  echo "$count" >"$work/pictures.count"
fi

# run LABEL OPTION...: one search, its report, its statistics line, wall time and peak memory.
run() {
  local label=$1
  shift
  local start end
  start=$(date +%s%N)
  TWINSIFTER_HOME="$work/home" /usr/bin/time -f "peak %M" -o "$work/$label.time" \
    "$cli" --visual --pictures-only --tolerance "$tolerance" --variants "$variants" --cache-size 10000 \
    --json --stats "$@" "$work/pictures" >"$work/$label.json" 2>"$work/$label.err"
  end=$(date +%s%N)
  echo "wall $(((end - start) / 1000000))" >>"$work/$label.time"  # milliseconds
}
rm -rf "$work/home"
mkdir -p "$work/home"
echo "Searching: cold cache, warm cache, no cache ..." >&2
run cold
run warm
run nocache --no-cache
cache_bytes=$(du -sb "$work/home" | cut -f1)

/usr/bin/python3 - "$work" "$count" "$tolerance" "$variants" "$cache_bytes" <<'EOF'
import json, re, sys
work, count, tolerance, variants, cache_bytes = sys.argv[1:6]
pattern = re.compile(r"scan ([\d.]+) s; (\d+) pictures prepared in ([\d.]+) s \((\d+) decoded in ([\d.]+) s, "
                     r"analysed in ([\d.]+) s, (\d+) from the cache\); comparison ([\d.]+) s")
rows, groups, problems = {}, {}, []
for label in ("cold", "warm", "nocache"):
    stats = None
    with open(f"{work}/{label}.err", encoding="utf-8", errors="replace") as file:
        for line in file:
            match = pattern.search(line)
            if match:
                stats = [float(v) for v in match.groups()]
            elif line.startswith(("WARNING", "ERROR")):
                problems.append(f"{label}: {line.strip()}")
    times = dict(line.split() for line in open(f"{work}/{label}.time") if line.startswith(("peak", "wall")))
    with open(f"{work}/{label}.json", encoding="utf-8", errors="surrogateescape") as file:
        report = json.load(file)
    groups[label] = [[m["path"] for m in g["members"]] for g in report["groups"]]
    if stats is None:
        sys.exit(f"no statistics line in {label}.err")
    scan, prepared, prepare, decoded, decode, analyse, cached, compare = stats
    rows[label] = stats
    name = {"cold": "cold cache (empty)", "warm": "warm cache", "nocache": "no cache (--no-cache)"}[label]
    members = sum(len(g) for g in groups[label])
    print_row = (f"| {name} | {int(times['wall']) / 1000:.2f} s | {scan:.2f} s | {prepare:.2f} s | {int(decoded)} in "
                 f"{decode:.2f} s | {analyse:.2f} s | {int(cached)} | {compare:.2f} s | "
                 f"{int(times['peak']) / 1024:.0f} MB | {len(groups[label])} ({members} pictures) |")
    rows[label] = (stats, print_row)
print(f"Visual search of {count} JPEG pictures of 1 to 3 megapixels (crops of real photographs), "
      f"tolerance {tolerance}, variants {variants}, --cache-size 10000; 2 cores; one run each. "
      "Decoding and analysis are summed over the threads that do them, so they can exceed the "
      "preparation's wall time.\n")
print("| run | wall | scan | preparation | decoded | analysis | from the cache | comparison | "
      "peak memory | groups |")
print("|---|---|---|---|---|---|---|---|---|---|")
for label in ("cold", "warm", "nocache"):
    print(rows[label][1])
warm = rows["warm"][0]
print(f"\nSignature cache on disk after the runs: {int(cache_bytes) / 1e6:.1f} MB.")
if warm[3] == 0 and warm[6] == warm[1]:
    print(f"The warm run decoded nothing: all {int(warm[1])} pictures came from the cache.")
else:
    print(f"**The warm run decoded {int(warm[3])} pictures** ({int(warm[6])} of {int(warm[1])} from the cache).")
same = groups["cold"] == groups["warm"] == groups["nocache"]
print("The three runs found the same groups, members in the same order." if same
      else "**The runs found different groups.**")
for problem in problems[:10]:
    print(f"- {problem}")
EOF
