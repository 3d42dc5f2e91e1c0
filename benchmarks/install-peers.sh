#!/usr/bin/env bash
# Installs what the race runs beside Twinsifter, from Debian: the peers (fdupes, jdupes, rmlint,
# findimagedupes), hyperfine, and the tools and photographs that make the corpora. The tests need
# none of it, so it stays out of scripts/install-deps.sh. Usage: benchmarks/install-peers.sh
set -euo pipefail
cd "$(dirname "$0")/.."
source benchmarks/visual-photos.sh
install_packages fdupes jdupes rmlint findimagedupes hyperfine imagemagick python3 python3-numpy time util-linux \
  "${photo_packages[@]}"
