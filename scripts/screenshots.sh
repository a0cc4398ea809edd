#!/usr/bin/env bash
# Takes the README's pictures of the shell on its demo web application, once
# in the page's light theme and once in its dark one: scripts/demo.sh
# --headless runs the shell under Xvfb for each and photographs the window;
# the pictures are then scaled down to 256 colours to stay small.
#
#   scripts/screenshots.sh [folder]   writes <folder>/screenshot-light.png and
#                                     screenshot-dark.png (default: docs/)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/docs}
WIDTH=800
mkdir -p "$OUT"
RAW=$(mktemp -d "${TMPDIR:-/tmp}/corvidale-screenshots.XXXXXX")
trap 'rm -rf "$RAW"' EXIT

for theme in light dark; do
  CORVIDALE_DEMO_THEME=$theme CORVIDALE_DEMO_SCREENSHOT=$RAW/$theme.png bash "$ROOT/scripts/demo.sh" --headless
  convert "$RAW/$theme.png" -resize "${WIDTH}x" -strip -colors 256 "PNG8:$OUT/screenshot-$theme.png"
  echo "screenshots: $OUT/screenshot-$theme.png ($(stat -c %s "$OUT/screenshot-$theme.png") bytes)"
done
