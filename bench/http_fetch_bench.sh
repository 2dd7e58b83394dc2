#!/usr/bin/env bash
# One 100 MB file from nginx on 127.0.0.1, fetched into memory by the patcher's HTTP client under
# Wine, by the plainest WinHTTP loop under Wine (reading into one reused buffer) and by curl, in
# the same run; each side's best of five turns of two fetches. Prints (above 1: the first is
# faster)
#   BENCH http_fetch_vs_curl <curl time / our time> ratio
#   BENCH winhttp_bare_vs_curl <curl time / bare loop time> ratio   (the transport's ceiling)
#   BENCH http_fetch_vs_winhttp_bare <bare loop time / our time> ratio
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
why=$(scripts/wine-usable 2>&1) || { echo "http_fetch_bench: skipped, it needs 32-bit Wine: $why" >&2; exit 0; }
build="$here/build/net-bench"
size=104857600
runs=5
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" --target fetch_timer winhttp_bare >/dev/null
. scripts/test-env
export build size runs
/usr/bin/python3 tests/support/with_servers.py --work "$build/bench-servers" \
  --file "big.bin:$size" --time-limit 600 -- bash -c '
  set -eu
  url="$SV_NGINX_URL/big.bin"
  # In turns, so that a change in the load of the machine falls on both alike; two fetches a
  # turn, as each side reuses its buffer after the first.
  : >"$build/ours.txt"
  : >"$build/bare.txt"
  for i in $(seq $runs); do
    scripts/wine-run "$build/tests/engine/net/fetch_timer.exe" "$url" $((size + 1)) 2 \
      | tr -d "\r" >>"$build/ours.txt"
    scripts/wine-run "$build/tests/engine/net/winhttp_bare.exe" 1 2 "$url" \
      | tr -d "\r" >>"$build/bare.txt"
  done
  ours=$(awk -v size=$size "\$2 == size { print \$1 }" "$build/ours.txt" | sort -g | head -n 1)
  bare=$(awk -v size=$size "\$2 == size { print \$1 }" "$build/bare.txt" | sort -g | head -n 1)
  theirs=$(for i in $(seq $runs); do
      curl -s --noproxy "*" -o /dev/null -w "%{time_total} %{size_download}\n" "$url"
    done | awk -v size=$size "\$2 == size { print \$1 }" | sort -g | head -n 1)
  [ -n "$ours" ] && [ -n "$bare" ] && [ -n "$theirs" ] || { echo "http_fetch_bench: a fetch failed" >&2; exit 1; }
  echo "http_fetch_bench: FetchToMemory ${ours} s, bare WinHTTP loop ${bare} s, curl ${theirs} s" \
    "(best of $runs, $size bytes)" >&2
  awk -v a="$theirs" -v b="$ours" -v c="$bare" "BEGIN {
    printf \"BENCH http_fetch_vs_curl %.3f ratio\n\", a / b
    printf \"BENCH winhttp_bare_vs_curl %.3f ratio\n\", a / c
    printf \"BENCH http_fetch_vs_winhttp_bare %.3f ratio\n\", c / b }"
'
