#!/usr/bin/env bash
# End to end on caches that the real browsers write now: Chromium (simple, blockfile and SQL
# backends) and Firefox ESR fetch the test site's movies headless, then the full scan must list
# every movie with the served bytes and change nothing in the browsers' folders. The site holds
# a game whose movie loads a configuration and a second movie: save-all and warc --with-assets
# must hold all three, and warcio must read the archive.
#   scripts/e2e.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
shared=${SARNIKA_SHARED:-$(cd .. && pwd)/shared}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The browsers' own tools leave files next to their output only; OUT must start empty.
export BROWSER_CACHE_TOOLS="$shared/tools/browser-caches"
if ! OUT="$out/caches" SITE_GEN="$PWD/tools/make_game_site.py" bash "$shared/tools/browser-caches/make_caches.sh" >"$out/make.log" 2>&1; then
    tail -40 "$out/make.log"
    echo "e2e: the browsers could not make fresh caches" >&2
    exit 1
fi
grep -E '^== .*finished' "$out/make.log" || true
SARNIKA_REAL_CACHES="$out/caches" SARNIKA_SHARED="$shared" \
    "$build/src/cache/sources/test_RealCaches" --gtest_brief=1
work="$out/caches/work"
node tests/support/curation/check_site.mjs "$build/src/cli/sarnika-cli" "$out/caches/site" \
    "$work/home" "$work/home-blockfile" "$work/home-sql"
