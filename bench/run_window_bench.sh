#!/usr/bin/env bash
# The window benchmark: launch to list shown and launch to first preview frame on the demo home
# (medians of RUNS), then on a home of 5,000 movies: list shown, first frame, memory of the
# process tree (the web engine's processes included) and the time of "Save all..." of them all.
#   bench/run_window_bench.sh BUILD_DIR [BEFORE_PROGRAM] [RUNS]
# BUILD_DIR is a release build (cmake --preset release); nothing is built here. BEFORE_PROGRAM
# is another build's bin/sarnika (with its ruffle folder beside it), measured the same way in
# the same run for comparison. Runs on $DISPLAY when set, else on an Xvfb display of its own
# (SARNIKA_BENCH_DISPLAY, default :64) with openbox; needs xvfb, openbox and xdotool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: run_window_bench.sh BUILD_DIR [BEFORE_PROGRAM] [RUNS]}" && pwd)
before=${2:-}
runs=${3:-5}
after=$build/bin/sarnika
for program in "$after" ${before:+"$before"}; do
    [[ -x $program ]] || { echo "run_window_bench: $program is not built" >&2; exit 1; }
done

work=$(mktemp -d)
helpers=()
cleanup() {
    for pid in "${helpers[@]}"; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
if [[ -z ${DISPLAY:-} ]]; then
    export DISPLAY=${SARNIKA_BENCH_DISPLAY:-:64}
    Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    helpers+=($!)
    for _ in $(seq 1 600); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
    openbox >/dev/null 2>&1 &
    helpers+=($!)
    for _ in $(seq 1 600); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
        sleep 0.1
    done
fi

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
python3 "$root/tools/make_synthetic_caches.py" "$work/demo" --demo >/dev/null
python3 "$root/bench/make_scan_home.py" "$work/big" --entries 6000 --movies 5000 >/dev/null

# The process and its descendants, by PSS: shared pages count once over the tree.
tree_pss_mib() {
    local pids=("$1") i=0 total=0 kid value
    while ((i < ${#pids[@]})); do
        for kid in $(cat /proc/"${pids[i]}"/task/*/children 2>/dev/null); do pids+=("$kid"); done
        i=$((i + 1))
    done
    for kid in "${pids[@]}"; do
        value=$(awk '/^Pss:/ {print $2}' /proc/"$kid"/smaps_rollup 2>/dev/null || true)
        total=$((total + ${value:-0}))
    done
    echo $((total / 1024))
}

# One launch: the watcher's figures, plus the tree's memory a few seconds after the first frame.
launch() { # PROGRAM HOME [--save-all]
    local program=$1 home=$2 line pid
    shift 2
    line=$(HOME=$home XDG_CACHE_HOME= XDG_CONFIG_HOME= XDG_DATA_HOME= \
        QTWEBENGINE_DISABLE_SANDBOX=1 python3 "$root/bench/window_watch.py" "$@" -- "$program")
    pid=${line##*pid=}
    if [[ " $* " != *" --save-all "* ]]; then
        sleep 3
        line="$line pss_mib=$(tree_pss_mib "$pid")"
    fi
    kill "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
    echo "$line"
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR == 0) ? "none" : v[int((NR + 1) / 2)]}'; }
# Memory moves by tens of MiB between runs: its least and greatest go with the median.
spread() { sort -n | awk '{v[NR] = $1} END {print (NR == 0) ? "none" : v[1] "/" v[int((NR + 1) / 2)] "/" v[NR]}'; }
field() { tr ' ' '\n' | sed -n "s/^$1=//p"; }

# The programs take turns, run after run, so that a change in the machine's load falls on both.
measure() { # HOME
    local home=$1 label program
    declare -A lines=()
    # One launch each first: it extracts the movies from the browsers' caches, as a first run
    # does once; the runs measured find them current.
    for program in ${before:+"$before"} "$after"; do launch "$program" "$home" >/dev/null; done
    for _ in $(seq 1 "$runs"); do
        for label in ${before:+before} after; do
            program=$after
            [[ $label == before ]] && program=$before
            lines[$label]+="$(launch "$program" "$home")"$'\n'
        done
    done
    for label in ${before:+before} after; do
        printf '  %-8s list shown %5s ms, first frame %5s ms (medians of %d), process tree %s MiB (least/median/greatest)\n' \
            "$label" "$(field shown_ms <<<"${lines[$label]}" | median)" \
            "$(field frame_ms <<<"${lines[$label]}" | median)" "$runs" \
            "$(field pss_mib <<<"${lines[$label]}" | spread)"
    done
}

[[ -n $before ]] && echo "before: $before"
echo "demo home:"
measure "$work/demo/home"
echo "home of 5,000 movies (6,000 + 6,000 cache entries):"
measure "$work/big/home"

# "Save all..." of the 5,000 into the documents folder, which the folder dialog opens on; the
# programs take turns, and the bytes of the previous run are on the disk before the next begins.
declare -A saves=()
for _ in 1 2 3; do
    for label in ${before:+before} after; do
        program=$after
        [[ $label == before ]] && program=$before
        rm -rf "$work/big/home/Documents"
        mkdir -p "$work/big/home/Documents"
        sync
        line=$(launch "$program" "$work/big/home" --save-all --limit 600)
        saved=$(find "$work/big/home/Documents" -type f | wc -l)
        [[ $saved == 5000 ]] || echo "  ($label saved $saved movies)"
        saves[$label]+="$(field save_ms <<<"$line")"$'\n'
    done
done
for label in ${before:+before} after; do
    printf '  %-8s Save all of 5,000 movies %5s ms (median of 3)\n' "$label" \
        "$(median <<<"${saves[$label]}")"
done
echo "load after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
