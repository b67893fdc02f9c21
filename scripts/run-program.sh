#!/usr/bin/env bash
# Starts what `make run` shows: for now the PCG lister on the demo file the build generates.
set -euo pipefail
build=${1:?build directory}
"$build/tools/bankquill-pcg" "$build/tools/demo.pcg"
