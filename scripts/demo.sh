#!/usr/bin/env bash
# The main job on a built-in example: makes a small FAT32 image with photos and documents, some of
# them deleted, then recovers its folder tree with Basic Search, lists every folder (deleted
# items marked) and saves everything it recovered, deleted files included, into a folder.
# Usage: scripts/demo.sh [work folder]   (default: a fresh folder under /tmp)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kestravon-cli >/dev/null

work="${1:-$(mktemp -d /tmp/kestravon-demo.XXXXXX)}"
mkdir -p "$work"
image="$work/demo.img"
cli=build/bin/kestravon-cli

bash tests/fixtures/make_fixtures.sh --demo "$image" >/dev/null
echo "Demo image: $image"
echo
echo "== Volume parameters"
"$cli" info --source "$image"
echo
echo "== Basic Search: recovered folder tree"
"$cli" scan --source "$image"
echo
echo "== Every recovered folder with its files"
"$cli" list --source "$image" --all
if "$cli" --help | grep -qE "^ +save( |$)"; then
  echo
  echo "== Saving everything recovered into $work/recovered"
  mkdir -p "$work/recovered"
  "$cli" save --source "$image" --all --dest "$work/recovered" --on-collision rename
  echo
  echo "Recovered files:"
  (cd "$work/recovered" && find . -type f | sort)
fi
