#!/usr/bin/env bash
# Renders the application icon into the sizes the icon theme asks for, under packaging/icons/hicolor.
# The PNGs are committed; run this again only when resources/public/icon.svg changes.
# Needs rsvg-convert (Debian package librsvg2-bin) and optipng when present.
set -euo pipefail
cd "$(dirname "$0")/.."
source_svg=resources/public/icon.svg
out=packaging/icons/hicolor
sizes=(16 22 24 32 48 64 128 256 512)

mkdir -p "$out/scalable/apps"
cp "$source_svg" "$out/scalable/apps/harbly.svg"
for size in "${sizes[@]}"; do
  dir="$out/${size}x${size}/apps"
  mkdir -p "$dir"
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio "$source_svg" -o "$dir/harbly.png"
  if command -v optipng >/dev/null; then optipng -quiet -o5 -strip all "$dir/harbly.png"; fi
done
echo "icons written to $out"
