#!/usr/bin/env bash
# What signed releases cost the update and the release tool (signed_bench.py): natively, and under
# Wine with the Windows build's svupdate.exe where Wine runs.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate SarvikPublish >/dev/null
native="$here/build/bench/tests/engine/update/svupdate"
tool="$here/build/bench/publisher/SarvikPublish"
wine_args=()
if scripts/wine-usable >/dev/null 2>&1; then
  cmake --preset windows >/dev/null
  cmake --build build/windows --target svupdate sha256_timer >/dev/null
  wine_args=(--svupdate "$here/build/windows/tests/engine/update/svupdate.exe"
             --sha256-timer "$here/build/windows/tests/release/sha256_timer.exe")
elif scripts/wine-usable --64 >/dev/null 2>&1; then
  cmake --preset windows64 >/dev/null
  cmake --build build/windows64 --target svupdate sha256_timer >/dev/null
  export SV_WINE_BITS=64
  wine_args=(--svupdate "$here/build/windows64/tests/engine/update/svupdate.exe"
             --sha256-timer "$here/build/windows64/tests/release/sha256_timer.exe")
fi
. scripts/test-env
/usr/bin/python3 bench/signed_bench.py --native-svupdate "$native" --tool "$tool" \
  --work "$here/build/signed-bench" "${wine_args[@]}"
