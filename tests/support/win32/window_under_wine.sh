#!/usr/bin/env bash
# The Windows window under Wine, on an X server of its own with a window manager and a
# notification area (trayer): it lists the movies of the browsers' caches in the Wine user's
# %LOCALAPPDATA% and of Wine's own WinINet cache largest first, the arrow keys move the
# selection and the status text, Ctrl+R rescans; "Save all..." (Ctrl+S) saves every movie
# byte-exact into the documents folder preselected in the shell's folder dialog, a second time
# beside the first copies without replacing them; minimised it hides in the notification area
# and a click on its icon brings it back; Alt+F4 closes it and keeps its placement and folders
# in the registry, where it finds them again; with no cache at all it says "Sorry" and greys
# the File menu's two save entries. The dialogs are the real ones, answered with keys through
# xdotool (no test hook in the program). Run by scripts/windows-test.sh; it makes a Wine prefix
# and home folder of its own, so that what other tests left in the Wine user's caches does not
# show and the documents folder starts empty.
#   window_under_wine.sh SARNIKA_EXE SCREENSHOT_FOLDER [SEED_WININET_CACHE_EXE [CLICK_TRAY_ICON_EXE]]
set -euo pipefail
exe=$1
shots=$2
seed=${3:-$(dirname "$exe")/../../tests/support/wininet/seed_wininet_cache.exe}
clickTrayIcon=${4:-$(dirname "$exe")/../../tests/support/win32/click_tray_icon.exe}
here=$(cd "$(dirname "$0")/../../.." && pwd)
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=/usr/lib/wine/wineserver
work=$(mktemp -d)
# Wine links the user's documents folder to $HOME/Documents or, without one, to $HOME.
mkdir -p "$work/home/Documents"
export HOME=$work/home WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
fail() { echo "window under Wine: $*" >&2; exit 1; }
step() { echo "window under Wine: $* (${SECONDS}s)"; }

# A display of our own: the first free number from 90 on.
display=90
while [ -e /tmp/.X11-unix/X$display ] || [ -e /tmp/.X$display-lock ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap '"$wineserver" -k 2>/dev/null; kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
export DISPLAY=:$display
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
trayer --edge top --align right --widthtype request --heighttype pixel --height 24 \
    --SetDockType true >/dev/null 2>&1 &

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
# paintedAt WxH+X+Y: more than two colours in that part of the screen.
paintedAt() { [ "$(import -window root -crop "$1" -format %k info: 2>/dev/null)" -gt 2 ]; }
# painted WINDOW: the window's part of the screen is drawn.
painted() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$1")"
    paintedAt "${WIDTH}x${HEIGHT}+$X+$Y"
}
reportValue() { grep "^$1"$'\t' "$work/report.txt" | cut -f2-; }
# The Linux path of a path on Wine's drive C:.
unixPath() {
    local windows=${1#[Cc]:\\}
    printf '%s/drive_c/%s' "$WINEPREFIX" "${windows//\\//}"
}
# saveAll: Ctrl+S, Return on the folder dialog (its preselection), then "No" to the question
# whether to open the folder; $1 names the screenshots.
saveAll() {
    local question
    id=$(window Sarnika)
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
    xdotool key --window "$id" ctrl+s
    waitFor 60 window 'Select directory to save movies\.\.\.' || fail "no folder dialog for Save all"
    import -window root "$shots/win32-$1-folder.png"
    waitFor 60 closed 'Select directory to save movies\.\.\.' Return || fail "the folder dialog did not close"
    waitFor 60 window Congratulations || fail "no question after Save all: $(reportValue message)"
    import -window root "$shots/win32-$1-saved.png"
    question=$(reportValue message)
    waitFor 60 closed Congratulations n || fail "the question did not close"
    echo "$question"
}

mkdir -p "$WINEPREFIX"
"$wine" wineboot --init >/dev/null 2>&1
local_app_data="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local"
python3 "$here/tools/make_synthetic_caches.py" "$work/demo" --demo >/dev/null
chrome="$local_app_data/Google/Chrome/User Data/Default/Cache"
firefox="$local_app_data/Mozilla/Firefox/Profiles/demo.default"
mkdir -p "$chrome" "$firefox"
cp -r "$work/demo/home/.cache/chromium/Default/Cache/Cache_Data" "$chrome/"
cp -r "$work/demo/home/.cache/mozilla/firefox/demo.default/cache2" "$firefox/"
# Wine's own WinINet cache, filled the way a browser on WinINet fills it.
"$wine" "$seed" >/dev/null || fail "the WinINet cache could not be filled"

SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sarnika || fail "no window \"Sarnika\""
waitFor 60 grep -q '^caption' "$work/report.txt" || fail "no report of the window's state"
import -window root "$shots/win32-window.png"
# The seven movies of the demo caches and the two of WinINet's, largest first.
lines=$(grep -c '^line' "$work/report.txt")
[ "$lines" -eq 9 ] || fail "$lines movies listed, 9 expected"
[ "$(grep -c '^line.*INetCache' "$work/report.txt")" -eq 2 ] || fail "WinINet's movies not listed"
previous=$((1 << 62))
while IFS=$'\t' read -r _ name file; do
    size=$(stat -c %s "$(unixPath "$file")")
    [ "$size" -le "$previous" ] || fail "$name is listed after a smaller movie"
    previous=$size
done < <(grep '^line' "$work/report.txt")
reportSays $'selected\t0' || fail "the first movie is not selected"
reportSays $'status\tFlash movie from games.quillmoor.example' || fail "no status for the first movie"
reportSays $'fileEntries\tenabled\tenabled' || fail "File menu entries greyed with movies listed"
grep '^line' "$work/report.txt" | cut -f3 >"$work/cached.txt"


id=$(window Sarnika)
xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
xdotool key --window "$id" Down
waitFor 60 reportSays $'selected\t1' || fail "Down did not move the selection"
reportSays $'status\tFlash movie from cdn.quillmoor.example' || fail "the status did not follow"
xdotool key --window "$id" ctrl+r
waitFor 60 reportSays $'selected\t0' || fail "Ctrl+R did not rescan"
step "listed"
# Alt+F1: the about box, closed with Escape.
xdotool key --window "$id" alt+F1
waitFor 60 window About || fail "Alt+F1 showed no about box"
waitFor 60 painted "$(window About)" || fail "the about box is not drawn"
import -window root "$shots/win32-about.png"
waitFor 60 closed About Escape || fail "Escape did not close the about box"
# Save all into the documents folder, which is empty: every movie byte-exact.
saved=$(unixPath "$(reportValue saveAllFolder)")
[ -d "$saved" ] && [ -z "$(ls "$saved")" ] || fail "the documents folder $saved is not an empty folder"
question=$(saveAll save-all)
[[ $question == "Congratulations: 9 file(s) have been successfully saved."* ]] || fail "after Save all: $question"
[ "$(ls "$saved" | wc -l)" -eq 9 ] || fail "$(ls "$saved" | wc -l) files saved, 9 expected"
# Each movie's bytes in a file of its own.
while read -r file; do
    match=0
    for copy in "$saved"/*; do cmp -s "$(unixPath "$file")" "$copy" && match=$((match + 1)); done
    [ "$match" -ge 1 ] || fail "no byte-exact copy of $file"
done <"$work/cached.txt"
(cd "$saved" && md5sum -- *) >"$work/first.md5"
step "saved all"
# Again into the same folder: the copies of the first run stay as they are, the second run's
# take the next free names.
question=$(saveAll save-all-again)
[[ $question == "Congratulations: 9 file(s) have been successfully saved."* ]] || fail "after the second Save all: $question"
[ "$(ls "$saved" | wc -l)" -eq 18 ] || fail "$(ls "$saved" | wc -l) files after saving twice, 18 expected"
(cd "$saved" && md5sum --quiet -c "$work/first.md5") || fail "the second Save all changed the first copies"
# The second copies hold the same movies under names with a counter ("clip.swf-1.swf").
(cd "$saved" && md5sum -- *) | grep -v -F -x -f "$work/first.md5" >"$work/second.md5" || true
[ "$(cut -d' ' -f1 "$work/first.md5" | sort)" = "$(cut -d' ' -f1 "$work/second.md5" | sort)" ] ||
    fail "the second copies differ from the first: $(cat "$work/second.md5")"
grep -q -v -E -- '-[0-9]+\.swf$' "$work/second.md5" && fail "a second copy without a counter: $(cat "$work/second.md5")"

step "saved all again"
# Save as (the key S): the selected movie under its suggested name in the documents folder.
# A file of that name the user has is replaced only after the dialog's question: No keeps it.
saveAsTitle='Save Flash movie as\.\.\.'
# windowCount TITLE OPERATOR N: the number of windows of that title compared with N.
windowCount() { [ "$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | wc -l)" "$2" "$3" ]; }
saveAs() {
    id=$(window Sarnika)
    xdotool windowactivate --sync "$id" >/dev/null 2>&1 || true
    xdotool key --window "$id" s
    waitFor 60 window "$saveAsTitle" || fail "S showed no save dialog"
    waitFor 60 painted "$(window "$saveAsTitle")" || fail "the save dialog is not drawn"
}
firstName=$(grep -m1 '^line' "$work/report.txt" | cut -f2)
firstFile=$(unixPath "$(head -1 "$work/cached.txt")")
saveAs
import -window root "$shots/win32-save-as.png"
waitFor 60 closed "$saveAsTitle" Return || fail "the save dialog did not close"
waitFor 60 test -f "$saved/$firstName" || fail "Save as did not write $firstName"
cmp "$firstFile" "$saved/$firstName" || fail "Save as wrote other bytes than the movie's"
echo "the user's own file" >"$saved/$firstName"
saveAs
xdotool key --window "$(window "$saveAsTitle")" Return
waitFor 60 windowCount "$saveAsTitle" -ge 2 || fail "no question before replacing $firstName"
import -window root "$shots/win32-save-as-replace.png"
question=$(xdotool search --onlyvisible --name "^$saveAsTitle\$" | tail -1)
xdotool windowactivate --sync "$question" >/dev/null 2>&1 || true
xdotool key n
waitFor 60 windowCount "$saveAsTitle" -eq 1 || fail "the question did not close"
waitFor 60 closed "$saveAsTitle" Escape || fail "Escape did not close the save dialog"
[ "$(cat "$saved/$firstName")" = "the user's own file" ] || fail "Save as replaced $firstName after No"
step "saved as"
# Minimised, the window hides and its icon waits in the notification area; a click on the
# icon brings the window back.
id=$(window Sarnika)
xdotool windowminimize "$id"
waitFor 60 reportSays $'trayIcon\t1' || fail "no tray icon after minimising"
waitFor 60 reportSays $'visible\t0' || fail "the window did not hide in the tray"
[ -z "$(window Sarnika)" ] || fail "the window is still on the screen"
# trayer's panel holds the icon once Wine's icon window has docked in it: the panel's place
# on the screen and its size.
trayArea() {
    local panel
    panel=$(xwininfo -root -tree | sed -n -E 's/^ *(0x[0-9a-f]+) "panel": \("panel" "trayer"\).*/\1/p' | head -1)
    [ -n "$panel" ] && xwininfo -id "$panel" -tree | grep -q 'explorer\.exe' || return 1
    xwininfo -id "$panel" | sed -n -E 's/^ *Absolute upper-left X: *(-?[0-9]+)/X=\1/p; s/^ *Absolute upper-left Y: *(-?[0-9]+)/Y=\1/p; s/^ *Width: *([0-9]+)/WIDTH=\1/p; s/^ *Height: *([0-9]+)/HEIGHT=\1/p'
}
waitFor 60 trayArea || fail "no icon in the notification area"
eval "$(trayArea)"
# A docking that went well draws the icon within a second or two; one that did not never
# draws it, and its window then takes no pointer events.
tries=10
waitFor 4 paintedAt $((WIDTH - 2))x$((HEIGHT - 2))+$((X + 1))+$((Y + 1)) || tries=2
import -window root "$shots/win32-tray.png"
# Wine's docked icon window now and then never draws its picture and then takes no pointer
# events (one docking in two or three here): the real click is tried, with the pointer coming
# from elsewhere each time; after that click_tray_icon.exe posts the click to the icon's window
# the way the shell does, so that the program's side is still checked.
clickTray() {
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT + 40))
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 1
    for _ in $(seq 20); do reportSays $'visible\t1' && return 0; sleep 0.1; done
    return 1
}
clicks=1
trayClick="pointer"
until clickTray; do
    clicks=$((clicks + 1))
    if [ "$clicks" -gt "$tries" ]; then
        trayClick="posted by click_tray_icon.exe, Wine's icon took no pointer click"
        "$wine" "$clickTrayIcon" || fail "no tray icon window to click"
        waitFor 60 reportSays $'visible\t1' || fail "a click on the tray icon did not bring the window back"
        break
    fi
done
waitFor 60 reportSays $'trayIcon\t0' || fail "the tray icon stayed after the window came back"
waitFor 60 window Sarnika || fail "the window is not on the screen again"
waitFor 60 painted "$(window Sarnika)" || fail "the window came back unpainted"
# The keys go to the list again.
id=$(window Sarnika)
xdotool key --window "$id" Down
waitFor 60 reportSays $'selected\t1' || fail "Down after the window came back did not move the selection (focus: $(reportValue focus))"
import -window root "$shots/win32-restored.png"
# Once more, now back through the icon's menu: a right click opens it, its first entry
# "Restore" brings the window back. Only an icon that Wine drew takes the click.
id=$(window Sarnika)
xdotool windowminimize "$id"
waitFor 60 reportSays $'visible\t0' || fail "the window did not hide in the tray again"
waitFor 60 trayArea || fail "no icon in the notification area the second time"
eval "$(trayArea)"
if waitFor 4 paintedAt $((WIDTH - 2))x$((HEIGHT - 2))+$((X + 1))+$((Y + 1)); then
    # Wine's menus are windows of the program without a name.
    trayMenu() {
        xwininfo -root -tree | sed -n -E 's/^ *0x[0-9a-f]+ \(has no name\): \("sarnika\.exe" "sarnika\.exe"\) +([0-9]{3,})x([0-9]{3,})\+.* \+(-?[0-9]+)\+(-?[0-9]+)$/MENU_X=\3 MENU_Y=\4/p' | head -1 | grep .
    }
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) click 3
    waitFor 60 trayMenu || fail "a right click on the tray icon showed no menu"
    eval "$(trayMenu)"
    import -window root "$shots/win32-tray-menu.png"
    xdotool mousemove $((MENU_X + 20)) $((MENU_Y + 10)) click 1
    waitFor 60 reportSays $'visible\t1' || fail "the tray menu's Restore did not bring the window back"
    trayClick="$trayClick; the menu's Restore too"
else
    trayClick="$trayClick; Wine did not draw the icon the second time, so its menu was not tried"
    "$wine" "$clickTrayIcon" || fail "no tray icon window to click"
    waitFor 60 reportSays $'visible\t1' || fail "a click on the tray icon did not bring the window back"
fi
waitFor 60 reportSays $'trayIcon\t0' || fail "the tray icon stayed after the window came back"
step "minimised to the tray and back (click: $trayClick)"
# Moved, closed and opened again, the window comes back where it was.
placed=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
# Asked again until it has moved: a request made while Wine and the window manager still
# settle the window is lost. The place is absolute, so that requests that arrive late do not
# add up, and well inside the screen, wherever the trips to the tray left the window.
geometry() { xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry'; }
moved() {
    xdotool windowmove "$id" 137 123
    [ "$(geometry)" != "$placed" ]
}
waitFor 60 moved || fail "the window did not move from $placed: $(xdotool getwindowgeometry "$id")"
# Settled: the same place twice in a row.
last=
settled() {
    local now
    now=$(geometry)
    [ "$now" = "$last" ] && return 0
    last=$now
    return 1
}
waitFor 60 settled || fail "the window does not settle"
before=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"
"$wine" reg query 'HKCU\Software\Quillmoor\Sarnika' >"$work/settings.txt" 2>/dev/null
"$wine" reg query 'HKCU\Software\Quillmoor\Sarnika\Placement' >>"$work/settings.txt" 2>/dev/null
for value in SaveAsFolder SaveAllFolder NormPos MinMaxPos ShowCmd; do
    grep -q "$value" "$work/settings.txt" || fail "no $value in the registry: $(cat "$work/settings.txt")"
done
# The folder of the last Save all, with its trailing delimiter; the eleven options shared with
# the company's other programs as DWORDs under their own key.
saveAllKept() {
    "$wine" reg query 'HKCU\Software\Quillmoor\Sarnika' /v SaveAllFolder 2>/dev/null | tr -d '\r' |
        grep -q 'SaveAllFolder.*REG_SZ.*\\Documents\\$'
}
waitFor 60 saveAllKept || fail "SaveAllFolder is not the documents folder: $("$wine" reg query 'HKCU\Software\Quillmoor\Sarnika' 2>&1)"
sharedOptions() {
    [ "$("$wine" reg query 'HKCU\Software\Quillmoor\Tessaly' 2>/dev/null | grep -c REG_DWORD)" -eq 11 ]
}
waitFor 60 sharedOptions || fail "not the eleven shared options: $("$wine" reg query 'HKCU\Software\Quillmoor\Tessaly' 2>&1)"
SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sarnika || fail "no window \"Sarnika\" the second time"
id=$(window Sarnika)
after=$(xdotool getwindowgeometry "$id" | grep -E 'Position|Geometry')
[ "$after" = "$before" ] || fail "reopened at $after, closed at $before"
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"

step "closed and reopened in place"
# No cache at all: the window still opens and says so.
rm -rf "$local_app_data/Google" "$local_app_data/Mozilla" "$local_app_data/Microsoft/Windows/INetCache"
SARNIKA_TEST_REPORT="Z:$work/report.txt" "$wine" "$exe" >/dev/null 2>&1 &
waitFor 120 window Sorry || fail "no \"Sorry\" message for an empty cache"
import -window root "$shots/win32-sorry.png"
reportSays $'fileEntries\tgreyed\tgreyed' || fail "the File menu's save entries are not greyed: $(reportValue fileEntries)"
waitFor 60 closed Sorry Return || fail "the message did not close"
waitFor 60 closed Sarnika alt+F4 || fail "Alt+F4 did not close the window"
echo "window under Wine: 9 movies largest first (2 of WinINet), keys, rescan, Save all twice" \
    "byte-exact without replacing, Save as asking before it replaces, about box, tray and back, close and reopen in place, empty cache: ok"
