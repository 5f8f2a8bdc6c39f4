#!/usr/bin/env bash
# The Windows window under Wine, on an X server of its own with a window manager: it lists the
# movies of the browsers' caches in the Wine user's %LOCALAPPDATA% largest first, the arrow keys
# move the selection and the status text, Ctrl+R rescans, Alt+F4 closes it and keeps its
# placement and folders in the registry, where it finds them again; with no cache at all it
# says "Sorry". Run by scripts/windows-test.sh; it makes a Wine prefix of its own, so that what
# other tests left in the Wine user's caches does not show.
#   window_under_wine.sh SARNIKA_EXE SCREENSHOT_FOLDER
set -euo pipefail
exe=$1
shots=$2
here=$(cd "$(dirname "$0")/../../.." && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=/usr/lib/wine/wineserver
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
fail() { echo "window under Wine: $*" >&2; exit 1; }

# A display of our own: the first free number from 90 on.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap '"$wineserver" -k 2>/dev/null; kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &

# waitFor SECONDS COMMAND...: runs the command until it succeeds.
waitFor() {
    local limit=$1
    shift
    for _ in $(seq $((limit * 10))); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}
window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
# Alt+F4 to the window titled $1 until it is gone: keys sent before Wine has given it the focus
# are lost. The window goes while the keys are on their way, so xdotool may find it gone.
closed() {
    local id
    id=$(window "$1")
    [ -z "$id" ] && return 0
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
    xdotool key "$2" >/dev/null 2>&1 || true
    [ -z "$(window "$1")" ]
}
reportSays() { grep -qx "$1" "$work/report.txt"; }

mkdir -p "$WINEPREFIX"
"$wine" wineboot --init >/dev/null 2>&1
local_app_data="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"
python3 "$here/tools/make_synthetic_caches.py" "$work/demo" --demo >/dev/null
chrome="$local_app_data/Google/Chrome/User Data/Default/Cache"
firefox="$local_app_data/Mozilla/Firefox/Profiles/demo.default"
mkdir -p "$chrome" "$firefox"
cp -r "$work/demo/home/.cache/chromium/Default/Cache/Cache_Data" "$chrome/"
cp -r "$work/demo/home/.cache/mozilla/firefox/demo.default/cache2" "$firefox/"

SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sarnika || fail "no window \"Sarnika\""
waitFor 60 grep -q '^caption' "$work/report.txt" || fail "no report of the window's state"
import -window root "$shots/win32-window.png"
# The seven movies of the demo caches, largest first.
lines=$(grep -c '^line' "$work/report.txt")
[ "$lines" -eq 7 ] || fail "$lines movies listed, 7 expected"
previous=$((1 << 62))
while IFS=$'\t' read -r _ name file; do
    unix="$WINEPREFIX/drive_c/${file#C:\\}"
    size=$(stat -c %s "${unix//\\//}")
    [ "$size" -le "$previous" ] || fail "$name is listed after a smaller movie"
    previous=$size
done < <(grep '^line' "$work/report.txt")
reportSays $'selected\t0' || fail "the first movie is not selected"
reportSays $'status\tFlash movie from games.quillmoor.example' || fail "no status for the first movie"

id=$(window Sarnika)
xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
xdotool key --window "$id" Down
waitFor 60 reportSays $'selected\t1' || fail "Down did not move the selection"
reportSays $'status\tFlash movie from cdn.quillmoor.example' || fail "the status did not follow"
xdotool key --window "$id" ctrl+r
waitFor 60 reportSays $'selected\t0' || fail "Ctrl+R did not rescan"
# Moved, closed and opened again, the window comes back where it was.
placed=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
# Asked again until it has moved: a request made while Wine and the window manager still
# settle the window is lost.
moved() {
    xdotool windowmove --relative "$id" 37 23
    [ "$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')" != "$placed" ]
}
waitFor 60 moved || fail "the window did not move from $placed: $(xdotool getwindowgeometry "$id")"
before=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"
"$wine" reg query 'HKCU\Software\Quillmoor\Sarnika' >"$work/settings.txt" 2>/dev/null
"$wine" reg query 'HKCU\Software\Quillmoor\Sarnika\Placement' >>"$work/settings.txt" 2>/dev/null
for value in SaveAsFolder SaveAllFolder NormPos MinMaxPos ShowCmd; do
    grep -q "$value" "$work/settings.txt" || fail "no $value in the registry: $(cat "$work/settings.txt")"
done
SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sarnika || fail "no window \"Sarnika\" the second time"
id=$(window Sarnika)
after=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
[ "$after" = "$before" ] || fail "reopened at $after, closed at $before"
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"

# No cache at all: the window still opens and says so.
rm -rf "$local_app_data/Google" "$local_app_data/Mozilla"
SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sorry || fail "no \"Sorry\" message for an empty cache"
import -window root "$shots/win32-sorry.png"
waitFor 60 closed Sorry Return || fail "the message did not close"
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"
echo "window under Wine: listed 7 movies largest first, keys, rescan, close, empty cache: ok"
