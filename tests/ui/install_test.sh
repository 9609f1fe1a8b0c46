#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what the desktop program brings with it:
# the program, its desktop entry, icon, the MIME type of recovery logs (".MFT" files resolve to it
# once the MIME database is built), the polkit action naming the installed program, and the help
# document beside the signature files.
# Usage: tests/ui/install_test.sh BUILD-DIR
set -euo pipefail
build="$(cd "$1" && pwd)"
prefix="$(mktemp -d)"
trap 'rm -rf "$prefix"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
share="$prefix/share"
[ -x "$prefix/bin/kestravon-recovery" ] || fail "no program in bin/"

entry="$share/applications/kestravon-recovery.desktop"
[ -f "$entry" ] || fail "no desktop entry"
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$entry" || fail "desktop entry is invalid"; fi
grep -qx 'Exec=kestravon-recovery %f' "$entry" || fail "desktop entry does not pass the file on"
icon="$(sed -n 's/^Icon=//p' "$entry")"
svg="$share/icons/hicolor/scalable/apps/$icon.svg"
[ -f "$svg" ] || fail "no icon $icon.svg"
xmllint --noout "$svg" || fail "icon is not well-formed"

type="$(sed -n 's/^MimeType=\(.*\);$/\1/p' "$entry")"
xml="$share/mime/packages/kestravon-recovery-log.xml"
xmllint --noout "$xml" || fail "MIME type is not well-formed"
grep -q "type=\"$type\"" "$xml" || fail "desktop entry opens $type, which the MIME package does not define"
if command -v update-mime-database >/dev/null; then
  update-mime-database "$share/mime" >/dev/null 2>&1
  grep -qi "^[0-9]*:$type:\*\.mft" "$share/mime/globs2" || fail "*.MFT does not resolve to $type"
fi

policy="$share/polkit-1/actions/org.kestravon.recovery.policy"
xmllint --noout "$policy" || fail "polkit action is not well-formed"
grep -q "org.freedesktop.policykit.exec.path\">$prefix/bin/kestravon-recovery<" "$policy" ||
  fail "polkit action does not name the installed program"
grep -q 'exec.allow_gui">true<' "$policy" || fail "polkit action does not allow a window"

[ -f "$share/kestravon/Software Guide.html" ] || fail "no help document"
[ -f "$share/kestravon/MFTSig.dll" ] && [ -f "$share/kestravon/MFTSigAdv.dll" ] || fail "no signature files"
echo "install test: desktop program installed under $prefix and checked"
