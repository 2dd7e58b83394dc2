#!/usr/bin/python3
"""Run by update_bench.sh after the update benchmark: the memory a file list costs the 32-bit patcher. A client of
100,000 files (empty files, all current, paths of a real client's length) and the same client of
one file are checked and updated by svupdate.exe under Wine against nginx; peak resident sizes are
read from VmHWM of the Wine process. Prints
  BENCH check_100k_peak_rss_mb <peak of the 100,000-file run> MB
  BENCH list_bytes_per_entry <(peak of 100,000 files - peak of one) / 99,999> bytes"""
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
sys.path.insert(0, HERE)
import make_release  # noqa: E402
import nginx_server  # noqa: E402
from update_bench import bench_arguments, run_with_peak  # noqa: E402

FILES = 100000
PAGE_KB = 1024


def client_paths(count):
    return [f"data/maps/zone{i // 1000:03d}/objects/object_{i % 1000:04d}.dat"
            for i in range(count)]


def prepare(work, name, count):
    """A release of one real file plus `count` empty files, and a game folder holding them."""
    out = os.path.join(work, name)
    marker = os.path.join(out, "done")
    if not os.path.exists(marker):
        shutil.rmtree(out, ignore_errors=True)
        make_release.make(out, [("client.exe", 300000)], seed=3)
        game = os.path.join(out, "game")
        lines = []
        for rel in client_paths(count):
            full = os.path.join(game, rel)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            open(full, "wb").close()
            lines.append(f"00000000 0 {rel}\n")
        with open(os.path.join(out, "www", "crclist"), "a") as f:
            f.write("".join(lines))
        open(marker, "w").close()
    return out


def peak_of(svupdate, out, url):
    game = os.path.join(out, "game")
    # Every run checks every file and fetches the one real file, as a first run does.
    shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
    try:
        os.remove(os.path.join(game, "client.exe"))
    except OSError:
        pass
    cmd = [os.path.join(SOURCE, "scripts", "wine-run"), svupdate, "--folder", "Z:" + game,
           "--config", url + "/config.xml"]
    took, peak_kb, rc, text = run_with_peak(cmd)
    if rc != 0 or "RESULT ok" not in text:
        raise SystemExit("list_memory_bench: svupdate failed\n" + text[-2000:])
    return took, peak_kb


def main():
    svupdate, work, _, _ = bench_arguments()
    peaks = {}
    for count in (1, FILES):
        out = prepare(work, f"client-{count}", count)
        server = nginx_server.Nginx(os.path.join(out, "www"),
                                    os.path.join(work, f"nginx-{count}")).start()
        try:
            took, peaks[count] = peak_of(svupdate, out, server.url())
        finally:
            server.stop()
        print(f"list_memory_bench: {count} files: {took:.1f} s, peak {peaks[count]} KiB",
              file=sys.stderr)
    per_entry = (peaks[FILES] - peaks[1]) * 1024 / (FILES - 1)
    print(f"BENCH check_100k_peak_rss_mb {peaks[FILES] / PAGE_KB:.1f} MB", flush=True)
    print(f"BENCH list_bytes_per_entry {per_entry:.0f} bytes", flush=True)


if __name__ == "__main__":
    main()
