#!/usr/bin/env bash
# How well the visual search finds copies of real photographs that ImageMagick derived from them
# (resized, recompressed, turned, flipped, grey, other formats), beside findimagedupes on the same
# pictures. Prints Markdown tables of recall and precision per kind of copy and per tolerance.
# Usage: benchmarks/visual-accuracy.sh [WORK_FOLDER]   (default /tmp/twinsifter-visual-accuracy;
# the pictures, results and caches stay there, never in the repository)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(realpath -m "${1:-/tmp/twinsifter-visual-accuracy}")
case "$work/" in "$repo"/*) echo "$0: keep the work folder out of the repository" >&2; exit 2 ;; esac

source benchmarks/visual-photos.sh
install_packages imagemagick findimagedupes python3 python3-numpy "${photo_packages[@]}"
scripts/install-deps.sh
cmake -S . -B build-visual -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-visual --target twinsifter-cli -j2 >/dev/null
cli=$repo/build-visual/bin/twinsifter-cli

# kind of copy : ImageMagick operations : file extension : the variants a search needs to match it
kinds=(
  "resize50:-resize 50% -quality 92:jpg:"
  "resize25:-resize 25% -quality 92:jpg:"
  "jpeg50:-quality 50:jpg:"
  "r90l:-rotate -90 -quality 92:jpg:r90l"
  "r90r:-rotate 90 -quality 92:jpg:r90r"
  "r180:-rotate 180 -quality 92:jpg:r180"
  "flip:-flip -quality 92:jpg:vflip"
  "flop:-flop -quality 92:jpg:hflip"
  "grey:-colorspace Gray -quality 92:jpg:grey"
  "png::png:"
  "bmp::bmp:"
  "tiff::tiff:"
)
all_variants=r180,r90l,r90r,vflip,hflip,grey
tolerances=(0 2 4 6 8 10)
fid_thresholds=(95 90 80)  # 90 % is findimagedupes' default

rm -rf "$work"
mkdir -p "$work"/{photos,copies,results,signatures,home}
copy_photos "$work/photos"
echo "Making the copies ..." >&2

# One decode per photograph, every copy written from a clone of it.
make_copies() {
  local photo=$1 stem arguments=() kind name ops extension variants
  stem=$(basename "${photo%.*}")
  for kind in "${kinds[@]}"; do
    IFS=: read -r name ops extension variants <<<"$kind"
    # shellcheck disable=SC2206  # the operations are words on purpose
    arguments+=("(" +clone $ops -write "$work/copies/$name/$stem.$extension" +delete ")")
  done
  convert "$photo" "${arguments[@]}" null: 2>/dev/null
}
for kind in "${kinds[@]}"; do mkdir -p "$work/copies/${kind%%:*}"; done
export work
export -f make_copies
kinds_text=$(printf '%s\n' "${kinds[@]}")
export kinds_text
find "$work/photos" -type f -print0 |
  xargs -0 -P2 -I{} bash -c 'mapfile -t kinds <<<"$kinds_text"; make_copies "$1"' _ {}

# Searches: originals first, then the copies, so the copy is the first picture of each pair and the
# variants turn the original. The turned kinds also run with the copies scanned first ("rev").
# The all-variants runs go first so that the signature cache holds every variant afterwards.
search() {  # label variants tolerance folder...
  local label=$1 variants=$2 tolerance=$3
  shift 3
  TWINSIFTER_HOME="$work/home" "$cli" --visual --pictures-only --cache-size 10000 --tolerance "$tolerance" \
    --variants "$variants" --json --stats "$@" >"$work/results/$label-t$tolerance.json" \
    2>"$work/results/$label-t$tolerance.err" || echo "twinsifter-cli failed: $label t$tolerance" >&2
}
for kind in "${kinds[@]}"; do
  IFS=: read -r name ops extension variants <<<"$kind"
  echo "Searching: $name" >&2
  for tolerance in "${tolerances[@]}"; do
    search "ts-$name-all" "$all_variants" "$tolerance" "$work/photos" "$work/copies/$name"
    search "ts-$name-need" "$variants" "$tolerance" "$work/photos" "$work/copies/$name"
    [[ $name == r90l || $name == r90r ]] &&
      search "ts-$name-rev" "$variants" "$tolerance" "$work/copies/$name" "$work/photos"
  done
done

# findimagedupes compares everything its fingerprint database holds, so each kind gets its own
# database, started from one that holds the originals.
echo "findimagedupes ..." >&2
findimagedupes -q -n -f "$work/fid-photos.db" "$work/photos" 2>/dev/null
for kind in "${kinds[@]}"; do
  name=${kind%%:*}
  cp "$work/fid-photos.db" "$work/fid-$name.db"
  for threshold in "${fid_thresholds[@]}"; do
    findimagedupes -q -f "$work/fid-$name.db" -t "$threshold%" "$work/photos" "$work/copies/$name" \
      >"$work/results/fid-$name-t$threshold.txt" 2>/dev/null || echo "findimagedupes failed: $name" >&2
  done
done

# Every picture's signature with all variants, so the scoring script can give the score of each
# true pair and the highest score of an unrelated one.
echo "Signatures ..." >&2
export cli
find "$work/photos" "$work/copies" -type f -print0 |
  xargs -0 -P2 -I{} bash -c 'out=$work/signatures/${1#$work/}.json; mkdir -p "$(dirname "$out")";
    "$cli" signature --variants r180,r90l,r90r,vflip,hflip "$1" >"$out" 2>"$out.err" || true' _ {}

/usr/bin/python3 benchmarks/visual_accuracy.py "$work" "$(printf '%s\n' "${kinds[@]}")" "${tolerances[*]}" "${fid_thresholds[*]}"
