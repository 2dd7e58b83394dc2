#!/usr/bin/env bash
# A 100,000-file client checked natively (the optimised host build) and under Wine, against
# `cat` and a plain Win32 reading loop (check_scale_bench.py).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate >/dev/null
native="$here/build/bench/tests/engine/update/svupdate"
work="$here/build/check-scale-bench"
if ! why=$(scripts/wine-usable 2>&1); then
  echo "check_scale_bench: the Wine figures need 32-bit Wine: $why" >&2
  exec /usr/bin/python3 bench/check_scale_bench.py --native-svupdate "$native" --work "$work"
fi
build="$here/build/eng-bench"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target svupdate read_bare >/dev/null
. scripts/test-env
/usr/bin/python3 bench/check_scale_bench.py --native-svupdate "$native" --work "$work" \
  --svupdate "$build/tests/engine/update/svupdate.exe" \
  --read-bare "$build/tests/engine/net/read_bare.exe"
