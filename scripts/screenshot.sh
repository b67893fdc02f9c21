#!/usr/bin/env bash
# Makes docs/pcg-window.png: the desktop program with the demo PCG file open, on a virtual X
# display; then docs/workstation-download.png and docs/workstation-drag.png: the same connected
# to a virtual Karma on a JACK server of its own (dummy driver), during a bank download and
# during a drag, docs/workstation-backup.png during File > Back Up Workstation,
# docs/restore.png at the question of File > Restore Workstation, and
# docs/compare.png and docs/find.png: Tools > Compare With Workstation on a live set made from
# the demo file, then Edit > Find across it, the demo file and the Workstation window. Usage:
# scripts/screenshot.sh [build directory, default build/release]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=$PWD/docs/pcg-window.png
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBANKQUILL_TESTS=OFF >/dev/null
cmake --build "$build" --target bankquill-screenshot demo_pcg bankquill-virtual-karma -j2
mkdir -p docs
# From the demo file's folder, so that the window title shows only its name.
program=$(cd "$build" && pwd)/tools/screenshot/bankquill-screenshot
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" demo.pcg "$out")
echo "Wrote $out"

# The Workstation pictures: a private jackd and a virtual Karma filled from the demo file,
# sending at ten times MIDI speed so that the download lasts a few seconds. Both are stopped
# on every way out.
export JACK_NO_AUDIO_RESERVATION=1 JACK_NO_START_SERVER=1
export JACK_DEFAULT_SERVER="bankquill-screenshot-$$"
karma=$(cd "$build" && pwd)/tools/virtual-karma-jack/bankquill-virtual-karma
jackd_pid="" karma_pid=""
cleanup() {
    [[ -n "$karma_pid" ]] && kill "$karma_pid" 2>/dev/null && wait "$karma_pid" 2>/dev/null
    [[ -n "$jackd_pid" ]] && kill "$jackd_pid" 2>/dev/null && wait "$jackd_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
jackd -n "$JACK_DEFAULT_SERVER" -S --no-realtime -d dummy -r 48000 -p 256 >/dev/null 2>&1 &
jackd_pid=$!
for _ in $(seq 100); do
    jack_lsp >/dev/null 2>&1 && break
    sleep 0.1
done
"$karma" --pcg "$build/tools/demo.pcg" --rate 31250 >/dev/null &
karma_pid=$!
for _ in $(seq 100); do
    jack_lsp 2>/dev/null | grep -q '^virtual-karma:midi_in$' && break
    sleep 0.1
done
docs=$PWD/docs
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" --workstation demo.pcg \
    "$docs/workstation-download.png" "$docs/workstation-drag.png")
echo "Wrote $docs/workstation-download.png and $docs/workstation-drag.png"
# Before the backup, whose cancelled transfer leaves the virtual Karma sending a while longer.
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" --find-compare demo.pcg \
    "$docs/find.png" "$docs/compare.png")
echo "Wrote $docs/find.png and $docs/compare.png"
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" --backup demo.pcg \
    "$docs/workstation-backup.png")
echo "Wrote $docs/workstation-backup.png"
(cd "$build/tools" && xvfb-run -a -s "-screen 0 1280x800x24" "$program" --restore demo.pcg \
    "$docs/restore.png")
echo "Wrote $docs/restore.png"
