#!/usr/bin/env bash
# Builds the headless runner and runs the main job: a full verification against the built-in simulated
# meter, headless, the protocol on standard output and the course of the run on standard error.
# Arguments replace the default ones, e.g. ./scripts/run-main.sh --simulate --reverse --extra-info
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
ninja -C build/release rivanta-verify >/dev/null
if [[ $# -eq 0 ]]; then
  set -- --simulate
fi
exec build/release/bin/rivanta-verify "$@"
