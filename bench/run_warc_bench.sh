#!/usr/bin/env bash
# The web archive of 1,000 movies with the other files of their sites, beside copying the same
# bytes twice: time and peak memory of `sarnika-cli warc --with-assets`, gzip and plain.
#   bench/run_warc_bench.sh [BUILD_DIR] [ENTRIES] [MOVIES] [FILES_PER_MOVIE]
# Needs /usr/bin/time. Prints one line per run and the ratios; the home is made in a temporary
# folder and removed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
entries=${2:-20000}
movies=${3:-1000}
assets=${4:-4}
cli="$build/src/cli/sarnika-cli"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 tools/make_synthetic_caches.py "$work" --entries "$entries" --swf "$movies" \
    --assets-per-movie "$assets" >/dev/null
export HOME="$work/home"
unset XDG_CACHE_HOME XDG_CONFIG_HOME

seconds() { /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1; cat "$work/time"; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The bodies are copied out on the first run; every later run finds them current.
"$cli" save-all "$work/saved" --with-assets >/dev/null 2>&1
files=$(find "$work/saved" -type f | wc -l)
bytes=$(du -sb "$work/saved" | cut -f1)
echo "home: $entries entries and $movies movies with $assets files each per cache; $files files of $bytes bytes to archive"
/usr/bin/time -f "%e %M" -o "$work/time" "$cli" list >/dev/null 2>&1
echo "one scan (list): $(cut -d' ' -f1 "$work/time") s, $(( $(cut -d' ' -f2 "$work/time") / 1024 )) MiB"

copy_runs=() gz_runs=() plain_runs=() gz_peak=0 plain_peak=0
for run in 1 2 3 4 5; do
    rm -rf "$work/copy1" "$work/copy2" "$work"/out.warc*
    start=$(date +%s.%N)
    cp -r "$work/saved" "$work/copy1" && cp -r "$work/copy1" "$work/copy2" && sync -f "$work/copy2"
    copy_runs+=("$(echo "$(date +%s.%N) - $start" | bc)")
    read -r gz gz_kib < <(seconds "$cli" warc "$work/out.warc.gz" --with-assets)
    read -r plain plain_kib < <(seconds "$cli" warc "$work/out.warc" --with-assets)
    gz_runs+=("$gz") plain_runs+=("$plain")
    gz_peak=$(( gz_kib > gz_peak ? gz_kib : gz_peak ))
    plain_peak=$(( plain_kib > plain_peak ? plain_kib : plain_peak ))
    echo "run $run: copy twice ${copy_runs[-1]} s, warc.gz $gz s ($((gz_kib / 1024)) MiB), warc $plain s ($((plain_kib / 1024)) MiB)"
done
copy=$(printf '%s\n' "${copy_runs[@]}" | median)
gz=$(printf '%s\n' "${gz_runs[@]}" | median)
plain=$(printf '%s\n' "${plain_runs[@]}" | median)
echo "medians: copy twice $copy s; warc.gz $gz s ($(echo "scale=2; $gz / $copy" | bc)x), warc $plain s ($(echo "scale=2; $plain / $copy" | bc)x)"
echo "peak memory: warc.gz $((gz_peak / 1024)) MiB, warc $((plain_peak / 1024)) MiB; archive $(stat -c %s "$work/out.warc.gz") bytes gzip, $(stat -c %s "$work/out.warc") plain"
