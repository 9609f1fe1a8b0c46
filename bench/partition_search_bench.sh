#!/usr/bin/env bash
# Search More Partitions speed: Advanced mode (every sector tested for a boot sector) over a
# 1.1 GiB image held in the page cache, against `cat image > /dev/null` of the same file. Five
# interleaved rounds (cat, then the search), medians of wall time; target: search speed / cat
# speed 0.9 or more.
set -euo pipefail
build="${KFR_BENCH_BUILD:?run through bench/run.sh}"
here="$(cd "$(dirname "$0")" && pwd)"
image="$here/data/basic_scan_fat32.img"
[ -f "$image" ] || bash "$here/basic_scan_bench.sh" >/dev/null  # makes the shared image

wall() { # command...: wall seconds of one run, output discarded
  local t0 t1
  t0=$(date +%s.%N); "$@" >/dev/null 2>&1 || true; t1=$(date +%s.%N)
  awk "BEGIN{print $t1 - $t0}"
}
median() { sort -g | awk '{v[NR]=$1} END{print v[int((NR+1)/2)]}'; }

cat "$image" > /dev/null  # into the page cache
raw=(); search=()
for _ in 1 2 3 4 5; do
  raw+=("$(wall cat "$image")")
  search+=("$(wall "$build/bin/kestravon-cli" search --advanced --no-progress "$image")")
done
raw_m=$(printf '%s\n' "${raw[@]}" | median)
search_m=$(printf '%s\n' "${search[@]}" | median)
cpu=$( { /usr/bin/env time -f '%U %S' "$build/bin/kestravon-cli" search --advanced --no-progress "$image" >/dev/null; } 2>&1 | tail -1 || true)
printf 'image: %d MiB\n' $(( $(stat -c %s "$image") / 1024 / 1024 ))
printf 'raw read (cat): %.3f s   Advanced partition search: %.3f s (user+system CPU: %s)\n' "$raw_m" "$search_m" "$cpu"
printf 'search speed / raw read speed: %.2f   (target >= 0.90)\n' "$(awk "BEGIN{print $raw_m / $search_m}")"
