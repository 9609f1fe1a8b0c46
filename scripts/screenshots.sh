#!/usr/bin/env bash
# Pictures of the desktop program for the README, taken from the real program on a virtual X
# server: the mode launcher, the drive stage of the Basic Search and Deep Search screens with a
# fixture disk image listed (the machine's own disks are left out, so every run shows the same),
# a Basic Search of a fixture volume with its results and a save in progress, and a Signature
# Search of the planted carving image in the middle of its General pass.
# Usage: scripts/screenshots.sh [BUILD-DIR] [OUT-DIR]   (defaults: build, docs/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
out="${2:-docs/screenshots}"
command -v xvfb-run >/dev/null || bash scripts/install-deps.sh
cmake --build "$build" --target kestravon-recovery kfr_fixtures >/dev/null
mkdir -p "$out"
# A fresh home, so the program's per-user file association does not touch the caller's.
home="$(mktemp -d)"
trap 'rm -rf "$home"' EXIT
HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" \
  xvfb-run -a -s "-screen 0 1280x900x24" \
  "$build/bin/kestravon-recovery" --images-only --image "$build/fixtures/disk_mbr.img" \
    --image "$build/fixtures/carving_planted.img" --image "$build/fixtures/fat16_basic.img" --screenshot "$out/"
ls "$out"/launcher.png "$out"/basic-drive-stage.png "$out"/deep-drive-stage.png "$out"/basic-results.png \
  "$out"/basic-saving.png "$out"/signature-carving.png
