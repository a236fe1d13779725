#!/usr/bin/env bash
# Builds Kopyra and runs the benchmarks.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/deps.sh" run
"$top/tools/build.sh" "$top/build"
for dpi in 600 1200; do QT_QPA_PLATFORM=offscreen "$top/build/bench/bench_resize" $dpi; done
