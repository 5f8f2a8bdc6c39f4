#!/usr/bin/env bash
# Installs what is needed, builds and starts the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
# Until a front end exists, the scan benchmark is what there is to run.
exec ./build/release/bench/bench_scan "$@"
