#!/usr/bin/env bash
# Runs every test of a build directory through ctest.
set -uo pipefail
build=${1:?build directory}
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j2
