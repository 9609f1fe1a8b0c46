#!/usr/bin/env bash
# Basic Search against `cat` of the same image, at 10,000, 100,000 and 1,000,000 folders: 1.1 GiB
# FAT32 images of random data held in the page cache (4 KiB clusters; 512-byte clusters for a
# million folders, which need more clusters than 1.1 GiB of 4 KiB ones holds). Medians of five
# interleaved rounds (each runs cat and the scan once).
# Targets, as speed ratios to cat: the directory sweep 1.0 or more; the whole Basic Search 0.8 or
# more at 100,000 folders and 0.5 at 1,000,000; peak memory within 64 MiB + 256 bytes a folder.
set -euo pipefail
build="${KFR_BENCH_BUILD:?run through bench/run.sh}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/rounds.sh"
mkdir -p "$here/data"
sizes=${KFR_BENCH_SIZES:-"10000 100000 1000000"}

for dirs in $sizes; do
  image="$here/data/basic_sweep_${dirs}.img"
  spc=8; [ "$dirs" -gt 200000 ] && spc=1
  if [ ! -f "$image" ]; then
    echo "making $image (random data, FAT32, $dirs directories)..."
    head -c $((1100 * 1024 * 1024)) /dev/urandom > "$image.tmp"
    mkfs.fat -F 32 -s "$spc" -n BENCH "$image.tmp" >/dev/null
    "$build/bin/make_dir_image" "$image.tmp" "$dirs"
    mv "$image.tmp" "$image"
  fi
  cache_fresh "$image"
  rounds_reset
  round_add cat cat "$image"
  round_add scan "$build/bin/basic_scan_throughput" "$image"
  rounds_run 5
  # The scan program times its sweep apart from the tree build: medians of five more runs.
  sweeps=""
  line=""
  for _ in 1 2 3 4 5; do
    line=$("$build/bin/basic_scan_throughput" "$image" 2>/dev/null)
    sweeps+=" $(echo "$line" | sed -n 's/.*sweep_seconds=\([0-9.]*\).*/\1/p')"
  done
  sweep=$(echo "$sweeps" | _median)
  found=$(echo "$line" | sed -n 's/.*directories=\([0-9]*\).*/\1/p')
  budget=$(( 64 * 1024 + found * 256 / 1024 ))
  echo "-- $dirs folders planted, $found found; $(( $(stat -c %s "$image") / 1048576 )) MiB, $((spc * 512))-byte clusters"
  rounds_print cat scan
  printf '  directory sweep %.3f s: speed / cat %.2f (target >= 1.0)\n' "$sweep" "$(awk "BEGIN{print $(wall cat) / $sweep}")"
  printf '  whole Basic Search speed / cat: %.2f (target >= 0.8 at 100k, >= 0.5 at 1M)\n' "$(awk "BEGIN{print $(wall cat) / $(wall scan)}")"
  printf '  peak memory %d KiB, budget 64 MiB + 256 B a folder: %d KiB (%s)\n' "$(peak_kib scan)" "$budget" \
    "$([ "$(peak_kib scan)" -le "$budget" ] && echo within || echo OVER)"
done
