#!/usr/bin/env bash
# Configures and builds Pelmora into build/ (the runnable folder is build/Pelmora), with
# warnings as errors: this is the developers' build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMORA_WERROR=ON "$@" >/dev/null
cmake --build build
