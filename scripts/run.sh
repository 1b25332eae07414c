#!/usr/bin/env bash
# Sets up, builds and starts Pelmora on its bundled database.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
exec build/Pelmora/pelmora
