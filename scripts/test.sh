#!/usr/bin/env bash
# Builds everything and runs every test suite; then the suites again under the address,
# undefined-behaviour and thread sanitizers, and every fuzz target for a short fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)"
# The Debian package: built, installed (dpkg -i when run as root) and run.
bash tests/packaging/deb_test.sh build
bash scripts/sanitizers.sh
bash fuzz/run.sh 30
