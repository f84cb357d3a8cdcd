#!/usr/bin/env bash
# Takes pictures of the real windows under a virtual X server, for review: the main window connected to the
# built-in simulated meter with the protocol header, the sensor dialog, the about box and the save dialog.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/release); the PNG files go to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${1:-build/release}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
ninja -C "$build" rivanta >/dev/null
out=build/screenshots
mkdir -p "$out"
rm -f "$out"/*.png
# The technician's locale (decimal comma); a sanitizer build would report the X libraries' own leaks.
LANG=ru_RU.UTF-8 ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} \
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/rivanta" --simulate --screenshots "$out"
