#!/usr/bin/env bash
# Configures and builds one build tree.
#   tools/build.sh [build-dir] [extra cmake arguments...]
# KOPYRA_BUILD_TARGET=<target> builds that target only.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$top/build}
shift || true
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" ${KOPYRA_BUILD_TARGET:+--target "$KOPYRA_BUILD_TARGET"}
