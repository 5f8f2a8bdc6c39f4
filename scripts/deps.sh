#!/usr/bin/env bash
# Installs what building and testing need on Debian 12 (run as root). Safe to run again.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config python3
    clang clang-format clang-tidy libclang-rt-14-dev
    libgtest-dev libgmock-dev
    zlib1g-dev libsqlite3-dev libbrotli-dev liblzma-dev
    # the index.dat reader's tests compare with libmsiecf's msiecfexport
    libmsiecf-utils
    # the WebCache reader of IE 10/11 reads its ESE database through libesedb; its tests
    # compare with esedbexport
    libesedb-dev libesedb-utils
    # the end-to-end test lets the real browsers fill their caches
    chromium firefox-esr bc tar
    # the Debian package: built by CPack (dpkg-shlibdeps, file), checked, run under Xvfb
    dpkg-dev file appstream xdotool
    # a private session bus for the per-file menu's "Show in Folder" test
    dbus-daemon
    # the Windows build (mingw-w64, static) and its tests under Wine 8; wine64 alone satisfies
    # wine, so no i386 architecture is needed; GoogleTest is built from googletest's sources
    g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev libz-mingw-w64-dev googletest
    wine wine64
)

. "$(dirname "$0")/apt-install.sh"
apt_install "${packages[@]}"

# The window: Qt 6 and an X server for its tests.
bash "$(dirname "$0")/gui-deps.sh"

# The Flash player of the preview comes from npm, pinned by package-lock.json. These machines
# bring Node.js 20 with its npm; Debian's own is installed only where there is none.
if ! command -v npm >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends nodejs npm >/dev/null
fi
(cd "$(dirname "$0")/.." && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
