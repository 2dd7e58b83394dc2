#!/usr/bin/env bash
# What a file list costs the 32-bit patcher: peak resident size of svupdate.exe under Wine for a
# 100,000-file client, and bytes per list entry against a one-file client (list_memory_bench.py).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build="$here/build/eng-bench"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target svupdate >/dev/null
. scripts/test-env
/usr/bin/python3 bench/list_memory_bench.py --svupdate "$build/tests/engine/update/svupdate.exe" \
  --work "$build/list-memory-bench"
