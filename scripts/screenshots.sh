#!/usr/bin/env bash
# Takes pictures of the real windows under a virtual X server, for review: the main window connected to the
# built-in simulated meter with the protocol header, the sensor dialog, the about box, the save dialog, the
# laboratory's settings and the conditions; the main window after the verification with its points and verdict,
# the Журнал page and the record of the run; the "Стенд" page with four simulated meters under way and one meter's
# dialog; and the first page of the printed protocol (a sample run) rendered from its PDF. The laboratory's
# settings and the journal are a sample's own, never the user's; two earlier runs on other simulated meters fill
# the journal first.
# Usage: scripts/screenshots.sh [BUILD_DIR]   (default build/release); the PNG files go to build/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${1:-build/release}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
fi
ninja -C "$build" rivanta rivanta-verify rivanta-journal >/dev/null
out=build/screenshots
mkdir -p "$out"
rm -f "$out"/*.png

# A sample laboratory: its settings and its journal in a folder of their own.
lab=$(mktemp -d)
trap 'rm -rf "$lab"' EXIT
export XDG_CONFIG_HOME=$lab/config XDG_DATA_HOME=$lab/data
settings=$XDG_CONFIG_HOME/rivanta/laboratory.ini
mkdir -p "$(dirname "$settings")"
cat >"$settings" <<'INI'
[Laboratory]
Organisation=ООО «Метрологический центр», аттестат аккредитации RA.RU.000000
Technician=Петрова А. С.
[Registry]
MethodTitle=МП 123-2019 Счётчики тепла и воды. Методика поверки
SignCipher=ГСЧ
Owner=АО «Теплосеть»
IntervalMonths=48
VerificationType=2
SignPass=1
[TypeNumbers]
Count=1
Model1=
Number1=12345-06
[Means]
Description=Установка поверочная имитационная, рег. № 3.1.ZZZ.0001.2020; термогигрометр, зав. № 0457
[Standards]
Count=1
Number1=3.1.ZZZ.0001.2020
[Conditions]
AirTemperature=21.5
Humidity=48
Pressure=100.8
INI
# The technician's locale (decimal comma); a sanitizer build would report the X libraries' own leaks.
export LANG=ru_RU.UTF-8 ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
# Two earlier runs for the Журнал page, at once on two other simulated meters (their verdicts are theirs).
# The shipped meters in the sample's data folder, where a build without the source tree's meters finds them too.
mkdir -p "$XDG_DATA_HOME/rivanta/meters"
cp sim/meters/*.json "$XDG_DATA_HOME/rivanta/meters/"
QT_QPA_PLATFORM=offscreen "$build/bin/rivanta-verify" --simulate --meter deviation \
  --technician "Иванов И. И." >/dev/null 2>"$lab/deviation.log" &
first=$!
QT_QPA_PLATFORM=offscreen "$build/bin/rivanta-verify" --simulate --meter three-path --reverse \
  >/dev/null 2>"$lab/three-path.log" &
second=$!
# The deviation meter's run ends "не годен" (status 1); anything else but a complete run is a fault here.
wait $first || [[ $? -eq 1 ]] || { cat "$lab/deviation.log" >&2; exit 1; }
wait $second || { cat "$lab/three-path.log" >&2; exit 1; }
xvfb-run -a -s "-screen 0 1024x768x24" "$build/bin/rivanta" --simulate --bench-simulate 4 --screenshots "$out"

# The printed protocol of a sample run with the laboratory's settings, its first page as a picture.
QT_QPA_PLATFORM=offscreen "$build/bin/rivanta-journal" --settings "$settings" sample --pdf "$out/protocol.pdf"
pdftoppm -png -r 100 -f 1 -l 1 -singlefile "$out/protocol.pdf" "$out/protocol"
