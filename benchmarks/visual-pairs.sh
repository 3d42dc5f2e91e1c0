#!/usr/bin/env bash
# The comparison phase of a visual search alone, on the signatures of COUNT small pictures: crops
# of Debian's wallpaper photographs (10 to 45 % of each side, brightness, saturation and hue
# shifted), every eleventh picture a derived copy of the one before (mirrored, turned, resized or
# saved at a lower JPEG quality), names shuffled so that copies lie anywhere in the scan order.
# Signatures are analysed once into a signature cache in the work folder; then every tolerance is
# searched without rescanning. Prints bench_picture_pairs' table (wall and CPU time of the phase,
# the shares of picture pairs scored below the threshold and never decided) for the default variant set
# and for all variants.
# Usage: benchmarks/visual-pairs.sh [WORK_FOLDER [COUNT]]   (default /tmp/twinsifter-visual-pairs, 50000)
#        PLAIN=1 benchmarks/visual-pairs.sh ...   the plain loop instead (hours at 50,000)
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
work=$(realpath -m "${1:-/tmp/twinsifter-visual-pairs}")
count=${2:-50000}
case "$work/" in "$repo"/*) echo "$0: keep the work folder out of the repository" >&2; exit 2 ;; esac

source benchmarks/visual-photos.sh
install_packages imagemagick "${photo_packages[@]}"
scripts/install-deps.sh
build=${BUILD_FOLDER:-build-visual}  # where to build the program
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_picture_pairs -j2 >/dev/null
bench=$repo/$build/bin/bench_picture_pairs

# make_pictures PHOTO FIRST N: pictures FIRST .. FIRST+N-1 from one decode of PHOTO.
make_pictures() {
  local photo=$1 first=$2 n=$3 size width height k arguments=() w h x y name copy
  size=$(identify -format '%w %h' "$photo" 2>/dev/null)
  read -r width height <<<"$size"
  RANDOM=$first
  copies=(-flop -flip "-rotate 180" "-rotate 90" "-rotate 270" "-resize 60%" "-quality 40")
  for ((k = first; k < first + n; ++k)); do
    name=$(printf 'p%05d' $(((k * 7919) % count)))
    if ((k % 11 == 10 && k > first)); then
      copy=${copies[RANDOM % ${#copies[@]}]}
      # shellcheck disable=SC2206
      arguments+=("(" "$work/pictures/$previous.jpg" $copy -write "$work/pictures/$name.jpg" +delete ")")
    else
      w=$((width * (10 + RANDOM % 36) / 100))
      h=$((height * (10 + RANDOM % 36) / 100))
      x=$((RANDOM % (width - w + 1)))
      y=$((RANDOM % (height - h + 1)))
      arguments+=("(" +clone -crop "${w}x${h}+${x}+${y}" +repage -resize 200x200
        -modulate "$((85 + RANDOM % 31)),$((70 + RANDOM % 61)),$((80 + RANDOM % 41))"
        -quality 90 -write "$work/pictures/$name.jpg" +delete ")")
      previous=$name
    fi
  done
  convert "$photo" "${arguments[@]}" null: 2>/dev/null
}

if [[ "$(cat "$work/pictures.count" 2>/dev/null)" != "$count" ]]; then
  rm -rf "$work"
  mkdir -p "$work/pictures" "$work/home"
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

plain=()
[[ -z "${PLAIN:-}" ]] || plain=(--plain)
echo "Default variant set (unchanged pictures only):"
"$bench" "$work/pictures" "$work/home" --variants 1 "${plain[@]}"
echo
echo "Every variant and greyscale:"
"$bench" "$work/pictures" "$work/home" --variants 127 "${plain[@]}"
