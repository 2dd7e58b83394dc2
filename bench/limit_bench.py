#!/usr/bin/python3
"""How closely the bandwidth limit holds: a 40 MiB update (incompressible, so the bytes on the
wire are the files' own) from nginx with sv_max_kbps="2048", 4 connections, natively and, when
given, under Wine. The update's time is the run's, from the log's first line to its last (what a
player with the window open waits); the process's time adds starting and ending the program.
Prints
  BENCH limit_seconds_native / limit_seconds_wine <update time> s
  BENCH limit_process_seconds_native / limit_process_seconds_wine <process time> s
  BENCH limit_accuracy_native / limit_accuracy_wine <update time / (bytes served / limit)> ratio
  BENCH limit_accuracy <the one further from 1> ratio
A ratio of 1.0 is the limit exactly (20 s); the limit asks for 1.0 +- 0.1."""
import argparse
import os
import random
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, HERE)
import make_release  # noqa: E402
import nginx_server  # noqa: E402
from update_bench import run_ours  # noqa: E402

MIB = 1 << 20
KBPS = 2048
STAMP = re.compile(r"(\d\d):(\d\d):(\d\d\.\d\d\d)  ")


def run_seconds(log):
    """Seconds from the first to the last line of an engine log ("HH:MM:SS.mmm  text")."""
    stamps = []
    with open(log, encoding="utf-8", errors="replace") as f:
        for line in f:
            m = STAMP.match(line)
            if m:
                stamps.append(int(m[1]) * 3600 + int(m[2]) * 60 + float(m[3]))
    span = stamps[-1] - stamps[0]
    return span + 86400 if span < 0 else span


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-svupdate", help="the host build's svupdate")
    ap.add_argument("--svupdate", help="svupdate.exe under Wine")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    rng = random.Random(40)
    files = [(f"data/pack{i}.bin", rng.randbytes(10 * MIB)) for i in range(4)]
    make_release.make(work + "/rel", files, config_attrs=f' sv_max_kbps="{KBPS}"')
    www = os.path.join(work, "rel", "www")
    served = sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(www) for f in fs)
    expected = served / (KBPS * 1024)
    server = nginx_server.Nginx(www, os.path.join(work, "nginx")).start()
    try:
        ratios = []
        runs = [("native", args.native_svupdate, True)] if args.native_svupdate else []
        if args.svupdate:
            runs.append(("wine", args.svupdate, False))
        for name, program, native in runs:
            game = os.path.join(work, "game-" + name)
            took, _, _ = run_ours(program, game, server.url(), 4, native=native)
            update = run_seconds(os.path.join(game, "temp", "Sarvik.log"))
            ratios.append(update / expected)
            print(f"BENCH limit_seconds_{name} {update:.1f} s", flush=True)
            print(f"BENCH limit_process_seconds_{name} {took:.1f} s", flush=True)
            print(f"BENCH limit_accuracy_{name} {update / expected:.3f} ratio", flush=True)
        print(f"BENCH limit_accuracy {max(ratios, key=lambda r: abs(r - 1)):.3f} ratio", flush=True)
    finally:
        server.stop()


if __name__ == "__main__":
    main()
