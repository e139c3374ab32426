#!/usr/bin/env bash
# Renders the application icon's PNG sizes from the SVG (ImageMagick); the
# PNGs are committed. Metadata chunks are left out so the bytes repeat.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
for size in 48 128 256; do
    convert -background none -density 192 vantrel-data-recovery.svg -resize ${size}x${size} \
        -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt +set date:create +set date:modify \
        "vantrel-data-recovery-${size}.png"
done
