#!/usr/bin/env bash
# Builds the libFuzzer targets (clang) and runs each for a short time on seeds made from the
# real samples. A crash fails the run and leaves the input in build/fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shared=${SARNIKA_SHARED:-$(cd .. && pwd)/shared}

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >build/fuzz-build.log 2>&1 || { tail -40 build/fuzz-build.log; exit 1; }

work=build/fuzz/corpus
rm -rf "$work"
mkdir -p "$work" build/fuzz/crashes
python3 tests/support/chromium/fuzz_seeds.py "$shared" "$work/chromium"

seed() { # target, then files to copy as seeds
    local target=$1
    shift
    mkdir -p "$work/$target"
    for f in "$@"; do
        [ -f "$f" ] && cp "$f" "$work/$target/$(echo "$f" | md5sum | cut -c1-16)"
    done
    return 0
}
seed fuzz_IndexDat "$shared"/testdata/msiecf/*
seed fuzz_FirefoxEntry "$shared"/testdata/firefox/*/*
opera="$shared"/testdata/external/opera11-cache/cache
seed fuzz_OperaCache "$opera"/dcache4.url "$opera"/revocation/dcache4.url "$opera"/g_0000/opr0000[1A].tmp \
    "$opera"/g_0000/opr0002[CGI].tmp
seed fuzz_FirefoxOldCache "$shared"/testdata/external/firefox-oldcache/*/_CACHE_00?_
seed fuzz_ContentDecoding "$shared"/testdata/swf/*.swf
seed fuzz_SwfHeader "$shared"/testdata/swf/*.swf
seed fuzz_SwfTexts "$shared"/testdata/swf/*.swf
safari="$shared"/testdata/external/safari-cache/com.apple.Safari
seed fuzz_BinaryPlist "$safari"/fsCachedData/AF2A2216-EBB0-4B33-8389-322840BD65B2
python3 - "$safari/Cache.db" "$work/fuzz_BinaryPlist" <<'PY'
import plistlib, sqlite3, sys
db = sqlite3.connect("file:" + sys.argv[1] + "?immutable=1", uri=True)
for entry, blob in db.execute("SELECT entry_ID, response_object FROM cfurl_cache_blob_data"):
    open(f"{sys.argv[2]}/response{entry}", "wb").write(blob)
    # The first versions kept the same objects as XML.
    open(f"{sys.argv[2]}/response{entry}.xml", "wb").write(
        plistlib.dumps(plistlib.loads(blob), fmt=plistlib.FMT_XML))
PY
seed fuzz_ChromiumResponse
seed fuzz_ChromiumSqlCache
# The WebCache rows' fuzzer reads a container and a row as lines (see WebCacheRows.fuzz.cpp).
mkdir -p "$work/fuzz_WebCacheRows"
printf '%s\n' Content 'C:\Users\J\AppData\Local\Microsoft\Windows\INetCache\Low\IE\' \
    08CUFRSBBJS8EBNL144XBWIW https://example.com/movie.swf 'movie[1].swf' \
    >"$work/fuzz_WebCacheRows/content"
printf 'HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n~U:john\r\n' \
    >>"$work/fuzz_WebCacheRows/content"
printf '%s\n' History 'C:\Users\J\AppData\Local\Microsoft\Windows\History\History.IE5\' '' \
    'Visited: John@https://example.com/' '' >"$work/fuzz_WebCacheRows/history"
mv "$work/chromium/simple" "$work/fuzz_SimpleEntry"
mv "$work/chromium/blockfile" "$work/fuzz_Blockfile"

status=0
for target in $(find build/fuzz -name 'fuzz_*' -type f -executable | sort); do
    name=$(basename "$target")
    mkdir -p "$work/$name"
    printf '%-24s ' "$name"
    if "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=1048576 \
        -artifact_prefix="build/fuzz/crashes/$name-" "$work/$name" >"build/fuzz/$name.log" 2>&1; then
        grep -E '^Done [0-9]+ runs' "build/fuzz/$name.log" || echo "done"
    else
        echo "FAILED (see build/fuzz/$name.log)"
        tail -30 "build/fuzz/$name.log"
        status=1
    fi
done
exit $status
