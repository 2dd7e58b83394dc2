#!/usr/bin/python3
"""A client of 100,000 files checked by svupdate, natively and under Wine: 99,992 small files
(512 B to 16 KiB) six folders deep and 8 large ones (32 MiB), all current, plus 4 new files the
release adds (so each first run also downloads and installs). Every figure is the median of three.

  BENCH check_first_vs_read <seconds of `cat` over every file / seconds of the first check> ratio
      (the check with no cache, from the list's arrival to its verdict, natively; both with the
      files in the page cache: the same bytes read by each)
  BENCH check_first_vs_read_wine <the same for svupdate.exe> ratio
  BENCH check_first_vs_bare_wine <seconds of read_bare.exe (open, read, close each file on two
      threads, nothing computed) / seconds of the first check under Wine> ratio: Wine's own cost
      of opening a file, which no program under it avoids
  BENCH check_100k_cached_host_ms <a run with everything current and the cache kept, natively,
      from the engine's first log line to its last: configuration, list parse, check> ms
  BENCH check_100k_cached_ms <the same under Wine> ms
  BENCH update_100k_peak_mb <peak resident size of svupdate.exe over the first run: check of
      every file, download and install of the new ones> MB"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, HERE)
import make_release  # noqa: E402
import nginx_server  # noqa: E402
from limit_bench import STAMP, run_seconds  # noqa: E402
from update_bench import run_with_peak  # noqa: E402

SMALL, LARGE, LARGE_MB = 99992, 8, 32
NEW = [(f"data/patch/new{i}.bin", 256 * 1024) for i in range(4)]
RUNS = 3


def small_path(i):
    return (f"data/world{i // 20000}/zone{i // 2000 % 10}/area{i // 200 % 10}/"
            f"set{i // 20 % 10}/obj_{i:06d}.dat")


def prepare(work):
    """The release (its crclist lists every client file) and the game folder, made once."""
    out = os.path.join(work, "client")
    if os.path.exists(os.path.join(out, "done")):
        return out
    shutil.rmtree(out, ignore_errors=True)
    make_release.make(out, NEW, seed=28)
    game = os.path.join(out, "game")
    lines = []
    for i in range(SMALL + LARGE):
        if i < SMALL:
            rel, size = small_path(i), 512 + (i * 7919) % (16 * 1024 - 512)
        else:
            rel, size = f"data/large/pack{i - SMALL}.bin", LARGE_MB << 20
        data = os.urandom(size)
        full = os.path.join(game, rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
        lines.append(f"{zlib.crc32(data):08x} {size} {rel}\n")
    with open(os.path.join(out, "www", "crclist"), "a") as f:
        f.write("".join(lines))
    with open(os.path.join(out, "done"), "w"):
        pass
    return out


def stamp(line):
    m = STAMP.match(line)
    return int(m[1]) * 3600 + int(m[2]) * 60 + float(m[3])


def check_seconds(log):
    """From the last list's arrival ("Kaynak N: ...") to the check's verdict ("Kontrol: ...")."""
    start = end = None
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            text = line[14:] if STAMP.match(line) else ""
            if re.match(r"Kaynak \d+: ", text):
                start = stamp(line)
            elif text.startswith("Kontrol:") and start is not None:
                end = stamp(line)
    if start is None or end is None:
        raise SystemExit(f"check_scale_bench: no check in {log}")
    return end - start


def reset(game):
    shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
    for rel, _ in NEW:
        try:
            os.remove(os.path.join(game, rel))
        except OSError:
            pass


def run(svupdate, wine, game, url):
    cmd = ([os.path.join(SOURCE, "scripts", "wine-run"), svupdate, "--folder", "Z:" + game]
           if wine else [svupdate, "--folder", game]) + ["--config", url + "/config.xml"]
    took, peak_kb, rc, text = run_with_peak(cmd)
    if rc != 0 or "RESULT ok" not in text:
        raise SystemExit("check_scale_bench: svupdate failed\n" + text[-2000:])
    return peak_kb, os.path.join(game, "temp", "Sarvik.log")


def cat_seconds(game):
    start = time.monotonic()
    subprocess.run(f"find data -type f -print0 | xargs -0 cat > /dev/null", shell=True,
                   cwd=game, check=True)
    return time.monotonic() - start


def bare_seconds(read_bare, game, work):
    listing = os.path.join(work, "files.txt")
    with open(listing, "w") as f:
        for root, _, names in os.walk(os.path.join(game, "data")):
            f.writelines(os.path.relpath(os.path.join(root, n), game) + "\n" for n in names)
    out = subprocess.run([os.path.join(SOURCE, "scripts", "wine-run"), read_bare, "2",
                          "Z:" + game, "Z:" + listing], capture_output=True, text=True,
                         check=True).stdout
    return float(out.split()[0])


def measure(svupdate, wine, game, url):
    first, cached, cats, peaks = [], [], [], []
    cat_seconds(game)  # both sides read from the page cache
    for _ in range(RUNS):
        reset(game)
        peak, log = run(svupdate, wine, game, url)
        first.append(check_seconds(log))
        peaks.append(peak)
        cats.append(cat_seconds(game))
        _, log = run(svupdate, wine, game, url)
        cached.append(run_seconds(log))
    return (statistics.median(cats) / statistics.median(first), statistics.median(cached),
            statistics.median(peaks), statistics.median(first))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-svupdate", required=True)
    ap.add_argument("--svupdate", help="svupdate.exe; without it only the native figures")
    ap.add_argument("--read-bare", help="read_bare.exe, the plain reading loop under Wine")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    out = prepare(work)
    game = os.path.join(out, "game")
    server = nginx_server.Nginx(os.path.join(out, "www"), os.path.join(work, "nginx")).start()
    try:
        ratio, cached, _, _ = measure(args.native_svupdate, False, game, server.url())
        print(f"BENCH check_first_vs_read {ratio:.3f} ratio", flush=True)
        print(f"BENCH check_100k_cached_host_ms {cached * 1000:.0f} ms", flush=True)
        if args.svupdate:
            ratio, cached, peak, first = measure(args.svupdate, True, game, server.url())
            print(f"BENCH check_first_vs_read_wine {ratio:.3f} ratio", flush=True)
            if args.read_bare:
                bare = statistics.median(bare_seconds(args.read_bare, game, work)
                                         for _ in range(RUNS))
                print(f"BENCH check_first_vs_bare_wine {bare / first:.3f} ratio", flush=True)
            print(f"BENCH check_100k_cached_ms {cached * 1000:.0f} ms", flush=True)
            print(f"BENCH update_100k_peak_mb {peak / 1024:.1f} MB", flush=True)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
