#!/usr/bin/env bash
# Runs every fuzz target of a build for the given number of seconds each, from its seed corpus.
set -euo pipefail
dir=${1:?build directory}; seconds=${2:-20}
shopt -s nullglob
found=0
for f in "$dir"/fuzz/fuzz_*; do
  [[ -x $f && -f $f ]] || continue
  found=1
  name=$(basename "$f")
  corpus="$dir/fuzz/corpus-$name"
  mkdir -p "$corpus"
  seeds="fuzz/seeds/$name"
  echo "-- $name (${seconds}s)"
  args=(-max_total_time="$seconds" -print_final_stats=1 "$corpus")
  [[ -d $seeds ]] && args+=("$seeds")
  if ! "$f" "${args[@]}" >"$dir/fuzz/$name.log" 2>&1; then
    tail -n 40 "$dir/fuzz/$name.log"
    echo "fuzz target $name failed"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$dir/fuzz/$name.log" || true
done
[[ $found -eq 1 ]] || echo "no fuzz targets built"
