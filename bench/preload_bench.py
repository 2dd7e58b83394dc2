#!/usr/bin/python3
"""Go-live of a pre-loaded release against the same update without pre-loading. Release v1 is ten
files of 4 MiB (incompressible); v2, published with the release tool's --stage, changes five of
them (20 MiB). A game folder on v1 stages v2; after promote, a copy of it updates to v2, and so
does a copy of the v1 folder that staged nothing. Both run with a 8 MiB/s bandwidth limit (a
64 Mbit/s line; nginx on the loopback would otherwise hide the network), 4 connections, three
times each; an update's time is its log's, from its first line to "Tamamlandi.". A second pair of
figures is taken with no limit at all, the loopback's speed.
Prints
  BENCH preload_golive_download_ratio <.lz bytes of the go-live / of the plain update> ratio
  BENCH preload_golive_seconds <median> s
  BENCH preload_plain_seconds <median> s
  BENCH preload_golive_time_vs_plain <go-live / plain> ratio
  BENCH preload_golive_time_vs_plain_unlimited <go-live / plain, no limit> ratio"""
import argparse
import os
import random
import re
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import nginx_server  # noqa: E402

MIB = 1 << 20
RUNS = 3
CONFIG = "draskeltorrent.config.xml"
STAMP = re.compile(r"^(\d\d):(\d\d):(\d\d\.\d+)\s")


def update_seconds(log):
    """Seconds from the log's first line to "Tamamlandi." (what follows is the next release's)."""
    first = last = None
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = STAMP.match(line)
            if not m:
                continue
            t = int(m[1]) * 3600 + int(m[2]) * 60 + float(m[3])
            first = t if first is None else first
            if "Tamamlandi." in line:
                last = t
                break
    span = last - first
    return span + 86400 if span < 0 else span


def write_client(folder, version):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    for i in range(10):
        seed = f"v2-{i}" if version == 2 and i % 2 == 0 else f"v1-{i}"
        with open(os.path.join(folder, "data", f"pack{i}.bin"), "wb") as f:
            f.write(random.Random(seed).randbytes(4 * MIB))
    with open(os.path.join(folder, "game.exe"), "wb") as f:
        f.write(b"MZ" + bytes(5000))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--publish", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    pub = os.path.join(work, "pub")
    os.makedirs(pub)
    server = nginx_server.Nginx(pub, os.path.join(work, "nginx")).start()
    base = server.url() + "/"

    def run(*cmd):
        done = subprocess.run(cmd, capture_output=True, text=True, timeout=600)
        if done.returncode != 0:
            raise SystemExit(f"preload_bench: {cmd[1]} failed\n{done.stdout[-2000:]}{done.stderr}")
        return done.stdout

    def update(game, config, *extra):
        out = run(args.svupdate, "--folder", game, "--config", base + config, "--connections", "4",
                  *extra)
        if "RESULT ok" not in out:
            raise SystemExit("preload_bench: svupdate failed\n" + out[-2000:])
        return update_seconds(os.path.join(game, "temp", "Sarvik.log"))

    def lz_bytes():
        return sum(int(l.split()[-1]) for l in nginx_server.access_lines(server.access_log, ".lz"))

    try:
        on_v1 = os.path.join(work, "game-v1")
        for version, extra in ((1, ()), (2, ("--stage", "2026-12-24T18:00:00Z"))):
            client = os.path.join(work, f"client-v{version}")
            write_client(client, version)
            run(args.publish, "build", client, pub, "--base-url", base, "--versioned", "--version",
                f"v{version}", "--level", "1", *extra)
            if version == 1:
                update(on_v1, CONFIG)  # before the announcement: nothing staged
        staged = os.path.join(work, "game-staged")
        shutil.copytree(on_v1, staged)
        update(staged, CONFIG)
        # The promoted configuration beside the staged one, so both stay servable.
        promoted = os.path.join(work, "pub-promoted")
        shutil.copytree(pub, promoted)
        run(args.publish, "promote", promoted, "v2")
        shutil.copy(os.path.join(promoted, CONFIG), os.path.join(pub, "live.xml"))

        def measure(*extra):
            golive, plain, ratios = [], [], []
            for i in range(RUNS):
                times = []
                for name, start in (("golive", staged), ("plain", on_v1)):
                    game = os.path.join(work, f"game-{name}")
                    shutil.rmtree(game, ignore_errors=True)
                    shutil.copytree(start, game)
                    before = lz_bytes()
                    times.append((update(game, "live.xml", *extra), lz_bytes() - before))
                golive.append(times[0][0])
                plain.append(times[1][0])
                ratios.append(times[0][1] / times[1][1])
            return statistics.median(golive), statistics.median(plain), statistics.median(ratios)

        g, p, ratio = measure("--max-kbps", "8192")
        print(f"BENCH preload_golive_download_ratio {ratio:.4f} ratio", flush=True)
        print(f"BENCH preload_golive_seconds {g:.3f} s", flush=True)
        print(f"BENCH preload_plain_seconds {p:.3f} s", flush=True)
        print(f"BENCH preload_golive_time_vs_plain {g / p:.3f} ratio", flush=True)
        g, p, _ = measure()
        print(f"BENCH preload_golive_time_vs_plain_unlimited {g / p:.3f} ratio", flush=True)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
