#!/usr/bin/env bash
# Starts the desktop program of a build (what `make run` shows). Without a display it runs on a
# virtual X display through xvfb-run, where nothing can be seen; it says so first.
set -euo pipefail
build=${1:?build directory}
program="$build/app/bankquill"
if [[ -f "$build/tools/demo.pcg" ]]; then
    echo "A demo PCG file to open with File > Open: $build/tools/demo.pcg"
fi
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    exec "$program"
fi
echo "No display found: starting Bankquill under xvfb-run on a virtual X display; its window"
echo "cannot be seen there. Stop it with Ctrl+C (scripts/screenshot.sh shows what it looks like)."
exec xvfb-run -a "$program"
