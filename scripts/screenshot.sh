#!/usr/bin/env bash
# Makes docs/pcg-window.png: the desktop program with the demo PCG file open, on a virtual X
# display. Usage: scripts/screenshot.sh [build directory, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=$PWD/docs/pcg-window.png
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF >/dev/null
cmake --build "$build" --target bankquill-screenshot demo_pcg -j2
mkdir -p docs
# From the demo file's folder, so that the window title shows only its name.
program=$(cd "$build" && pwd)/tools/screenshot/bankquill-screenshot
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" demo.pcg "$out")
echo "Wrote $out"
