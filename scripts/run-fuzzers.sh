#!/usr/bin/env bash
# Builds every fuzz target with libFuzzer and runs each for the given number of seconds,
# starting from its seed corpus. Findings land in fuzz-findings/.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-600}
root=$(cd "$(dirname "$0")/.." && pwd)
# fuzz/<floor>/NAME/ holds the target fuzz_NAME and its seed corpus.
dirs=$(cd "$root/fuzz" && for d in */*/; do [[ -f "$d/CMakeLists.txt" ]] && echo "${d%/}"; done)
mkdir -p "$root/fuzz-findings"
for d in $dirs; do
    t="fuzz_$(basename "$d")"
    cmake --build "$build" --target "$t"
    corpus="$root/fuzz/$d/corpus"
    work=$(mktemp -d)
    echo "== $t for ${seconds}s"
    "$build/fuzz/$d/$t" -max_total_time="$seconds" -artifact_prefix="$root/fuzz-findings/" \
        -print_final_stats=1 "$work" "$corpus"
    rm -rf "$work"
done
