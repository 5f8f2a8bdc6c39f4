#!/usr/bin/env bash
# Installs what the window and its tests need on Debian 12 (run as root). Safe to run again.
# Node.js 20 and npm come with the machine; Ruffle itself is installed by `npm ci`.
set -euo pipefail

packages=(
    # Qt 6.4 Widgets, WebEngine (with its helper process) and Test
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-webengine-dev-tools
    libqt6webenginecore6-bin libgl-dev libglx-dev libgl1-mesa-dri libxkbcommon-dev
    # a real X server for the window's tests, a window manager and screenshots
    xvfb xauth openbox imagemagick
    # a notification area, and clicks and window queries for the tray and placement tests
    trayer xdotool x11-utils
    # desktop file validation, and the icons' renders (resources/icons/render.sh)
    desktop-file-utils librsvg2-bin
)

. "$(dirname "$0")/apt-install.sh"
apt_install "${packages[@]}"
