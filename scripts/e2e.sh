#!/usr/bin/env bash
# End to end on caches that the real browsers write now: Chromium (simple, blockfile and SQL
# backends) and Firefox ESR fetch the test site's movies headless, then the full scan must list
# every movie with the served bytes and change nothing in the browsers' folders.
#   scripts/e2e.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
shared=${SARNIKA_SHARED:-$(cd .. && pwd)/shared}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The browsers' own tools leave files next to their output only; OUT must start empty.
if ! OUT="$out/caches" bash "$shared/tools/browser-caches/make_caches.sh" >"$out/make.log" 2>&1; then
    tail -40 "$out/make.log"
    echo "e2e: the browsers could not make fresh caches" >&2
    exit 1
fi
grep -E '^== .*finished' "$out/make.log" || true
SARNIKA_REAL_CACHES="$out/caches" SARNIKA_SHARED="$shared" \
    "$build/src/cache/sources/test_RealCaches" --gtest_brief=1
