#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Twinsifter needs.
# Does nothing when they are all present. Works as root on a fresh Debian 12 machine
# (elsewhere through sudo).
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config dpkg-dev  # dpkg-dev: the Debian package's dependencies
  qt6-base-dev  # the windows, and desktop services: trash, file manager, default application
  qt6-svg-dev fonts-dejavu-core  # the icons are SVG; a font for every machine
  xvfb xauth  # screenshots and the end-to-end run without a display
  # decoders and digests
  libjpeg62-turbo-dev libpng-dev zlib1g-dev nettle-dev libgraphicsmagick++1-dev ghostscript libemf2svg-dev librsvg2-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev libclang-rt-14-dev
  lame id3v2  # real MP3 files with ID3 version 1 tags for the tag tests
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update
"${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
