#!/usr/bin/env bash
# Builds the portable Windows zip: sarnika.exe and sarnika-cli.exe (optimised, static), the
# README and the licences, in build/<preset>/packages/sarnika-<version>-windows-x64.zip.
# Usage: scripts/windows-zip.sh [mingw-release|mingw]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=${1:-mingw-release}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target sarnika sarnika-cli
(cd "build/$preset" && cpack -G ZIP >/dev/null)
ls build/"$preset"/packages/sarnika-*-windows-x64.zip
