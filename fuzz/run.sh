#!/usr/bin/env bash
# Builds the fuzz targets with clang (address and undefined-behaviour sanitizers on) and runs each
# for a fixed time on an in-memory medium. Any crash, hang (10 s per input) or runaway memory use
# is a finding: the input is kept under build-fuzz/findings/ and the script fails. Turn each
# finding into a test fixture.
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
mkdir -p build-fuzz/corpus build-fuzz/findings
failed=()
for t in "${targets[@]}"; do
  echo "== $t ($seconds s)"
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/findings/$t"
  log="build-fuzz/findings/$t.log"
  if "build-fuzz/bin/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="build-fuzz/findings/$t/" "build-fuzz/corpus/$t" >"$log" 2>&1; then
    grep -E "stat::number_of_executed_units" "$log" || true
  else
    grep -E "ERROR|SUMMARY|Test unit written|timeout" "$log" | head -n 20 || true
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs under build-fuzz/findings/)" >&2
  exit 1
fi
