#!/usr/bin/python3
"""Mirrors against their best one: a 40 MiB update (incompressible, 4 MiB segments, 4 connections)
from a source on a slow nginx that names two mirrors, one stopped and one fast, against the same
update from the fast nginx alone. nginx's limit_rate is per request and lets the first second's
worth out at once: 256 KB/s makes a segment take about 15 s on the slow one, 2 MB/s about 1 s on
the fast one (some 8 MB/s for the run). Each runs three times; the update's time is the log's,
from its first line to its last.
Prints
  BENCH mirrors_fast_alone_seconds <median> s
  BENCH mirrors_three_seconds <median> s
  BENCH mirrors_fast_share <bytes the fast mirror served / all .lz bytes> ratio
  BENCH mirrors_vs_best <three / fast alone> ratio"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, HERE)
import make_release  # noqa: E402
import nginx_server  # noqa: E402
from limit_bench import run_seconds  # noqa: E402

MIB = 1 << 20
RUNS = 3


def lz_bytes(server):
    return sum(int(l.split()[-1]) for l in nginx_server.access_lines(server.access_log, ".lz"))


def update(svupdate, native, game, config_url):
    shutil.rmtree(game, ignore_errors=True)
    os.makedirs(game)
    runner = [] if native else [os.path.join(SOURCE, "scripts", "wine-run")]
    out = subprocess.run([*runner, svupdate, "--folder", game if native else "Z:" + game,
                          "--config", config_url, "--connections", "4", "--segment-mb", "4"],
                         capture_output=True, text=True, timeout=600).stdout
    if "RESULT ok" not in out:
        raise SystemExit("mirrors_bench: svupdate failed\n" + out[-2000:])
    return run_seconds(os.path.join(game, "temp", "Sarvik.log"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--native", action="store_true")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    rng = random.Random(29)
    files = [(f"data/pack{i}.bin", rng.randbytes(4 * MIB)) for i in range(10)]
    make_release.make(work + "/rel", files)
    www = os.path.join(work, "rel", "www")
    fast_www = os.path.join(work, "fast-www")
    shutil.copytree(www, fast_www)
    slow = nginx_server.Nginx(www, os.path.join(work, "nginx-slow"), rate="256k").start()
    fast = nginx_server.Nginx(fast_www, os.path.join(work, "nginx-fast"), rate="2m").start()
    dead = f"http://127.0.0.1:{nginx_server.free_port()}/"
    with open(os.path.join(www, "config.xml"), "w") as f:
        f.write(f'<torrent_config run_path="game.exe"><foreground_patch crcpatch_url="{slow.url()}/">'
                f'<sv_mirror url="{dead}"/><sv_mirror url="{fast.url()}/"/>'
                f'</foreground_patch></torrent_config>\n')
    try:
        alone, three, shares = [], [], []
        for i in range(RUNS):
            alone.append(update(args.svupdate, args.native, os.path.join(work, "game-alone"),
                                fast.url() + "/config.xml"))
            before = lz_bytes(fast), lz_bytes(slow)
            three.append(update(args.svupdate, args.native, os.path.join(work, "game-three"),
                                slow.url() + "/config.xml"))
            served = lz_bytes(fast) - before[0], lz_bytes(slow) - before[1]
            shares.append(served[0] / sum(served))
        a, t = statistics.median(alone), statistics.median(three)
        print(f"BENCH mirrors_fast_alone_seconds {a:.2f} s", flush=True)
        print(f"BENCH mirrors_three_seconds {t:.2f} s", flush=True)
        print(f"BENCH mirrors_fast_share {statistics.median(shares):.3f} ratio", flush=True)
        print(f"BENCH mirrors_vs_best {t / a:.3f} ratio", flush=True)
    finally:
        slow.stop()
        fast.stop()


if __name__ == "__main__":
    main()
