#!/usr/bin/env bash
# How closely the bandwidth limit holds (limit_bench.py): natively, and under Wine with the
# Windows build's svupdate.exe where Wine runs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate >/dev/null
native="$here/build/bench/tests/engine/update/svupdate"
wine_args=()
if scripts/wine-usable >/dev/null 2>&1; then
  cmake --preset windows >/dev/null
  cmake --build build/windows --target svupdate >/dev/null
  wine_args=(--svupdate "$here/build/windows/tests/engine/update/svupdate.exe")
elif scripts/wine-usable --64 >/dev/null 2>&1; then
  cmake --preset windows64 >/dev/null
  cmake --build build/windows64 --target svupdate >/dev/null
  export SV_WINE_BITS=64
  wine_args=(--svupdate "$here/build/windows64/tests/engine/update/svupdate.exe")
fi
. scripts/test-env
/usr/bin/python3 bench/limit_bench.py --native-svupdate "$native" --work "$here/build/limit-bench" \
  "${wine_args[@]}"
