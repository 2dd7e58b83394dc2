#!/usr/bin/python3
"""Driver of update_bench.sh: makes (once) a 1 GB release with an independent LZO1X compressor,
serves it with nginx and times svupdate.exe against aria2c and against the plainest WinHTTP loop
(winhttp_bare.exe: the same .lz files, whole, on the same number of connections, read into a
reused buffer) and, when given, install_bare.exe (the same install done by the plainest code: each
.lz downloaded whole into a work file, decoded, flushed and moved into place), and the host build's
svupdate (the same engine over libcurl, without Wine) against the same aria2c runs, best of two
runs each. Every side is timed from its process start to its end."""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import make_release  # noqa: E402
import nginx_server  # noqa: E402

MIB = 1 << 20
FILES = [(f"data/pack{i:02d}.bin", 100 * MIB + i * 4099) for i in range(10)] + \
    [("client.exe", 23 * MIB + 5), ("lang/tr.txt", 800000)]
RUNS = 2
PAGE_KB = 1024


def release(work):
    out = os.path.join(work, "release")
    marker = os.path.join(out, "done")
    if not os.path.exists(marker):
        shutil.rmtree(out, ignore_errors=True)
        make_release.make(out, FILES, seed=7)
        open(marker, "w").close()
    return out


def cpu_seconds():
    """Processor time (user + system) of the children waited for so far."""
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_with_peak(cmd):
    """Runs cmd (wine-run execs into the Wine process, so its pid is the program's) and returns
    (seconds, peak resident size in KiB from VmHWM, exit code, output)."""
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            stdin=subprocess.DEVNULL)
    peak_kb = 0
    status = f"/proc/{proc.pid}/status"
    while proc.poll() is None:
        try:
            for line in open(status):
                if line.startswith("VmHWM:"):
                    peak_kb = max(peak_kb, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.05)
    took = time.monotonic() - start
    out = proc.stdout.read().decode("utf-8", "replace")
    return took, peak_kb, proc.returncode, out


def run_ours(svupdate, game, url, connections, native=False, unflushed=False, extra=()):
    """svupdate.exe under Wine, or with `native` the host build's svupdate started directly;
    with `unflushed` under eatmydata, which turns the flushes of the atomic install into no-ops."""
    shutil.rmtree(game, ignore_errors=True)
    os.makedirs(game)
    runner = [] if native else [os.path.join(SOURCE, "scripts", "wine-run")]
    if unflushed:
        runner = ["eatmydata"] + runner
    cmd = [*runner, svupdate, "--folder", game if native else "Z:" + game,
           "--config", url + "/config.xml", "--connections", str(connections),
           "--segment-mb", "4", *extra]
    cpu = cpu_seconds()
    took, peak_kb, rc, out = run_with_peak(cmd)
    cpu = cpu_seconds() - cpu
    if rc != 0 or "RESULT ok" not in out:
        raise SystemExit("update_bench: svupdate failed\n" + out[-2000:])
    return took, peak_kb, cpu


def run_aria2(urls, folder, connections):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    listing = os.path.join(folder, "..", "aria2-input.txt")
    with open(listing, "w") as f:
        for u, rel in urls:
            f.write(f"{u}\n  out={rel}\n")
    cmd = ["aria2c", "--no-conf", "-q", "-i", listing, "-d", folder, "-j", "1",
           "-x", str(connections), "-s", str(connections), "-k", "4M", "--min-split-size=4M",
           "--file-allocation=none", "--allow-overwrite=true", "--auto-file-renaming=false",
           "--check-certificate=false", "--disable-ipv6=true", "--all-proxy="]
    start, cpu = time.monotonic(), cpu_seconds()
    subprocess.run(cmd, check=True, env={k: v for k, v in os.environ.items()
                                          if "proxy" not in k.lower()})
    return time.monotonic() - start, cpu_seconds() - cpu


def run_bare(bare, urls, connections):
    cmd = [os.path.join(SOURCE, "scripts", "wine-run"), bare, str(connections), "1"] + \
        [u for u, _ in urls]
    start = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return time.monotonic() - start


def run_bare_install(program, urls, folder, connections):
    """install_bare.exe into an emptied folder: the disk work of an install by the plainest code."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    cmd = [os.path.join(SOURCE, "scripts", "wine-run"), program, str(connections), "1",
           "Z:" + folder] + [u for u, _ in urls]
    start = time.monotonic()
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
    return time.monotonic() - start


def parse_arguments():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", help="svupdate.exe; without it only the native engine runs")
    ap.add_argument("--work", required=True)
    ap.add_argument("--bare", help="winhttp_bare.exe")
    ap.add_argument("--bare-install", help="install_bare.exe")
    ap.add_argument("--native-svupdate", help="the host build's svupdate (libcurl, no Wine)")
    args = ap.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    return args


def bench_arguments():
    """(svupdate.exe, work folder made if missing, winhttp_bare.exe or None) from the command
    line of a Wine benchmark."""
    args = parse_arguments()
    return args.svupdate, args.work, args.bare, args.native_svupdate


def main():
    args = parse_arguments()
    svupdate, work, bare, native = args.svupdate, args.work, args.bare, args.native_svupdate
    bare_install = args.bare_install
    rel = release(work)
    server = nginx_server.Nginx(os.path.join(rel, "www"), os.path.join(work, "nginx")).start()
    total = sum(size for _, size in FILES)
    urls = [(f"{server.url()}/{path}.lz", path + ".lz") for path, _ in FILES]
    peak = 0
    ratios, bare_ratios, install_ratios, host_ratios = [], [], [], []
    try:
        for connections in (4, 8):
            ours, theirs, plain, plain_install, host = [], [], [], [], []
            host_cpu, aria2_cpu, unflushed = [], [], []
            for _ in range(RUNS):
                if native:
                    took, _, cpu = run_ours(native, os.path.join(work, "game"), server.url(),
                                            connections, native=True)
                    host.append(took)
                    host_cpu.append(cpu)
                    if shutil.which("eatmydata"):
                        unflushed.append(run_ours(native, os.path.join(work, "game"),
                                                  server.url(), connections, native=True,
                                                  unflushed=True)[0])
                if svupdate:
                    took, peak_kb, _ = run_ours(svupdate, os.path.join(work, "game"),
                                                server.url(), connections)
                    ours.append(took)
                    peak = max(peak, peak_kb)
                took, cpu = run_aria2(urls, os.path.join(work, "aria2"), connections)
                theirs.append(took)
                aria2_cpu.append(cpu)
                if bare:
                    plain.append(run_bare(bare, urls, connections))
                if bare_install:
                    plain_install.append(run_bare_install(
                        bare_install, urls, os.path.join(work, "bare-install"), connections))
            best_theirs = min(theirs)
            print(f"update_bench: {connections} connections: aria2c {best_theirs:.2f} s "
                  f"(download of the .lz files), best of {RUNS}", file=sys.stderr)
            if ours:
                best_ours = min(ours)
                print(f"update_bench: {connections} connections: svupdate {best_ours:.2f} s "
                      f"(install of {total / MIB:.0f} MiB)", file=sys.stderr)
                ratios.append(best_theirs / best_ours)
                print(f"BENCH update_vs_aria2_{connections}conn {ratios[-1]:.3f} ratio",
                      flush=True)
            if host:
                print(f"update_bench: {connections} connections: native svupdate {min(host):.2f} s",
                      file=sys.stderr)
                host_ratios.append(best_theirs / min(host))
                print(f"BENCH update_host_vs_aria2_{connections}conn {host_ratios[-1]:.3f} ratio",
                      flush=True)
                # On a machine whose cores the loopback transfer already fills, the processor
                # time each side spends (nginx's own not counted) bounds the time ratio.
                print(f"update_bench: {connections} connections: processor time native svupdate "
                      f"{min(host_cpu):.2f} s, aria2c {min(aria2_cpu):.2f} s", file=sys.stderr)
                print(f"BENCH update_host_cpu_vs_aria2_{connections}conn "
                      f"{min(host_cpu) / min(aria2_cpu):.3f} ratio", flush=True)
            if unflushed:
                # What the flushes of a durable install cost: aria2c never waits for the disk.
                print(f"update_bench: {connections} connections: native svupdate without "
                      f"flushes {min(unflushed):.2f} s", file=sys.stderr)
                print(f"BENCH update_host_unflushed_vs_aria2_{connections}conn "
                      f"{best_theirs / min(unflushed):.3f} ratio", flush=True)
            if plain:
                print(f"update_bench: {connections} connections: bare WinHTTP loop "
                      f"{min(plain):.2f} s", file=sys.stderr)
                bare_ratios.append(min(plain) / best_ours)
                print(f"BENCH update_vs_winhttp_bare_{connections}conn {bare_ratios[-1]:.3f} ratio",
                      flush=True)
            if plain_install:
                # Against the same disk work done plainly, Wine's own cost of it drops out.
                print(f"update_bench: {connections} connections: bare install "
                      f"{min(plain_install):.2f} s", file=sys.stderr)
                install_ratios.append(min(plain_install) / best_ours)
                print(f"BENCH update_vs_bare_install_{connections}conn {install_ratios[-1]:.3f} "
                      f"ratio", flush=True)
        # The headline figure is the weaker of the two.
        if ratios:
            print(f"BENCH update_vs_aria2 {min(ratios):.3f} ratio", flush=True)
        if bare_ratios:
            print(f"BENCH update_vs_winhttp_bare {min(bare_ratios):.3f} ratio", flush=True)
        if install_ratios:
            print(f"BENCH update_vs_bare_install {min(install_ratios):.3f} ratio", flush=True)
        if host_ratios:
            # The engine's own cost without Wine: the same install by the host build over libcurl.
            print(f"BENCH update_host_vs_aria2 {min(host_ratios):.3f} ratio", flush=True)
        if ours:
            print(f"BENCH update_peak_rss_mb {peak / PAGE_KB:.1f} MB", flush=True)
    finally:
        server.stop()
        shutil.rmtree(os.path.join(work, "game"), ignore_errors=True)
        shutil.rmtree(os.path.join(work, "aria2"), ignore_errors=True)
        shutil.rmtree(os.path.join(work, "bare-install"), ignore_errors=True)


if __name__ == "__main__":
    main()
