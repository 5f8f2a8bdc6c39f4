#!/usr/bin/env bash
# Installs what is needed, builds and starts the program: the window where there is a display,
# else the console program's list.
#   scripts/run.sh [sarnika-cli arguments]   (no display, or arguments given: sarnika-cli)
#   scripts/run.sh demo                      the same on a demo home with a few Flash movies
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
display=${DISPLAY:-}${WAYLAND_DISPLAY:-}
targets=(sarnika-cli)
[ -n "$display" ] && targets+=(sarnika)
cmake --build --preset release --target "${targets[@]}" >build/run-build.log 2>&1 ||
    { tail -30 build/run-build.log; exit 1; }
demo=false
if [ "${1:-}" = demo ]; then
    demo=true
    shift
fi
if [ -n "$display" ] && [ $# -eq 0 ]; then
    if $demo; then
        exec bash scripts/demo.sh ./build/release/bin/sarnika
    fi
    exec ./build/release/bin/sarnika
fi
if [ -z "$display" ]; then
    echo "No display here: listing the cached Flash movies with sarnika-cli instead." >&2
fi
[ $# -eq 0 ] && set -- list
if $demo; then
    exec bash scripts/demo.sh ./build/release/src/cli/sarnika-cli "$@"
fi
exec ./build/release/src/cli/sarnika-cli "$@"
