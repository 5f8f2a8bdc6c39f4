#!/usr/bin/env bash
# Builds the Windows targets (mingw-w64) and runs their tests under Wine, in a Wine of their
# own: a fresh prefix and home folder in a temporary folder, no display, a pinned time zone.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=/usr/lib/wine/wineserver

scratch=$(mktemp -d "${TMPDIR:-/tmp}/sarnika-wine.XXXXXX")
export HOME=$scratch/home
export WINEPREFIX=$scratch/prefix
export WINEDEBUG=-all
export WINEARCH=win64
# No Mono or Gecko installers, no desktop integration.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export TZ=Europe/Berlin
# Without a display no dialog of Wine's (ShellExecuteEx shows one for a missing file) can block.
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$HOME"

cleanup() {
    "$wineserver" -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT

rm -rf build/mingw
cmake --preset mingw >/dev/null
cmake --build --preset mingw
printf 'Windows build: %ds\n' $((SECONDS - start))

# One server for the whole run (it needs the prefix's folder to start in), then the prefix
# itself, and a first program that warms the server up for the test discovery's first runs.
mkdir -p "$WINEPREFIX"
"$wineserver" -p
"$wine" wineboot --init >/dev/null 2>&1
"$wine" cmd /c exit >/dev/null 2>&1
printf 'Wine ready: %ds\n' $((SECONDS - start))

# Wine now and then fails to start a test program at all (no output, 0.01 s); such a case runs
# once more. A failed assertion fails again and still fails the run.
ctest --preset mingw --repeat until-pass:2
printf 'Windows build and tests: %ds\n' $((SECONDS - start))

# The window, on an X server of its own; its screenshots stay in the build folder.
bash tests/support/win32/window_under_wine.sh build/mingw/src/win32/sarnika.exe build/mingw
printf 'Windows window: %ds\n' $((SECONDS - start))

# The portable zip, packed from the programs just tested.
(cd build/mingw && cpack -G ZIP >/dev/null)
bash tests/support/win32/check_zip.sh build/mingw/packages/sarnika-*-windows-x64.zip
printf 'Windows zip: %ds\n' $((SECONDS - start))
