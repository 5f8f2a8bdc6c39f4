#!/bin/bash
# scripts/bench-window-startup.sh BIN HOME RUNS (needs DISPLAY, x11-utils, imagemagick): time from start to the window mapped (list shown) and to the
# first preview frame (the preview's centre pixel turns to a colour of the movie).
set -u
BIN=$1; H=$2; RUNS=${3:-5}
export DISPLAY=${DISPLAY:?}
now() { date +%s%N; }
for run in $(seq 1 "$RUNS"); do
  t0=$(now)
  HOME=$H XDG_CACHE_HOME= XDG_CONFIG_HOME= QTWEBENGINE_DISABLE_SANDBOX=1 "$BIN" >"${TMPDIR:-/tmp}/sarnika-run.log" 2>&1 &
  pid=$!
  shown=""; frame=""; base=""
  for i in $(seq 1 1500); do
    if [ -z "$shown" ]; then
      id=$(xwininfo -root -tree 2>/dev/null | awk '/"Sarnika": \("sarnika"/ {print $1; exit}')
      if [ -n "$id" ] && xwininfo -id "$id" 2>/dev/null | grep -q IsViewable; then
        shown=$(( ($(now) - t0) / 1000000 ))
        eval "$(xwininfo -id "$id" | awk '/Absolute upper-left X/ {print "X="$4} /Absolute upper-left Y/ {print "Y="$4} /Width/ {print "W="$2} /Height/ {print "H2="$2}')"
        # centre of the preview: right of the 193 px list, above the status bar
        px=$(( X + 196 + (W - 196) / 2 )); py=$(( Y + H2 / 2 ))
        base=$(import -window root -crop 1x1+$px+$py txt:- 2>/dev/null | tail -1 | awk '{print $3}')
      fi
    else
      c=$(import -window root -crop 1x1+$px+$py txt:- 2>/dev/null | tail -1 | awk '{print $3}')
      # the page paints black or white before the player draws the stage
      if [ -n "$c" ] && [ "$c" != "$base" ] && [ "$c" != "#000000000000" ] && [ "$c" != "#FFFFFFFFFFFF" ]; then frame=$(( ($(now) - t0) / 1000000 )); break; fi
    fi
    sleep 0.01
  done
  echo "run $run: list shown ${shown} ms, first preview frame ${frame:-none} ms (base $base -> ${c:-?})"
  sleep 1
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
  sleep 1
done
