#!/usr/bin/env bash
# NTFS save-run throughput: 20,000 files of random data (4 KiB to 104 KiB, 1.1 GB in all) in 200
# folders on a 1.5 GiB NTFS image made by mkntfs and filled through ntfs-3g. A save run of the
# whole volume (the Basic Search before it is not timed) against `cp -r` of the same files from a
# read-only ntfs-3g mount of a copy of the image, both from the page cache, into the same file
# system, in the same run: five rounds, taken in turn, compared by their medians. The target is a
# save speed of 0.7 or more of cp's. Needs root (FUSE mount) and ntfs-3g.
# Run through bench/run.sh (which builds build-bench), or directly with KFR_BENCH_BUILD set.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${KFR_BENCH_BUILD:-$here/../build-bench}"
data="$here/data/ntfs_save"
image="$data/save_ntfs.img"
copy="$data/mounted_copy.img"
mnt="$data/mnt"
out="$data/out"
rounds=5
mkdir -p "$data" "$mnt"
bash "$here/../scripts/install-deps.sh" ntfs-3g >/dev/null

cleanup() { mountpoint -q "$mnt" && umount "$mnt" || true; rm -rf "$out"; }
trap cleanup EXIT

if [ ! -f "$image" ]; then
  echo "making $image (20,000 files in 200 folders, NTFS)..."
  rm -f "$image.tmp"
  truncate -s 1536M "$image.tmp"
  mkntfs -q -F -Q -s 512 -c 4096 -L NTFSBENCH "$image.tmp"
  ntfs-3g -o no_detach "$image.tmp" "$mnt" &
  for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
  python3 - "$mnt" <<'EOF'
import os, random, sys
root = sys.argv[1]
rng = random.Random(20000)
for d in range(200):
    folder = os.path.join(root, "data", "folder %03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "file %03d.bin" % f), "wb") as out:
            out.write(os.urandom(rng.randrange(4096, 106496)))
EOF
  umount "$mnt"
  wait || true
  mv "$image.tmp" "$image"
fi

cp "$image" "$copy"
ntfs-3g -o ro "$copy" "$mnt"
for _ in $(seq 50); do mountpoint -q "$mnt" && break; sleep 0.2; done
cat "$image" > /dev/null
find "$mnt/data" -type f -exec cat {} + > /dev/null  # both read from the page cache

now() { date +%s.%N; }
median() { sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
save_times=()
cp_times=()
for _ in $(seq "$rounds"); do
  rm -rf "$out"
  mkdir -p "$out/save"
  sync
  line=$("$build/bin/save_speed" "$image" "$out/save" NTFS)
  save_times+=("$(echo "$line" | sed -n 's/.*seconds=\([0-9.]*\).*/\1/p')")
  bytes=$(echo "$line" | sed -n 's/.*bytes=\([0-9]*\).*/\1/p')
  files=$(echo "$line" | sed -n 's/.*files=\([0-9]*\).*/\1/p')

  sync
  t0=$(now); cp -r "$mnt/data" "$out/cp"; t1=$(now)
  cp_times+=("$(awk "BEGIN{print $t1 - $t0}")")
  cp_bytes=$(find "$out/cp" -type f -printf "%s\n" | awk '{s += $1} END {print s}')
done
rm -f "$copy"
s=$(printf '%s\n' "${save_times[@]}" | median)
c=$(printf '%s\n' "${cp_times[@]}" | median)
printf 'saved: %d files, %d bytes in %.3f s (%.0f MiB/s)   cp -r from the mount: %d bytes in %.3f s (%.0f MiB/s)\n' \
  "$files" "$bytes" "$s" "$(awk "BEGIN{print $bytes / $s / 1048576}")" \
  "$cp_bytes" "$c" "$(awk "BEGIN{print $cp_bytes / $c / 1048576}")"
printf 'rounds (save s / cp s): %s / %s\n' "${save_times[*]}" "${cp_times[*]}"
printf 'save speed / cp speed: %.2f   (target >= 0.70)\n' "$(awk "BEGIN{print ($bytes / $s) / ($cp_bytes / $c)}")"
