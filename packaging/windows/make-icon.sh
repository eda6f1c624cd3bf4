#!/bin/sh
# make-icon.sh SVG ICO: the Windows icon, every size drawn from the SVG itself (a small icon scaled
# down from a large picture blurs), the 256-pixel one kept as PNG inside the .ico, as Windows expects.
set -eu
svg=$1
ico=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 20 24 32 40 48 64 256; do
    rsvg-convert -w "$size" -h "$size" -o "$work/$size.png" "$svg"
done
icotool -c -o "$ico" "$work/16.png" "$work/20.png" "$work/24.png" "$work/32.png" "$work/40.png" "$work/48.png" \
    "$work/64.png" -r "$work/256.png"
