#!/usr/bin/env bash
# Installs a build into a temporary prefix and checks the result: the files
# are where a desktop expects them, the desktop entry and the AppStream file
# validate, every program answers --help and refuses a wrong argument, and the
# desktop entry's command starts the program in a fresh data folder.
#   check-install.sh BUILD_DIR
set -euo pipefail
build=$1
tmp=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "install check: $*" >&2; exit 1; }

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

share="$prefix/share"
desktop="$share/applications/org.example.brelvomp3.desktop"
metainfo="$share/metainfo/org.example.brelvomp3.metainfo.xml"
for f in bin/brelvomp3 bin/brelvomp3-launch bin/mkstore \
         share/applications/org.example.brelvomp3.desktop \
         share/metainfo/org.example.brelvomp3.metainfo.xml \
         share/icons/hicolor/scalable/apps/brelvomp3.svg \
         share/icons/hicolor/48x48/apps/brelvomp3.png \
         share/icons/hicolor/256x256/apps/brelvomp3.png; do
  [ -e "$prefix/$f" ] || fail "missing $f"
done
for f in "$prefix"/bin/*; do
  [ -x "$f" ] || fail "not executable: $f"
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

export QT_QPA_PLATFORM=offscreen
for tool in "$prefix"/bin/*; do
  name=$(basename "$tool")
  [ "$name" = brelvomp3-launch ] && continue
  "$tool" --help >/dev/null 2>&1 || fail "$name --help does not exit 0"
  set +e; "$tool" --no-such-option >/dev/null 2>&1; status=$?; set -e
  [ "$status" -eq 2 ] || fail "$name with a wrong argument exits $status, not 2"
done

# The desktop entry's command, from a data folder that does not exist yet.
data="$tmp/data"
command=$(sed -n 's/^Exec=//p' "$desktop")
env PATH="$prefix/bin:$PATH" XDG_DATA_HOME="$data" $command >"$tmp/run.log" 2>&1 &
pid=$!
store="$data/brelvomp3/mysong.mdb"
shown=""
for _ in $(seq 1 200); do
  kill -0 "$pid" 2>/dev/null || { cat "$tmp/run.log"; fail "the program ended by itself"; }
  # The window is built once the program holds its store open.
  if [ -e "$store" ] && ls -l "/proc/$pid/fd" 2>/dev/null | grep -q "mysong.mdb"; then
    shown=yes; break
  fi
  sleep 0.1
done
[ -n "$shown" ] || { cat "$tmp/run.log"; fail "the program did not open its store in 20 s"; }
sleep 1
kill -0 "$pid" 2>/dev/null || fail "the program ended after opening its store"
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""
[ -d "$data/brelvomp3" ] || fail "the launcher did not create its data folder"
echo "install check: passed ($(ls "$prefix/bin" | wc -l) programs, desktop entry, icons, metainfo, launcher)"
