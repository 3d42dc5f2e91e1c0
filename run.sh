#!/usr/bin/env bash
# Builds Twinsifter and starts the desktop program. Arguments go to it.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo "No display to show the window on; the command line works without one: build/bin/twinsifter-cli --help" >&2
fi
exec build/bin/twinsifter "$@"
