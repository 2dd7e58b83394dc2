#!/usr/bin/env bash
# Chunked updates: local chunking speed (chunk_bench) and release pairs updated by the native
# engine against nginx (chunk_bench.py; see there for the BENCH lines). The full sizes are the
# defaults; CHUNK_BENCH_MB and CHUNK_BENCH_BIG_MB scale them down on a small machine.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target chunk_bench svupdate SarvikPublish >/dev/null
build="$here/build/bench"
"$build/bench/chunk_bench"
wine=()
if scripts/wine-usable >/dev/null 2>&1; then
  # The update's time under Wine too: the shipped engine over WinHTTP.
  cmake --preset windows -B "$here/build/eng-bench" >/dev/null
  cmake --build "$here/build/eng-bench" --target svupdate >/dev/null
  . scripts/test-env
  wine=(--wine-svupdate "$here/build/eng-bench/tests/engine/update/svupdate.exe")
fi
/usr/bin/python3 bench/chunk_bench.py --publish "$build/publisher/SarvikPublish" \
  --svupdate "$build/tests/engine/update/svupdate" --work "$build/chunk-bench" \
  --mb "${CHUNK_BENCH_MB:-200}" --big-mb "${CHUNK_BENCH_BIG_MB:-3072}" "${wine[@]}"
