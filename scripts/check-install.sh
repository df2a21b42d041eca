#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the result: the files
# are where a desktop expects them, the desktop entry and the AppStream file
# validate, every program answers --help and refuses a wrong argument, and the
# desktop entry's command starts the program in a fresh data folder.
#   check-install.sh BUILD_DIR
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/installed-checks.sh"
tmp=$(mktemp -d)
cleanup() {
  [ -n "$launched_pid" ] && kill "$launched_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "install check: $*" >&2; exit 1; }

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

share="$prefix/share"
desktop="$share/applications/org.example.brelvomp3.desktop"
metainfo="$share/metainfo/org.example.brelvomp3.metainfo.xml"
while read -r f; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done < <(installed_files)
for f in "$prefix"/bin/*; do
  [ -x "$f" ] || fail "not executable: $f"
  [ -e "$share/man/man1/$(basename "$f").1" ] || fail "no manual page for $(basename "$f")"
done

# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{printf "%dx%d", $3*256+$4, $7*256+$8}'; }
for size in 48 256; do
  got=$(png_size "$share/icons/hicolor/${size}x${size}/apps/brelvomp3.png")
  [ "$got" = "${size}x${size}" ] || fail "the ${size} px icon is $got"
done

desktop-file-validate "$desktop" >/dev/null || {
  desktop-file-validate "$desktop"; fail "desktop entry does not validate"; }
appstreamcli validate --no-net "$metainfo" >/dev/null || {
  appstreamcli validate --no-net "$metainfo"; fail "metainfo does not validate"; }

check_programs_answer "$prefix"/bin/*
check_desktop_command_starts "$desktop" "$prefix/bin" "$tmp"
echo "install check: passed ($(ls "$prefix/bin" | wc -l) programs, desktop entry, icons, metainfo, manual pages, launcher)"
