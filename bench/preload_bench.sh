#!/usr/bin/env bash
# Go-live of a pre-loaded release against the plain update (preload_bench.py), natively with the
# bench build's svupdate and release tool.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate SarvikPublish >/dev/null
/usr/bin/python3 bench/preload_bench.py --svupdate "$here/build/bench/tests/engine/update/svupdate" \
  --publish "$here/build/bench/publisher/SarvikPublish" --work "$here/build/preload-bench"
