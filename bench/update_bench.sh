#!/usr/bin/env bash
# A 1 GB release installed into an empty folder by svupdate.exe under Wine (download, decode,
# verify, install) against aria2c downloading the same ".lz" files from the same nginx, with the
# same connection count and 4 MiB pieces, for 4 and 8 connections. Prints
#   BENCH update_vs_aria2_<n>conn <aria2c time / our time> ratio   (above 1: we are faster)
#   BENCH update_vs_aria2 <the lower of the two> ratio
#   BENCH update_vs_winhttp_bare_<n>conn, update_vs_winhttp_bare <bare loop time / our time>
#     (the same .lz files fetched whole by the plainest WinHTTP loop: the transport's ceiling)
#   BENCH update_vs_bare_install_<n>conn, update_vs_bare_install <bare install time / our time>
#     (install_bare.exe: each .lz fetched whole into a work file, decoded, flushed and moved into
#     place by the plainest code: the same disk work under Wine, without the engine)
#   BENCH update_host_vs_aria2_<n>conn, update_host_vs_aria2 <aria2c time / time of the host
#     build's svupdate> (the same engine natively over libcurl: its own cost without Wine)
#   BENCH update_host_cpu_vs_aria2_<n>conn <processor time of the native svupdate / of aria2c>
#   BENCH update_host_unflushed_vs_aria2_<n>conn (the native svupdate under eatmydata: no flushes)
#   BENCH update_peak_rss_mb <peak resident size of the svupdate process> MB
# and then what a file list costs the 32-bit patcher (list_memory_bench.py):
#   BENCH check_100k_peak_rss_mb, BENCH list_bytes_per_entry
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
build="$here/build/eng-bench"
# The native engine of the optimised host build.
cmake --preset bench >/dev/null
cmake --build --preset bench --target svupdate >/dev/null
native="$here/build/bench/tests/engine/update/svupdate"
if ! why=$(scripts/wine-usable 2>&1); then
  # Without 32-bit Wine only the native engine and aria2c are compared.
  echo "update_bench: the Windows figures need Wine: $why" >&2
  /usr/bin/python3 bench/update_bench.py --work "$build/update-bench" --native-svupdate "$native"
  exit 0
fi
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target svupdate winhttp_bare install_bare >/dev/null
. scripts/test-env
/usr/bin/python3 bench/update_bench.py --svupdate "$build/tests/engine/update/svupdate.exe" \
  --work "$build/update-bench" --bare "$build/tests/engine/net/winhttp_bare.exe" \
  --bare-install "$build/tests/engine/net/install_bare.exe" --native-svupdate "$native"
/usr/bin/python3 bench/list_memory_bench.py --svupdate "$build/tests/engine/update/svupdate.exe" \
  --work "$build/list-memory-bench"
