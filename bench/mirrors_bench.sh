#!/usr/bin/env bash
# Mirrors against the best of them (mirrors_bench.py), natively with the bench build's svupdate.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate >/dev/null
/usr/bin/python3 bench/mirrors_bench.py --native --svupdate "$here/build/bench/tests/engine/update/svupdate" \
  --work "$here/build/mirrors-bench"
