#!/usr/bin/env bash
# Sets everything up and opens BrelvoMP3 on the bundled demo search service.
set -euo pipefail
root=$(cd "$(dirname "$0")" && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build"

bin="$root/build/bin"
# The program keeps its store and downloads in the working directory.
cd "$root"
if [ ! -e mysong.mdb ]; then
  "$bin/mkstore" mysong.mdb
fi

demo_pid=""
cleanup() { [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true; }
trap cleanup EXIT

if [ -x "$bin/demo-service" ]; then
  addr_file=$(mktemp)
  "$bin/demo-service" --port 0 >"$addr_file" &
  demo_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$addr_file" ] && break
    sleep 0.1
  done
  # The service prints "http://127.0.0.1:PORT/" on its first line.
  addr=$(head -n 1 "$addr_file" | sed -e 's#^http://##' -e 's#/.*$##')
  rm -f "$addr_file"
  export BRELVOMP3_SEARCH_HOST="$addr"
  echo "Demo search service on $addr"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  exec_prefix=(xvfb-run -a -s "-screen 0 1024x768x24")
else
  exec_prefix=()
fi
"${exec_prefix[@]}" "$bin/brelvomp3"
