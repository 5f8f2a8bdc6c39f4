#!/usr/bin/env bash
# Installs what is needed, builds and starts the program.
#   scripts/run.sh [sarnika-cli arguments]   (default: list)
#   scripts/run.sh demo                      the same on a demo home with a few Flash movies
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target sarnika-cli >build/run-build.log 2>&1 || { tail -30 build/run-build.log; exit 1; }
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here: listing the cached Flash movies with sarnika-cli instead." >&2
fi
if [ "${1:-}" = demo ]; then
    shift
    exec bash scripts/demo.sh ./build/release/src/cli/sarnika-cli "${@:-list}"
fi
if [ $# -eq 0 ]; then
    set -- list
fi
exec ./build/release/src/cli/sarnika-cli "$@"
