#!/usr/bin/env bash
# Renders the demo picture to docs/demo.png with headless Chromium (Debian: apt-get install chromium),
# or with rsvg-convert (Debian: librsvg2-bin) where Chromium is missing.
# Run `make install` first.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
.venv-3.8/bin/python -m skyloom.demo --out build/demo.svg
if ! command -v chromium >/dev/null && command -v rsvg-convert >/dev/null; then
  rsvg-convert -o docs/demo.png build/demo.svg
  ls -l docs/demo.png
  exit
fi
size=$(sed -n 's/.*<svg [^>]*width="\([0-9]*\)" height="\([0-9]*\)".*/\1,\2/p' build/demo.svg)
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --force-device-scale-factor=1 \
  --window-size="$size" --screenshot=docs/demo.png "file://$PWD/build/demo.svg" 2>/dev/null
ls -l docs/demo.png
