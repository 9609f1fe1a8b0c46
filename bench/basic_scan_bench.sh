#!/usr/bin/env bash
# Basic Search throughput and memory: a 1.1 GiB FAT32 image with 100,000 directories, held in the
# page cache, scanned once; compared with `cat image > /dev/null` of the same file in the same run.
# Targets: scan speed 0.9 or more of the raw read; peak memory under 64 MiB + 512 bytes per directory.
set -euo pipefail
build="${KFR_BENCH_BUILD:?run through bench/run.sh}"
data="$(cd "$(dirname "$0")" && pwd)/data"
mkdir -p "$data"
image="$data/basic_scan_fat32.img"
dirs=100000
if [ ! -f "$image" ]; then
  echo "making $image (random data, FAT32, $dirs directories)..."
  head -c $((1100 * 1024 * 1024)) /dev/urandom > "$image.tmp"
  mkfs.fat -F 32 -s 8 -n BENCH "$image.tmp" >/dev/null
  "$build/bin/make_dir_image" "$image.tmp" "$dirs"
  mv "$image.tmp" "$image"
fi

time_of() { # command...: seconds of the best of three runs
  local best=""
  for _ in 1 2 3; do
    local t0 t1
    t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N)
    local t; t=$(awk "BEGIN{print $t1 - $t0}")
    if [ -z "$best" ] || awk "BEGIN{exit !($t < $best)}"; then best=$t; fi
  done
  echo "$best"
}

cat "$image" > /dev/null  # into the page cache
raw=$(time_of cat "$image")
scan_line=""
best_scan=""
best_sweep=""
for _ in 1 2 3; do
  line=$("$build/bin/basic_scan_throughput" "$image" 2>/dev/null)
  w=$(echo "$line" | sed -n 's/.*sweep_seconds=\([0-9.]*\).*/\1/p')
  if [ -z "$best_sweep" ] || awk "BEGIN{exit !($w < $best_sweep)}"; then best_sweep=$w; fi
  s=$(echo "$line" | sed -n 's/.* seconds=\([0-9.]*\).*/\1/p')
  if [ -z "$best_scan" ] || awk "BEGIN{exit !($s < $best_scan)}"; then best_scan=$s; scan_line=$line; fi
done
found=$(echo "$scan_line" | sed -n 's/.*directories=\([0-9]*\).*/\1/p')
peak=$(echo "$scan_line" | sed -n 's/.*peak_kib=\([0-9]*\).*/\1/p')
size_mib=$(( $(stat -c %s "$image") / 1024 / 1024 ))
budget_kib=$(( 64 * 1024 + found * 512 / 1024 ))
printf 'image: %d MiB, %s directories found\n' "$size_mib" "$found"
printf 'raw read (cat): %.3f s   directory sweep: %.3f s   whole scan with the tree build: %.3f s\n' \
  "$raw" "$best_sweep" "$best_scan"
printf 'directory sweep speed / raw read speed: %.2f   (target >= 0.90)\n' "$(awk "BEGIN{print $raw / $best_sweep}")"
printf 'whole scan speed (tree of %s folders included) / raw read speed: %.2f\n' "$found" \
  "$(awk "BEGIN{print $raw / $best_scan}")"
printf 'peak memory: %d KiB   budget 64 MiB + 512 B/directory: %d KiB   (%s)\n' "$peak" "$budget_kib" \
  "$([ "$peak" -le "$budget_kib" ] && echo within || echo OVER)"
