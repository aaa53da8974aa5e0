#!/usr/bin/env bash
# Makes docs/pulseview.png: a vm316 capture, written as a sigrok session file, opened in
# PulseView on a virtual X display (Xvfb keeps its screen in a file, which is cut and converted).
#   scripts/pulseview-screenshot.sh [BUILD_DIR]      (default build/)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
work=$(mktemp -d)
xvfb_pid=
viewer_pid=
cleanup() {
  [[ -n $viewer_pid ]] && kill "$viewer_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

VM316_CLOCK=virtual "$build/vm316" -q measure --rate 1M --length 3000 --sim-ch1 generator \
  --sim-ch2 sine:freq=1k,amp=2 -o "$work/capture.sr" >/dev/null
Xvfb -displayfd 3 -screen 0 1280x720x24 -fbdir "$work" -nolisten tcp 3>"$work/display" \
  2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
display=$(cat "$work/display")
DISPLAY=:$display pulseview -i "$work/capture.sr" >"$work/pulseview.log" 2>&1 &
viewer_pid=$!
# PulseView loads the file and draws it within a few seconds; its window, without a window manager, lies in the top left 1000 x 720.
sleep "${PULSEVIEW_WAIT:-10}"
python3 scripts/xwd_to_png.py "$work/Xvfb_screen0" docs/pulseview.png 1000x720
echo "written: docs/pulseview.png"
