#!/usr/bin/env bash
# Runs every benchmark program of a build directory; each prints its figure last. Benchmarks
# that need a JACK server start their own; this jackd of the run's own name is there so that
# the others (which make the program's JACK services) never reach the user's server. The
# bench_pipewire_* programs run last, through PipeWire's JACK library on a private headless
# PipeWire started here.
set -euo pipefail
build=${1:?build directory}
export QT_QPA_PLATFORM=offscreen

source "$(dirname "$0")/private-jackd.sh"
source "$(dirname "$0")/private-pipewire.sh"
trap 'stop_private_jackd; stop_private_pipewire' EXIT
start_private_jackd "bankquill-bench-run-$$" "$build/bench-jackd.log" ||
    { echo "run-benchmarks: jackd did not start; see $build/bench-jackd.log" >&2; exit 1; }

found=0
for bench in "$build"/bench/bench_*; do
    [[ -x "$bench" && -f "$bench" && $bench != */bench_pipewire_* ]] || continue
    found=1
    echo "== $(basename "$bench")"
    "$bench"
done
[[ $found -eq 1 ]] || { echo "no benchmarks built" >&2; exit 1; }
stop_private_jackd

start_private_pipewire "$build/bench-pipewire.log" ||
    { echo "run-benchmarks: PipeWire did not start; see $build/bench-pipewire.log" >&2; exit 1; }
for bench in "$build"/bench/bench_pipewire_*; do
    [[ -x "$bench" && -f "$bench" ]] || continue
    echo "== $(basename "$bench")"
    "$bench"
done
