#!/usr/bin/env bash
# The sample skin to a finished patcher with the headless build under Wine (median of 5 runs).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
why=$(scripts/wine-usable 2>&1) || { echo "builder_build_bench: skipped, it needs 32-bit Wine: $why" >&2; exit 0; }
export CCACHE_BASEDIR="$here" CCACHE_NOHASHDIR=true
cmake --preset windows >/dev/null
cmake --build --preset windows --target SarvikBuilder >/dev/null
. scripts/test-env
work=$(mktemp -d)
trap 'rm -rf "$work"; sv_cleanup' EXIT
printf 'skin=Z:%s\r\nout_path=Z:%s\r\n' "$(echo "$here/samples/skin" | tr / '\\')" "$(echo "$work/Draskel.exe" | tr / '\\')" >"$work/s.ini"
times=()
for _ in 1 2 3 4 5; do
  start=$(date +%s%N)
  scripts/wine-run build/windows/builder/SarvikBuilder.exe --build "Z:$(echo "$work/s.ini" | tr / '\\')" >/dev/null
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "BENCH builder_build_ms $median ms"
