#!/usr/bin/python3
"""What reaches the origin when a caching nginx (a CDN's stand-in) serves a release: svupdate run
natively RUNS times per mode, each time on a fresh copy of a game folder one version behind, after
one run that fills the cache (the first player). Modes: a plain release (--flat), a versioned one
whose configuration lacks the immutable mark (as the release tool wrote it before the mark), and
a versioned one as written now. Prints, per start:
  BENCH origin_requests_per_start_<mode> <requests> requests   (goal after: <= 1)
  BENCH origin_bytes_per_start_<mode> <body bytes> bytes        (goal after: <= 4096)
with <mode> plain, versioned_before and versioned_after."""
import argparse
import os
import random
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "support"))
import origin_cache  # noqa: E402

FILES = 60  # small files in a few folders: a list of some kilobytes, quick runs


def write_client(folder, version):
    """Version 2 changes every fourth file."""
    shutil.rmtree(folder, ignore_errors=True)
    for i in range(FILES):
        path = os.path.join(folder, f"data{i % 4}", f"file{i:03d}.bin")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        seed = i * 10 + (version if i % 4 == 0 else 1)
        with open(path, "wb") as f:
            f.write(random.Random(seed).randbytes(2000 + 97 * i))
    return folder


def measure(args, mode, old, new):
    work = os.path.join(args.work, mode)
    shutil.rmtree(work, ignore_errors=True)
    root = os.path.join(work, "www")
    os.makedirs(root)
    cdn = origin_cache.CachedOrigin(root, work)
    try:
        for version, client in (("v1", old), ("v2", new)):
            how = ["--flat"] if mode == "plain" else ["--versioned", "--version", version]
            origin_cache.publish(args.publish, client, root, cdn.url(), *how)
        if mode == "versioned_before":
            origin_cache.strip_immutable(root)
        game = os.path.join(work, "game")
        for run in range(args.runs + 1):
            if run == 1:
                cdn.forget_traffic()  # the first player filled the cache
            origin_cache.fresh_copy(old, game)
            done = subprocess.run([args.svupdate, "--folder", game, "--config", cdn.config_url()],
                                  capture_output=True, text=True, timeout=120)
            if done.returncode != 0 or "RESULT ok" not in done.stdout:
                raise RuntimeError(f"{mode} run {run} failed\n{done.stdout[-2000:]}")
        requests, sent = cdn.traffic()
    finally:
        cdn.stop()
    print(f"BENCH origin_requests_per_start_{mode} {len(requests) / args.runs:.2f} requests",
          flush=True)
    print(f"BENCH origin_bytes_per_start_{mode} {sent / args.runs:.0f} bytes", flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--publish", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--runs", type=int, default=100)
    args = ap.parse_args()
    old = write_client(os.path.join(args.work, "client-1"), 1)
    new = write_client(os.path.join(args.work, "client-2"), 2)
    for mode in ("plain", "versioned_before", "versioned_after"):
        measure(args, mode, old, new)


if __name__ == "__main__":
    main()
