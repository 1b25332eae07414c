#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite. Benchmarks are not part of it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j2 "$@"
