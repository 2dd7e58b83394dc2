#!/usr/bin/python3
"""What signing costs: the same release installed into an empty folder signed (with the key) and
unsigned (the same files, lists without hashes, no key), natively and, when given, under Wine;
and the release tool building the same client with and without --sign-key on every core.
Medians of seven runs, alternating. Prints
  BENCH update_signed_vs_unsigned_native <unsigned time / signed time> ratio
  BENCH update_signed_vs_unsigned_wine <the same under Wine> ratio
  BENCH update_signed_vs_unsigned <the lower of the two> ratio
  BENCH publish_signed_vs_unsigned <unsigned build time / signed build time, --jobs on every
                                   core> ratio
and, with --sha256-timer, what hashing alone costs under Wine (its CNG computes SHA-256 in plain
code, where Windows and OpenSSL use the processor's SHA instructions):
  BENCH sha256_wine_throughput / sha256_host_throughput <MB/s> MB/s
  BENCH update_signed_bound_wine <unsigned time / (unsigned time + hashing every object once)>
        ratio: what the update reaches under Wine if the hashing hides behind nothing"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, HERE)
import make_release  # noqa: E402
import nginx_server  # noqa: E402
import sign_release  # noqa: E402
from update_bench import run_ours  # noqa: E402

MIB = 1 << 20
FILES = [(f"data/pack{i}.bin", 40 * MIB + i * 4099) for i in range(6)] + \
    [(f"small/f{i:03d}.bin", 20000 + i) for i in range(200)]
RUNS = 7


def timed(cmd):
    start = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.monotonic() - start


def hash_seconds(www, timer):
    """Seconds sha256_timer.exe takes under Wine over every .lz of `www` (median of three), and
    the throughputs under Wine and on the host (Python's hashlib, which is OpenSSL)."""
    import hashlib
    objects = sorted(os.path.join(root, f) for root, _, files in os.walk(www)
                     for f in files if f.endswith(".lz"))
    size = sum(os.path.getsize(o) for o in objects)
    cmd = [os.path.join(SOURCE, "scripts", "wine-run"), timer, *("Z:" + o for o in objects)]
    wine = statistics.median(
        float(subprocess.run(cmd, check=True, capture_output=True, text=True).stdout.split()[1])
        for _ in range(3))
    host = 0.0
    for o in objects:
        with open(o, "rb") as f:
            data = f.read()
        start = time.monotonic()
        hashlib.sha256(data)
        host += time.monotonic() - start
    print(f"BENCH sha256_wine_throughput {size / wine / 1e6:.0f} MB/s", flush=True)
    print(f"BENCH sha256_host_throughput {size / host / 1e6:.0f} MB/s", flush=True)
    return wine


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--native-svupdate", required=True)
    ap.add_argument("--svupdate", help="svupdate.exe under Wine")
    ap.add_argument("--sha256-timer", help="sha256_timer.exe under Wine")
    ap.add_argument("--tool", required=True, help="the host SarvikPublish")
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    key = sign_release.keygen(os.path.join(work, "release.key"))
    plain = os.path.join(work, "plain")
    make_release.make(plain, FILES, seed=3)
    signed = os.path.join(work, "signed")
    shutil.copytree(plain, signed)
    nginx_plain = nginx_server.Nginx(os.path.join(plain, "www"), os.path.join(work, "n1")).start()
    nginx_signed = nginx_server.Nginx(os.path.join(signed, "www"), os.path.join(work, "n2")).start()
    sign_release.sign(os.path.join(signed, "www"), key,
                      {nginx_signed.url() + "/": os.path.join(signed, "www")})
    lower = None
    try:
        runners = [("native", args.native_svupdate, True)]
        if args.svupdate:
            runners.append(("wine", args.svupdate, False))
        for name, exe, native in runners:
            times = {"plain": [], "signed": []}
            for _ in range(RUNS):
                for kind, server in (("plain", nginx_plain), ("signed", nginx_signed)):
                    extra = []
                    game = os.path.join(work, "game")
                    if kind == "signed":
                        extra = ["--release-key", key + ".pub" if native
                                 else "Z:" + key + ".pub"]
                    took, _, _ = run_ours(exe, game, server.url(), 4, native=native, extra=extra)
                    times[kind].append(took)
            ratio = statistics.median(times["plain"]) / statistics.median(times["signed"])
            print(f"BENCH update_signed_vs_unsigned_{name} {ratio:.3f} ratio", flush=True)
            if not native and args.sha256_timer:
                hashing = hash_seconds(os.path.join(signed, "www"), args.sha256_timer)
                plain_time = statistics.median(times["plain"])
                print(f"BENCH update_signed_bound_wine {plain_time / (plain_time + hashing):.3f}"
                      " ratio", flush=True)
            lower = ratio if lower is None else min(lower, ratio)
        print(f"BENCH update_signed_vs_unsigned {lower:.3f} ratio", flush=True)
    finally:
        nginx_plain.stop()
        nginx_signed.stop()

    client = os.path.join(plain, "src")
    builds = {"plain": [], "signed": []}
    for _ in range(RUNS):
        for kind in builds:
            out = os.path.join(work, "out-" + kind)
            shutil.rmtree(out, ignore_errors=True)
            cmd = [args.tool, "build", client, out, "--base-url", "http://127.0.0.1/",
                   "--level", "1", "--jobs", str(os.cpu_count())]
            if kind == "signed":
                cmd += ["--sign-key", key]
            builds[kind].append(timed(cmd))
    ratio = statistics.median(builds["plain"]) / statistics.median(builds["signed"])
    print(f"BENCH publish_signed_vs_unsigned {ratio:.3f} ratio", flush=True)


if __name__ == "__main__":
    main()
