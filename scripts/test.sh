#!/usr/bin/env bash
# Installs what the tests need, builds from scratch and runs every test and check.
set -euo pipefail
cd "$(dirname "$0")/.."
start=$SECONDS
step() { printf '\n=== %s (%ds)\n' "$1" $((SECONDS - start)); }

step "dependencies"
bash scripts/deps.sh

step "format"
bash scripts/lint.sh format

rm -rf build/dev build/asan build/fuzz

step "dev build and tests"
cmake --workflow --preset dev

step "clang-tidy"
bash scripts/lint.sh tidy build/dev

step "tools: SWF writer and demo caches"
python3 tools/test_demo_tools.py

step "real browsers: fresh caches, full scan"
bash scripts/e2e.sh build/dev

step "Debian package: build, validate, install, run, remove"
rm -rf build/package
cmake --workflow --preset package >build/package.log 2>&1 || { tail -40 build/package.log; exit 1; }
bash scripts/test-package.sh

step "asan build and tests"
cmake --workflow --preset asan

step "Windows build (mingw-w64) and tests under Wine"
bash scripts/windows-test.sh

step "fuzzing (clang, libFuzzer)"
bash scripts/fuzz.sh "${SARNIKA_FUZZ_SECONDS:-15}"

step "done"
