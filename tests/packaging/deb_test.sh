#!/usr/bin/env bash
# Builds the Debian package of kestravon-cli, unpacks it into a temporary root and runs what it
# installed: --version, a scan of a fixture image, Signature Search's types from the signature
# files in share/kestravon, the manual page and the bash completion. Run as root on a machine
# where the package is not installed yet (as CI does), it is also installed with dpkg -i, run
# from the PATH and removed again.
# Usage: tests/packaging/deb_test.sh [BUILD-DIR]   (default: build, configured and built)
set -euo pipefail
cd "$(dirname "$0")/../.."
build="$(cd "${1:-build}" && pwd)"
fixture="$build/fixtures/fat16_basic.img"

cmake --build "$build" --target kestravon-cli kfr_cli_manual kfr_signature_files kfr_fixtures >/dev/null
rm -rf "$build/packages"
(cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1) || { cat "$build/cpack.log" >&2; exit 1; }
deb="$(ls "$build"/packages/kestravon-cli_*.deb)"

fail() { echo "deb test: $*" >&2; exit 1; }
depends="$(dpkg-deb -f "$deb" Depends)"
for lib in libc6 libblkid1 libstdc++6; do
  [[ "$depends" == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

check_installed() {  # PROGRAM SHARE-DIR
  local program=$1 share=$2
  "$program" --version | grep -qx "kestravon-cli [0-9.]*" || fail "$program --version"
  "$program" --json scan "$fixture" | grep -q '"folders_placed": 12' || fail "$program scan"
  "$program" carve --list-types | grep -q '^JPG' || fail "$program finds no signature files"
  zcat "$share/man/man1/kestravon-cli.1.gz" | grep -q '^\.TH KESTRAVON' || fail "manual page"
  # shellcheck disable=SC1090
  (source "$share/bash-completion/completions/kestravon-cli"
   COMP_WORDS=(kestravon-cli sc); COMP_CWORD=1; _kestravon_cli
   [[ "${COMPREPLY[*]}" == scan ]] || exit 1
   COMP_WORDS=(kestravon-cli scan disk.img --fs ""); COMP_CWORD=4; _kestravon_cli
   [[ "${COMPREPLY[*]}" == "auto FAT16 FAT32 FAT NTFS all" ]] || exit 1) || fail "bash completion"
}

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
check_installed "$root/usr/bin/kestravon-cli" "$root/usr/share"

if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W kestravon-cli >/dev/null 2>&1; then
  dpkg -i "$deb" >/dev/null
  trap 'dpkg -r kestravon-cli >/dev/null 2>&1 || true; rm -rf "$root"' EXIT
  check_installed "$(command -v kestravon-cli)" /usr/share
  dpkg -r kestravon-cli >/dev/null
  echo "deb test: $(basename "$deb") installed with dpkg -i, run and removed"
else
  echo "deb test: $(basename "$deb") unpacked and run (not root, or already installed: dpkg -i skipped)"
fi
