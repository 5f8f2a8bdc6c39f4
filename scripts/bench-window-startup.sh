#!/bin/bash
# scripts/bench-window-startup.sh BIN HOME RUNS (needs DISPLAY): time from start to the window
# mapped (list shown) and to the first preview frame (the preview's centre pixel turns to a
# colour of the movie), one line per run. The watching is bench/window_watch.py's: one process
# reading the X server through Xlib, which leaves the processor to the program (a shell loop of
# xwininfo and import took enough of it to put the first frame off by a second and more).
# bench/run_window_bench.sh gives medians, beside another build and on 5,000 movies.
set -u
BIN=$1; H=$2; RUNS=${3:-5}
export DISPLAY=${DISPLAY:?}
watch=$(dirname "$0")/../bench/window_watch.py
for run in $(seq 1 "$RUNS"); do
  line=$(HOME=$H XDG_CACHE_HOME= XDG_CONFIG_HOME= QTWEBENGINE_DISABLE_SANDBOX=1 python3 "$watch" -- "$BIN")
  pid=${line##*pid=}
  shown=$(tr ' ' '\n' <<<"$line" | sed -n 's/^shown_ms=//p')
  frame=$(tr ' ' '\n' <<<"$line" | sed -n 's/^frame_ms=//p')
  echo "run $run: list shown ${shown} ms, first preview frame ${frame} ms"
  kill "$pid" 2>/dev/null
  while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
done
