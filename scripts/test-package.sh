#!/usr/bin/env bash
# Installs the Debian package on this machine (run as root), checks what it installed, runs
# both installed programs (the window under Xvfb until its preview plays a demo movie) and
# removes the package again.
#   scripts/test-package.sh [PACKAGE.deb]   (default: the one in build/package/packages/)
# SARNIKA_SCREENSHOT=FILE.png keeps the screenshot of the installed window.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
deb=${1:-$(ls build/package/packages/sarnika_*.deb 2>/dev/null | head -1)}
[ -f "$deb" ] || { echo "test-package: no package; build it with: cmake --workflow --preset package" >&2; exit 1; }
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
shared=${SARNIKA_SHARED:-$(cd .. && pwd)/shared}
work=$(mktemp -d)
xpid=
fail() { echo "test-package: $*" >&2; exit 1; }
wmpid=
cleanup() {
    # Either may have ended by itself already.
    [ -z "$wmpid" ] || kill "$wmpid" 2>/dev/null || true
    [ -z "$xpid" ] || kill "$xpid" 2>/dev/null || true
    if dpkg-query -W -f='${Status}' sarnika 2>/dev/null | grep -q installed; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq sarnika >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== package: $(basename "$deb")"
dpkg-deb --field "$deb" Package Version Architecture Depends | sed 's/^/   /'
dpkg-deb --contents "$deb" | awk '{print $6}' | grep -q "$root" && fail "a path of the build folder in the package"

echo "== install"
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
    { tail -20 "$work/apt.log"; fail "apt-get install failed"; }
for file in /usr/bin/sarnika /usr/bin/sarnika-cli /usr/share/sarnika/ruffle/ruffle.js \
    /usr/share/applications/example.quillmoor.Sarnika.desktop \
    /usr/share/metainfo/example.quillmoor.Sarnika.metainfo.xml \
    /usr/share/icons/hicolor/scalable/apps/sarnika.svg /usr/share/icons/hicolor/48x48/apps/sarnika.png \
    /usr/share/man/man1/sarnika.1.gz /usr/share/man/man1/sarnika-cli.1.gz \
    /usr/share/doc/sarnika/copyright /usr/share/doc/sarnika/ruffle/LICENSE_MIT; do
    [ -e "$file" ] || fail "$file is missing"
done
for program in /usr/bin/sarnika /usr/bin/sarnika-cli; do
    readelf -d "$program" | grep -qE 'RPATH|RUNPATH' && fail "$program carries a library path"
done

echo "== desktop entry and metadata"
desktop=/usr/share/applications/example.quillmoor.Sarnika.desktop
desktop-file-validate "$desktop"
appstreamcli validate --no-net /usr/share/metainfo/example.quillmoor.Sarnika.metainfo.xml >/dev/null
exec_name=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
icon_name=$(sed -n 's/^Icon=//p' "$desktop")
[ "$(command -v "$exec_name")" = /usr/bin/sarnika ] || fail "Exec=$exec_name is not the installed program"
[ -f "/usr/share/icons/hicolor/scalable/apps/$icon_name.svg" ] || fail "Icon=$icon_name not installed"
echo "   Exec=$exec_name -> /usr/bin/sarnika, Icon=$icon_name -> hicolor"
man -l /usr/share/man/man1/sarnika-cli.1.gz >/dev/null 2>&1 || zcat /usr/share/man/man1/sarnika-cli.1.gz >/dev/null

echo "== sarnika-cli"
/usr/bin/sarnika-cli --help | head -1
mkdir -p "$work/caches"
tar -C "$work/caches" -xzf "$shared/testdata/made-here/chromium-cache.tar.gz"
HOME="$work/empty" XDG_CACHE_HOME="$work/empty/.cache" \
    /usr/bin/sarnika-cli --cache "$work/caches" list >"$work/list.txt"
head -3 "$work/list.txt" | cut -f1,2,4 | sed 's/^/   /'
[ "$(head -1 "$work/list.txt" | cut -f1)" = huge.swf ] || fail "the list does not start with huge.swf"

echo "== sarnika under Xvfb"
python3 tools/make_synthetic_caches.py "$work/demo" --demo >/dev/null
# A display of our own: one that another X server (a desktop, a test) holds is left alone.
display=93
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
export DISPLAY=":$display"
for _ in $(seq 60); do
    xdpyinfo >/dev/null 2>&1 && break
    kill -0 "$xpid" 2>/dev/null || fail "Xvfb :$display did not start"
    sleep 1
done
xdpyinfo >/dev/null 2>&1 || fail "Xvfb :$display did not answer within 60 s"
# A window manager gives the window the keyboard focus, as on a desktop.
openbox >/dev/null 2>&1 &
wmpid=$!
home="$work/demo/home"
HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" \
    XDG_DATA_HOME="$home/.local/share" /usr/bin/sarnika >"$work/sarnika.log" 2>&1 &
app=$!
window=$(timeout 60 xdotool search --sync --name '^Sarnika$' | head -1) || fail "no window within 60 s"
# The first movie plays in the preview: its background colour fills part of the screen.
expected=$(python3 -c "
import sys; sys.path.insert(0, 'tools'); import make_swf_movies as m
print('#%02x%02x%02x' % m.background_of(m.demo_movies()['adventure.swf']))")
share=0
for _ in $(seq 30); do
    sleep 1
    import -window root "$work/screen.png"
    share=$(convert "$work/screen.png" -fill black +opaque "$expected" -fill white -opaque "$expected" \
        -format '%[fx:mean]' info:)
    awk -v s="$share" 'BEGIN { exit !(s > 0.05) }' && break
done
awk -v s="$share" 'BEGIN { exit !(s > 0.05) }' || { tail -5 "$work/sarnika.log"; fail "the preview shows no movie (share of $expected: $share)"; }
[ -n "${SARNIKA_SCREENSHOT:-}" ] && cp "$work/screen.png" "$SARNIKA_SCREENSHOT"
echo "   window $window, preview playing ($expected on $(awk -v s="$share" 'BEGIN { printf "%.0f", s * 100 }') % of the screen)"
# Alt+F4 (the window's own Exit, or the window manager's close): a polite close.
xdotool windowactivate --sync "$window" key alt+F4 2>/dev/null
for _ in $(seq 20); do kill -0 "$app" 2>/dev/null || break; sleep 1; done
kill -0 "$app" 2>/dev/null && fail "the window did not close on Alt+F4"
wait "$app" || fail "sarnika exited with status $?"
echo "   closed with Alt+F4, exit status 0"

echo "== remove"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq sarnika >/dev/null
for file in /usr/bin/sarnika /usr/bin/sarnika-cli /usr/share/sarnika /usr/share/doc/sarnika; do
    [ -e "$file" ] && fail "$file is still there after removal"
done
echo "   removed, nothing left"
