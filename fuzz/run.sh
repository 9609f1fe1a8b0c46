#!/usr/bin/env bash
# Builds the fuzz targets with clang (address and undefined-behaviour sanitizers on) and runs each
# for a while on an in-memory medium. A crash leaves crash-* files here: turn each into a test.
# Usage: fuzz/run.sh [seconds per target, default 60] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
bash scripts/install-deps.sh clang
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKFR_BUILD_TESTS=OFF \
  -DKFR_BUILD_BENCH=OFF -DKFR_BUILD_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize=fuzzer-no-link" >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets < <(cd fuzz && ls *_fuzz.cpp | sed 's/\.cpp$//')
fi
mkdir -p build-fuzz/corpus
for t in "${targets[@]}"; do
  echo "== $t ($seconds s)"
  mkdir -p "build-fuzz/corpus/$t"
  "build-fuzz/bin/$t" -max_total_time="$seconds" -max_len=65536 -print_final_stats=1 "build-fuzz/corpus/$t" 2>&1 |
    grep -E "stat::number_of_executed_units|ERROR|SUMMARY|Done" || true
done
