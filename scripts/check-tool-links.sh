#!/usr/bin/env bash
# Checks what each built command-line tool links: none carries any Qt
# library (the program alone does), and no tool names a shared library it
# never uses. The tools are the folders under tools/ (common/ is their
# shared code).
#   check-tool-links.sh BUILD_DIR
set -euo pipefail
build=$1
root=$(cd "$(dirname "$0")/.." && pwd)
fail() { echo "tool links: $*" >&2; exit 1; }
window_libs='libQt6(Widgets|Gui)\.so'
qt_libs='libQt6[A-Za-z]*\.so'

# The pattern must match where the libraries are really linked, or the
# check below would pass for nothing.
program="$build/bin/brelvomp3"
[ -x "$program" ] || fail "no $program"
# (grep reads all of ldd's output: with -q it could stop early, and ldd,
# killed by the closed pipe, would fail the pipeline.)
ldd "$program" | grep -E "$window_libs" >/dev/null || fail "brelvomp3 shows no Qt Widgets: the check looks for the wrong names"

count=0
for dir in "$root"/tools/*/; do
  name=$(basename "$dir")
  [ "$name" = common ] && continue
  tool="$build/bin/$name"
  [ -x "$tool" ] || fail "no $tool"
  if qt=$(ldd "$tool" | grep -E "$qt_libs"); then
    fail "$name links Qt: $(echo "$qt" | awk '{print $1}' | tr '\n' ' ')"
  fi
  # ldd -u names the direct dependencies no symbol is taken from; the C++
  # runtime the compiler adds to every program is not the tool's choice.
  unused=$(ldd -u -r "$tool" 2>&1 | grep -v '^Unused direct dependencies:' | awk 'NF {print $1}' |
    grep -Ev '/lib(stdc\+\+|m|gcc_s)\.so' || true)
  [ -z "$unused" ] || fail "$name links libraries it does not use: $(echo "$unused" | tr '\n' ' ')"
  count=$((count + 1))
done
echo "tool links: passed ($count tools without Qt, none with an unused library)"
