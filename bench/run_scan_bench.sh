#!/usr/bin/env bash
# The scan benchmark: sarnika-cli list against the floor (open each entry file, read the bytes
# that hold its key, close) on 50,000 Chromium and 50,000 Firefox entries cloned from real ones,
# 1,068 of them Flash movies; then the reference readers and msiecfexport beside it.
#   bench/run_scan_bench.sh BUILD_DIR [RUNS]
# BUILD_DIR is a release build with the bench programs (cmake --preset release); nothing is
# built here. The home is made in a temporary folder and removed afterwards. Set
# SARNIKA_SHARED_DIR when the shared samples are not in ../shared.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run_scan_bench.sh BUILD_DIR [RUNS]}" && pwd)
runs=${2:-5}
shared=${SARNIKA_SHARED_DIR:-$root/../shared}
for program in "$build/src/cli/sarnika-cli" "$build/bench/bench_floor"; do
    [[ -x $program ]] || { echo "run_scan_bench: $program is not built" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/bench/make_scan_home.py" "$work" --shared "$shared"
python3 "$root/bench/scan_bench.py" "$build" "$work" --shared "$shared" --runs "$runs"
