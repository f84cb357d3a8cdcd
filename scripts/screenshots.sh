#!/usr/bin/env bash
# Takes pictures of the real windows under a virtual X server, for review: the main window connected to the
# built-in simulated meter with the protocol header, the sensor dialog, the about box and the save dialog, the
# "Стенд" page with four simulated meters under way and one meter's dialog; and
# the first page of the printed protocol (a sample run) rendered from its PDF.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/release); the PNG files go to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${1:-build/release}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
ninja -C "$build" rivanta rivanta-journal >/dev/null
out=build/screenshots
mkdir -p "$out"
rm -f "$out"/*.png
# The technician's locale (decimal comma); a sanitizer build would report the X libraries' own leaks.
LANG=ru_RU.UTF-8 ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} \
  xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/rivanta" --simulate --bench-simulate 4 --screenshots "$out"

# The printed protocol of a sample run with a laboratory's settings, its first page as a picture.
lab=$(mktemp -d)
trap 'rm -rf "$lab"' EXIT
cat >"$lab/laboratory.ini" <<'INI'
[Laboratory]
Organisation=ООО «Метрологический центр», аттестат аккредитации RA.RU.000000
Technician=Петрова А. С.
[Registry]
MethodTitle=МП 123-2019 Счётчики тепла и воды. Методика поверки
[Means]
Description=Установка поверочная имитационная, рег. № 3.1.ZZZ.0001.2020; термогигрометр, зав. № 0457
INI
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0} QT_QPA_PLATFORM=offscreen \
  "$build/bin/rivanta-journal" --settings "$lab/laboratory.ini" sample --pdf "$out/protocol.pdf"
pdftoppm -png -r 100 -f 1 -l 1 -singlefile "$out/protocol.pdf" "$out/protocol"
