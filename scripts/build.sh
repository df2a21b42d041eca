#!/usr/bin/env bash
# Configures and builds one build folder: build.sh DIR [cmake args...]
set -euo pipefail
dir=$1; shift
cd "$(dirname "$0")/.."
cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
cmake --build "$dir" -j "$(nproc)"
