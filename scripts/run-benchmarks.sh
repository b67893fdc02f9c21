#!/usr/bin/env bash
# Runs every benchmark program of a build directory; each prints its figure last.
set -euo pipefail
build=${1:?build directory}
export QT_QPA_PLATFORM=offscreen
found=0
for bench in "$build"/bench/bench_*; do
    [[ -x "$bench" && -f "$bench" ]] || continue
    found=1
    echo "== $(basename "$bench")"
    "$bench"
done
[[ $found -eq 1 ]] || { echo "no benchmarks built" >&2; exit 1; }
