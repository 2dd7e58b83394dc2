#!/usr/bin/env bash
# What reaches the origin behind a caching nginx, per patcher start, for a plain release and a
# versioned one without and with the immutable mark (origin_cache_bench.py; native svupdate).
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate SarvikPublish >/dev/null
build="$here/build/bench"
/usr/bin/python3 bench/origin_cache_bench.py --svupdate "$build/tests/engine/update/svupdate" \
  --publish "$build/publisher/SarvikPublish" --work "$build/origin-cache-bench"
