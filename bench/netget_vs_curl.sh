#!/usr/bin/env bash
# Compares `netget URL > /dev/null` with `curl -s -o FILE URL` on a large body
# served from loopback, side by side:
#   bench/netget_vs_curl.sh [BUILD_DIR=build] [MIB=100] [ROUNDS=5]
# Exits non-zero when netget's median time is above 1.25 x curl's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}; mib=${2:-100}; rounds=${3:-5}
cd "$root"
command -v curl >/dev/null || { echo "curl is not installed" >&2; exit 2; }
cmake --build "$build" --target netget bench_http_get -j2 >/dev/null
"$build/bin/bench_http_get" "$build/bin/netget" "$mib" "$rounds"
