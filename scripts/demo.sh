#!/usr/bin/env bash
# Runs a command on a small demo: a temporary home holding a Chromium and a Firefox cache with
# a handful of animated Flash movies, removed again afterwards.
#   scripts/demo.sh [COMMAND...]
# Without a command it starts build/release/bin/sarnika when there is a display and the window
# program is built, else build/release/src/cli/sarnika-cli list. Relative program paths are
# taken from the repository's root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ $# -eq 0 ]; then
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/release/bin/sarnika ]; then
        set -- build/release/bin/sarnika
    else
        set -- build/release/src/cli/sarnika-cli list
    fi
fi
if [[ "$1" == */* && ! -x "$1" ]]; then
    echo "demo: $1 is not built yet (cmake --preset release && cmake --build --preset release)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/sarnika-demo.XXXXXX")
trap 'rm -rf "$work"' EXIT
python3 tools/make_synthetic_caches.py "$work" --demo >&2

# The X server still wants the real user's cookie once HOME points elsewhere.
if [ -z "${XAUTHORITY:-}" ] && [ -f "${HOME:-}/.Xauthority" ]; then
    export XAUTHORITY="$HOME/.Xauthority"
fi
export HOME="$work/home"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_STATE_HOME="$HOME/.local/state"
unset WINEPREFIX
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_STATE_HOME"

status=0
"$@" || status=$?
exit "$status"
