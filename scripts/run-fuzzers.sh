#!/usr/bin/env bash
# Builds every fuzz target with libFuzzer and runs each for the given number of seconds,
# starting from its seed corpus. Findings land in fuzz-findings/.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
targets=$(cd "$root/fuzz" && for d in */; do [[ -f "$d/CMakeLists.txt" ]] && echo "fuzz_${d%/}"; done)
mkdir -p "$root/fuzz-findings"
for t in $targets; do
    cmake --build "$build" --target "$t"
    corpus="$root/fuzz/${t#fuzz_}/corpus"
    work=$(mktemp -d)
    echo "== $t for ${seconds}s"
    "$build/fuzz/${t#fuzz_}/$t" -max_total_time="$seconds" -artifact_prefix="$root/fuzz-findings/" \
        -print_final_stats=1 "$work" "$corpus"
    rm -rf "$work"
done
