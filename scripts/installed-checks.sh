# What the install check and the package check both look at in an
# installation. Sourced; the caller defines fail() and kills $launched_pid
# when it exits early.

# The files every installation holds, relative to its prefix. Each program in
# bin/ also has its manual page in share/man/man1/.
installed_files() {
  cat <<'LIST'
bin/brelvomp3
bin/brelvomp3-launch
bin/mkstore
share/applications/org.example.brelvomp3.desktop
share/metainfo/org.example.brelvomp3.metainfo.xml
share/icons/hicolor/scalable/apps/brelvomp3.svg
share/icons/hicolor/48x48/apps/brelvomp3.png
share/icons/hicolor/256x256/apps/brelvomp3.png
LIST
}

# Each PROGRAM but the launcher answers --help with status 0 and a wrong
# argument with status 2.
check_programs_answer() {
  local tool name status
  for tool in "$@"; do
    name=$(basename "$tool")
    [ "$name" = brelvomp3-launch ] && continue
    QT_QPA_PLATFORM=offscreen "$tool" --help >/dev/null 2>&1 || fail "$name --help does not exit 0"
    set +e; QT_QPA_PLATFORM=offscreen "$tool" --no-such-option >/dev/null 2>&1; status=$?; set -e
    [ "$status" -eq 2 ] || fail "$name with a wrong argument exits $status, not 2"
  done
}

launched_pid=""

# Runs the desktop entry's command with BINDIR first on PATH and XDG_DATA_HOME
# a data folder under WORKDIR that does not exist yet. Passes once the program
# holds the store the launcher made and is still running a second later; then
# ends it.
check_desktop_command_starts() {
  local desktop=$1 bindir=$2 workdir=$3
  local data="$workdir/data" log="$workdir/run.log" command shown=""
  local store="$data/brelvomp3/mysong.mdb"
  command=$(sed -n 's/^Exec=//p' "$desktop")
  [ -n "$command" ] || fail "the desktop entry has no Exec line"
  env PATH="$bindir:$PATH" XDG_DATA_HOME="$data" QT_QPA_PLATFORM=offscreen $command >"$log" 2>&1 &
  launched_pid=$!
  for _ in $(seq 1 200); do
    kill -0 "$launched_pid" 2>/dev/null || { cat "$log"; fail "the program ended by itself"; }
    # The window is built once the program holds its store open.
    if [ -e "$store" ] && ls -l "/proc/$launched_pid/fd" 2>/dev/null | grep -q "mysong.mdb"; then
      shown=yes; break
    fi
    sleep 0.1
  done
  [ -n "$shown" ] || { cat "$log"; fail "the program did not open its store in 20 s"; }
  sleep 1
  kill -0 "$launched_pid" 2>/dev/null || { cat "$log"; fail "the program ended after opening its store"; }
  kill "$launched_pid"; wait "$launched_pid" 2>/dev/null || true; launched_pid=""
  [ -d "$data/brelvomp3" ] || fail "the launcher did not create its data folder"
}
