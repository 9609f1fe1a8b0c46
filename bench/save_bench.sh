#!/usr/bin/env bash
# Save-run throughput: 1 GiB of files (64 files of 16 MiB of random data in four folders) on a
# FAT32 image with 4 KiB clusters, image held in the page cache, saved by a save run (the Basic
# Search before it is not timed), against `cp -r` of the same files, also from the page cache,
# into the same file system, in the same run. Best of three each; the target is a save speed of
# 0.7 or more of cp's.
# Run through bench/run.sh (which builds build-bench), or directly with KFR_BENCH_BUILD set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KFR_BENCH_BUILD:-$here/../build-bench}"
data="$here/data/save"
files="$data/files"
image="$data/save_fat32.img"
out="$data/out"
mkdir -p "$data"

if [ ! -f "$image" ]; then
  echo "making $image (64 files of 16 MiB, FAT32)..."
  rm -rf "$files"
  for d in Photos Video Documents Archive; do
    mkdir -p "$files/$d"
    for i in $(seq 1 16); do head -c $((16 * 1024 * 1024)) /dev/urandom > "$files/$d/file$i.bin"; done
  done
  rm -f "$image.tmp"
  truncate -s 1200M "$image.tmp"
  mkfs.fat -F 32 -s 8 -n SAVEBENCH "$image.tmp" >/dev/null
  MTOOLS_SKIP_CHECK=1 mcopy -s -i "$image.tmp" "$files"/* ::/
  mv "$image.tmp" "$image"
fi

now() { date +%s.%N; }
best=""
best_cp=""
for _ in 1 2 3; do
  rm -rf "$out"
  mkdir -p "$out/save"
  cat "$image" > /dev/null
  sync
  line=$("$build/bin/save_speed" "$image" "$out/save")
  s=$(echo "$line" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')
  bytes=$(echo "$line" | sed -n 's/.*bytes=\([0-9]*\).*/\1/p')
  if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; fi

  cat "$files"/*/* > /dev/null
  sync
  t0=$(now); cp -r "$files" "$out/cp"; t1=$(now)
  c=$(awk "BEGIN{print $t1 - $t0}")
  if [ -z "$best_cp" ] || awk "BEGIN{exit !($c < $best_cp)}"; then best_cp=$c; fi
done
cp_bytes=$(find "$out/cp" -type f -printf "%s\n" | awk "{s += \$1} END {print s}")
rm -rf "$out"

printf 'saved: %d bytes in %.3f s (%.0f MiB/s)   cp -r: %d bytes in %.3f s (%.0f MiB/s)\n' \
  "$bytes" "$best" "$(awk "BEGIN{print $bytes / $best / 1048576}")" \
  "$cp_bytes" "$best_cp" "$(awk "BEGIN{print $cp_bytes / $best_cp / 1048576}")"
printf 'save speed / cp speed: %.2f   (target >= 0.70)\n' "$(awk "BEGIN{print ($bytes / $best) / ($cp_bytes / $best_cp)}")"
