#!/usr/bin/env bash
# Builds and runs the whole test suite: every test under AddressSanitizer and UndefinedBehaviorSanitizer,
# the threaded layers again under ThreadSanitizer, and each fuzz target for a short while.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRIVANTA_WERROR=ON \
      -DRIVANTA_SANITIZE=address,undefined >/dev/null
ninja -C build/test
# The journal's tests run against SQLite and a throw-away PostgreSQL server; as root (CI) a server is a must.
pg_dir=""
stop_pg() { if [[ -n $pg_dir ]]; then ./scripts/pg-test-server.sh stop "$pg_dir" || true; fi; }
trap stop_pg EXIT
if pg_env=$(./scripts/pg-test-server.sh start); then
  eval "$pg_env"
  pg_dir=$RIVANTA_TEST_PG_DIR
  export RIVANTA_TEST_PG_REQUIRED=1
elif [[ $(id -u) -eq 0 ]]; then
  echo "run-tests: no PostgreSQL test server could be started" >&2
  exit 1
else
  echo "run-tests: no PostgreSQL test server; the journal's PostgreSQL cases are skipped" >&2
fi
ctest --test-dir build/test -j"$jobs" --output-on-failure --timeout 300

echo "== ThreadSanitizer (threaded layers)"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRIVANTA_WERROR=ON -DRIVANTA_QT=OFF \
      -DRIVANTA_SANITIZE=thread "-DRIVANTA_TEST_LAYERS=core;serial" >/dev/null
ninja -C build/tsan
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -j"$jobs" --output-on-failure --timeout 300

echo "== Fuzz targets (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRIVANTA_QT=OFF \
      -DBUILD_TESTING=OFF -DRIVANTA_FUZZ=ON >/dev/null
ninja -C build/fuzz fuzz_all
./scripts/run-fuzzers.sh build/fuzz "${FUZZ_SECONDS:-20}"
echo "== all tests passed"
