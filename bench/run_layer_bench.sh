#!/usr/bin/env bash
# Builds synthetic caches of 50,000 entries each and runs the layer benchmark on them.
#   bench/run_layer_bench.sh [BUILD_DIR] [ENTRIES]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
entries=${2:-50000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 tools/make_synthetic_caches.py "$work" --entries "$entries" --swf 1000
"$build/bench/bench_layer" "$work/home"
