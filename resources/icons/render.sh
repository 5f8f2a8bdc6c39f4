#!/bin/sh
# Renders the PNG sizes of both icons from their SVG sources (rsvg-convert from librsvg2-bin,
# else ImageMagick's convert). A size with its own drawing (name-16.svg) is rendered from that.
set -eu
cd "$(dirname "$0")"
for name in sarnika sarnika-tray; do
    for size in 16 32 48 64 128 256; do
        source="$name.svg"
        if [ -e "$name-$size.svg" ]; then
            source="$name-$size.svg"
        fi
        if command -v rsvg-convert >/dev/null 2>&1; then
            rsvg-convert -w "$size" -h "$size" "$source" -o "$name-$size.png"
        else
            convert -background none -density 384 "$source" -resize "${size}x${size}" \
                "$name-$size.png"
        fi
    done
done
