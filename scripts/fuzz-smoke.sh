#!/usr/bin/env bash
# Runs every fuzz target in a build folder for a few seconds each:
# fuzz-smoke.sh BUILD_DIR SECONDS
set -euo pipefail
dir=$1; seconds=$2
cd "$(dirname "$0")/.."
shopt -s nullglob
targets=("$dir"/bin/fuzz_*)
failed=0
for t in "${targets[@]}"; do
  name=$(basename "$t")
  corpus="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus/." "$work/"
  if "$t" -max_total_time="$seconds" -rss_limit_mb=2048 "$work" >"$work.log" 2>&1; then
    echo "fuzz $name: $(grep -Eo '#[0-9]+' "$work.log" | tail -n 1 | tr -d '#') runs, no failure"
  else
    echo "fuzz $name: FAILED"; tail -n 40 "$work.log"; failed=1
  fi
  rm -rf "$work" "$work.log"
done
echo "${#targets[@]} fuzz targets run"
exit $failed
