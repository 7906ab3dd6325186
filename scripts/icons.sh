#!/usr/bin/env bash
# Renders the PNG sizes of the program icon and the briefcase file icon from
# their SVG drawings in data/icons/ (needs rsvg-convert, Debian's librsvg2-bin).
# The PNGs are kept in the repository, so the build does not need the tool.
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for name in carryvale application-x-carryvale-briefcase; do
  for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert -w "$size" -h "$size" "$name.svg" -o "${size}x${size}/$name.png"
  done
done
