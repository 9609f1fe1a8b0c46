#!/usr/bin/env bash
# Listing and saving every folder, at 5,000 to 60,000 folders of one file each (FAT32 images of
# random data with 512-byte clusters, held in the page cache), against the peers on the same
# image in the same rounds: `fls -r` for `list --all`; for `save --all`, `cp -r` of the very files
# a save wrote (a copy held in RAM, into the same file system), `mcopy -s` and `tsk_recover -e`
# (every planted folder and file is a chain in the FAT, so both read the same tree). Every saving
# tool writes into a RAM-backed folder (KFR_BENCH_RAM, default /dev/shm): a disk's file system
# under the outputs varies from run to run far more than the tools differ. Medians of
# KFR_BENCH_ROUNDS (default 3) interleaved rounds; every output folder is emptied before its run,
# untimed.
# Targets: list --all 5 or more times faster than fls -r at 20,000 files; save --all at least as
# fast as cp -r and faster than mcopy -s and tsk_recover; 40,000 folders about 4 times as long as
# 10,000.
set -euo pipefail
build="${KFR_BENCH_BUILD:?run through bench/run.sh}"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/rounds.sh"
data="$here/data/list_save"
ram="${KFR_BENCH_RAM:-/dev/shm}/kfr-list-save-bench.$$"
mkdir -p "$data" "$ram"
trap 'rm -rf "$ram"' EXIT
sizes=${KFR_BENCH_SIZES:-"5000 10000 20000 40000 60000"}
cli="$build/bin/kestravon-cli"
# KFR_BENCH_PEERS=0 leaves the peers out (for the scaling figures alone).
have() { [ "${KFR_BENCH_PEERS:-1}" != 0 ] && command -v "$1" >/dev/null; }

before_each() {
  case $1 in
  save) rm -rf "$out/save"; mkdir -p "$out/save" ;;
  cp) rm -rf "$out/cp" ;;
  "mcopy -s") rm -rf "$out/mcopy"; mkdir -p "$out/mcopy" ;;
  tsk_recover) rm -rf "$out/tsk"; mkdir -p "$out/tsk" ;;
  esac
  sync
}

declare -A list_wall save_wall
for n in $sizes; do
  image="$data/folders_chained_$n.img"
  if [ ! -f "$image" ]; then
    echo "making $image ($n folders of one file each)..."
    head -c $((300 * 1024 * 1024)) /dev/urandom > "$image.tmp"
    mkfs.fat -F 32 -s 1 -n BENCH "$image.tmp" >/dev/null
    "$build/bin/make_dir_image" "$image.tmp" "$n" 1
    mv "$image.tmp" "$image"
  fi
  out="$ram/out_$n"
  ref="$ram/files_$n"  # what a save wrote: the files cp -r copies
  mkdir -p "$ref"
  "$cli" -q save --all "$image" -d "$ref" >/dev/null
  cache_fresh "$image"
  rounds_reset
  round_add "list --all" "$cli" -q list --all "$image"
  have fls && round_add "fls -r" fls -r "$image"
  round_add save "$cli" -q save --all "$image" -d "$out/save"
  [ "${KFR_BENCH_PEERS:-1}" != 0 ] && round_add cp cp -r "$ref" "$out/cp"
  have mcopy && round_add "mcopy -s" env MTOOLS_SKIP_CHECK=1 mcopy -s -n -i "$image" "::/*" "$out/mcopy"
  have tsk_recover && round_add tsk_recover tsk_recover -e "$image" "$out/tsk"
  rounds_run "${KFR_BENCH_ROUNDS:-3}"
  files=$(find "$ref" -type f | wc -l)
  echo "-- $n folders, $files files saved"
  rounds_print "${_names[@]}"
  have fls && printf '  list --all is %s times as fast as fls -r (target >= 5 at 20,000 files)\n' "$(ratio "list --all" "fls -r")"
  [ "${KFR_BENCH_PEERS:-1}" != 0 ] && printf '  save --all speed / cp -r speed: %s (target >= 1.0)\n' "$(ratio save cp)"
  have mcopy && printf '  save --all speed / mcopy -s speed: %s (target > 1)\n' "$(ratio save "mcopy -s")"
  have tsk_recover && printf '  save --all speed / tsk_recover speed: %s (target > 1)\n' "$(ratio save tsk_recover)"
  list_wall[$n]=$(wall "list --all")
  save_wall[$n]=$(wall save)
  rm -rf "$out" "$ref"
done
if [ -n "${list_wall[10000]:-}" ] && [ -n "${list_wall[40000]:-}" ]; then
  printf '40,000 folders against 10,000: list --all %.1f times as long, save --all %.1f times (target about 4)\n' \
    "$(awk "BEGIN{print ${list_wall[40000]} / ${list_wall[10000]}}")" "$(awk "BEGIN{print ${save_wall[40000]} / ${save_wall[10000]}}")"
fi
