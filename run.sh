#!/usr/bin/env bash
# Builds Twinsifter and starts it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build
# The desktop program is not built yet: its command line stands in for it.
exec build/bin/twinsifter-cli "$@"
