#!/usr/bin/env bash
# Runs every benchmark script under bench/ (each prints its ratios against raw reads).
# Usage: bench/run.sh [name ...]   e.g. bench/run.sh basic_scan
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here/.."
# The benchmarks plant real files and compare with other carvers when those are installed.
bash scripts/install-deps.sh imagemagick ghostscript zip python3 foremost testdisk
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DKFR_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
export KFR_BENCH_BUILD="$PWD/build-bench"
if [ $# -eq 0 ]; then
  set -- $(cd "$here" && ls *_bench.sh 2>/dev/null | sed 's/_bench\.sh$//')
fi
for name in "$@"; do
  echo "== $name"
  bash "$here/${name}_bench.sh"
done
