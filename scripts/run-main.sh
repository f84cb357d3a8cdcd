#!/usr/bin/env bash
# Builds the programs and runs the main job: a verification against the built-in simulated meter,
# headless, the protocol on standard output.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build/release rivanta-demo >/dev/null
exec build/release/app/rivanta-demo "$@"
