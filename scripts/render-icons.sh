#!/usr/bin/env bash
# Renders the program's PNG icons from dist/icons/org.pelmora.Pelmora.svg. The PNGs are kept
# in the repository, so a build needs no SVG renderer; run this after changing the SVG.
set -euo pipefail
cd "$(dirname "$0")/../dist/icons"
for size in 16 32 48 64 128 256; do
    rsvg-convert -w "$size" -h "$size" org.pelmora.Pelmora.svg -o "org.pelmora.Pelmora-$size.png"
done
