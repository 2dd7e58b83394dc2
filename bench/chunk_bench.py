#!/usr/bin/python3
"""Driver of chunk_bench.sh: release pairs made in one run, each published by the release tool
with --chunks (two versions), served by nginx, and updated by the native svupdate from a game
folder holding the first. For each pair it prints the bytes the patcher downloaded (nginx's body
bytes), the bytes changed, the size of a zstd --patch-from patch (-19 --long, the best per-version
patch) and the whole .lz, then
  BENCH chunk_update_vs_patch_from_<pair>  downloaded / patch bytes        (goal <= 1.5)
  BENCH chunk_update_vs_full_<pair>        downloaded / whole .lz bytes    (goal <= 0.05 on a, e)
  BENCH chunk_update_vs_patch_from, chunk_update_vs_full: the worst of the pairs the goals name
  BENCH chunk_update_time_vs_whole    update of pair a by chunks / by its whole .lz, nginx at
                                      2.5 MB/s on each of the patcher's 4 connections: 10 MB/s
                                      in all (goal <= 0.3)
  BENCH chunk_update_time_vs_whole_wine  the same by svupdate.exe under Wine (--wine-svupdate)
  BENCH publish_chunks_vs_plain       plain build time / build time with --chunks (goal >= 0.7)
  BENCH storage_three_versions_vs_one three kept versions with their chunk store / one plain
                                      release (goal <= 1.3)
Sizes are scaled by --mb (the archives of pairs a to d) and --big-mb (pair e); pair e is packed
at --big-level (1: the fastest), the others at --level."""
import argparse
import os
import random
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import nginx_server  # noqa: E402

MIB = 1 << 20


class Archive:
    """A game archive as members: packed (noise) and unpacked (text-like) ones."""

    def __init__(self, size, seed):
        r = random.Random(seed)
        pool = b" ".join(bytes(r.randrange(97, 123) for _ in range(r.randrange(2, 9)))
                         for _ in range(300000))
        self.members = []
        total = 0
        while total < size:
            n = r.randrange(64 << 10, 1 << 20)
            if r.random() < 0.5:
                m = r.randbytes(n)
            else:
                at = r.randrange(len(pool) - n)
                m = pool[at:at + n]
            self.members.append(m)
            total += n

    def data(self):
        return b"".join(self.members)


def scattered_edits(data, count, size, seed):
    r = random.Random(seed)
    data = bytearray(data)
    for _ in range(count):
        at = r.randrange(len(data) - size)
        data[at:at + size] = r.randbytes(size)
    return bytes(data), count * size


def shifting_edits(data, count, size, seed):
    """Insertions and deletions in turns, each shifting everything after it."""
    r = random.Random(seed)
    data = bytearray(data)
    changed = 0
    for i in range(count):
        at = r.randrange(len(data) - size)
        if i % 2:
            del data[at:at + size]
        else:
            data[at:at] = r.randbytes(size)
        changed += size
    return bytes(data), changed


def write_big(path, size, seed, edit_at=None, edit_size=0):
    """A large file written in pieces (never whole in memory): 1 MiB blocks, half noise."""
    r = random.Random(seed)
    block = [r.randbytes(MIB) for _ in range(8)]
    text = (b"dosya guncelleme sunucu oyun yama " * 40000)[:MIB]
    e = random.Random(seed + 1)
    with open(path, "wb") as f:
        for i in range(size // MIB):
            piece = block[i % 8] if i % 2 else text
            # Each block differs from the others in its first bytes.
            piece = i.to_bytes(8, "little") + piece[8:]
            if edit_at is not None and edit_at <= i * MIB < edit_at + edit_size:
                piece = e.randbytes(MIB)
            f.write(piece)


def make_client(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for rel, data in files.items():
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if callable(data):
            data(path)
        else:
            with open(path, "wb") as f:
                f.write(data)


def timed(cmd):
    start = time.monotonic()
    done = subprocess.run(cmd, capture_output=True, text=True)
    if done.returncode != 0:
        raise SystemExit(f"{cmd[:3]} failed:\n{done.stdout}\n{done.stderr}")
    return time.monotonic() - start, done.stdout


def same_files(release, game):
    """Every file of the release is in the game folder as it is (files the release dropped stay
    there: the patcher removes nothing)."""
    for folder, _, names in os.walk(release):
        for n in names:
            path = os.path.join(folder, n)
            other = os.path.join(game, os.path.relpath(path, release))
            if subprocess.run(["cmp", "-s", path, other]).returncode != 0:
                return False
    return True


class Bench:
    def __init__(self, args):
        self.args = args
        self.work = os.path.abspath(args.work)
        os.makedirs(self.work, exist_ok=True)

    def publish(self, client, out, version, *extra, level=None):
        return timed([self.args.publish, "build", client, out, "--base-url", "http://x/",
                      "--versioned", "--version", version, "--level",
                      str(level or self.args.level), *extra])

    def update(self, pub, game, rate=None, wine=False):
        root = os.path.join(self.work, "serve")
        shutil.rmtree(root, ignore_errors=True)
        shutil.copytree(pub, root, symlinks=True)
        server_work = os.path.join(self.work, "nginx")
        shutil.rmtree(server_work, ignore_errors=True)
        server = nginx_server.Nginx(root, server_work, rate=rate).start()
        try:
            config = os.path.join(root, "draskeltorrent.config.xml")
            text = open(config).read().replace("http://x/", server.url() + "/")
            with open(config, "w") as f:
                f.write(text)
            cmd = ([os.path.join(SOURCE, "scripts", "wine-run"), self.args.wine_svupdate,
                    "--folder", "Z:" + game] if wine else [self.args.svupdate, "--folder", game])
            took, _ = timed(cmd + ["--config", server.url() + "/draskeltorrent.config.xml"])
            sent = sum(int(l.rsplit(" ", 1)[1]) for l in open(server.access_log))
        finally:
            server.stop()
        return took, sent

    def pair(self, name, old, new, changed, changed_file, level=None):
        """old/new: {path: bytes or writer}. Returns (downloaded, patch, whole .lz)."""
        base = os.path.join(self.work, name)
        c1, c2, pub, game = (os.path.join(base, n) for n in ("v1", "v2", "pub", "game"))
        make_client(c1, old)
        make_client(c2, new)
        shutil.rmtree(pub, ignore_errors=True)
        self.publish(c1, pub, "v1", "--chunks", level=level)
        self.publish(c2, pub, "v2", "--chunks", level=level)
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(c1, game)
        _, downloaded = self.update(pub, game)
        if not same_files(c2, game):
            raise SystemExit(f"{name}: the game folder does not match the release")
        old_file, new_file = changed_file
        patch = None
        if os.path.getsize(os.path.join(c2, new_file)) < 2000 * MIB:
            out = os.path.join(base, "patch.zst")
            subprocess.run(["zstd", "-q", "-q", "-f", "-19", "--long=31", "-T2", "--patch-from",
                            os.path.join(c1, old_file), os.path.join(c2, new_file), "-o", out],
                           check=True)
            patch = os.path.getsize(out)
        lz = os.path.getsize(os.path.join(pub, "v2", new_file + ".lz"))
        print(f"pair {name}: downloaded {downloaded}, changed {changed}, zstd patch "
              f"{patch if patch is not None else '-'}, whole .lz {lz}", file=sys.stderr, flush=True)
        if patch:
            print(f"BENCH chunk_update_vs_patch_from_{name} {downloaded / patch:.2f} ratio", flush=True)
        print(f"BENCH chunk_update_vs_full_{name} {downloaded / lz:.4f} ratio", flush=True)
        return downloaded, patch, lz, pub, c1

    def run(self):
        size = self.args.mb * MIB
        arc = Archive(size, 1)
        v1 = arc.data()
        # The edits keep their size when the archive is scaled; their count follows it.
        edits = max(2, 50 * size // (200 * MIB))
        a2, a_changed = scattered_edits(v1, edits, 100000, 2)
        b2, b_changed = shifting_edits(v1, edits, 100000, 3)
        shuffled = list(arc.members)
        random.Random(4).shuffle(shuffled)
        c2 = b"".join(shuffled)
        d2, d_changed = scattered_edits(v1, 5, 20000, 5)
        exe = {"game.exe": bytes(200000)}
        results = {}
        results["a"] = self.pair("a", {**exe, "data/archive.pak": v1},
                                 {**exe, "data/archive.pak": a2}, a_changed,
                                 ("data/archive.pak", "data/archive.pak"))
        results["b"] = self.pair("b", {**exe, "data/archive.pak": v1},
                                 {**exe, "data/archive.pak": b2}, b_changed,
                                 ("data/archive.pak", "data/archive.pak"))
        results["c"] = self.pair("c", {**exe, "data/archive.pak": v1},
                                 {**exe, "data/archive.pak": c2}, len(c2),
                                 ("data/archive.pak", "data/archive.pak"))
        results["d"] = self.pair("d", {**exe, "data/old name.pak": v1},
                                 {**exe, "data/new name.pak": d2}, d_changed,
                                 ("data/old name.pak", "data/new name.pak"))
        big = self.args.big_mb * MIB
        results["e"] = self.pair(
            "e", {**exe, "data/huge.pak": lambda p: write_big(p, big, 6)},
            {**exe, "data/huge.pak": lambda p: write_big(p, big, 6, big // 3, 10 * MIB)},
            10 * MIB, ("data/huge.pak", "data/huge.pak"), level=self.args.big_level)
        worst_patch = max(r[0] / r[1] for k, r in results.items() if k in "abcd" and r[1])
        worst_full = max(results[k][0] / results[k][2] for k in "ae")
        print(f"BENCH chunk_update_vs_patch_from {worst_patch:.2f} ratio")
        print(f"BENCH chunk_update_vs_full {worst_full:.4f} ratio", flush=True)

        # Time: pair a by chunks and by its whole .lz (the same release without its store).
        pub_a, c1_a = results["a"][3], results["a"][4]
        pub_whole = os.path.join(self.work, "a", "pub-whole")
        shutil.rmtree(pub_whole, ignore_errors=True)
        shutil.copytree(pub_a, pub_whole, symlinks=True)
        shutil.rmtree(os.path.join(pub_whole, "chunks"))
        for wine in (False, True) if self.args.wine_svupdate else (False,):
            times = {}
            for how, pub in (("chunks", pub_a), ("whole", pub_whole)):
                runs = []
                for _ in range(3):
                    game = os.path.join(self.work, "a", "game-time")
                    shutil.rmtree(game, ignore_errors=True)
                    shutil.copytree(c1_a, game)
                    runs.append(self.update(pub, game, rate="2500k", wine=wine)[0])
                times[how] = sorted(runs)[1]
            where = " under Wine" if wine else ""
            print(f"update of pair a at 10 MB/s (4 x 2.5 MB/s){where}: by chunks "
                  f"{times['chunks']:.2f} s, whole {times['whole']:.2f} s (medians of 3)",
                  file=sys.stderr)
            print(f"BENCH chunk_update_time_vs_whole{'_wine' if wine else ''} "
                  f"{times['chunks'] / times['whole']:.2f} ratio", flush=True)

        # Publishing: a fresh build of pair a's first client, plain and with --chunks.
        plain, chunked = [], []
        for _ in range(3):
            for extra, into in (((), plain), (("--chunks",), chunked)):
                out = os.path.join(self.work, "publish-time")
                shutil.rmtree(out, ignore_errors=True)
                into.append(self.publish(os.path.join(self.work, "a", "v1"), out, "v1", *extra)[0])
        p, c = sorted(plain)[1], sorted(chunked)[1]
        print(f"publish of pair a's client: plain {p:.2f} s, with --chunks {c:.2f} s (medians)",
              file=sys.stderr)
        print(f"BENCH publish_chunks_vs_plain {p / c:.2f} ratio")

        # Storage: three versions of pair a (two rounds of edits) kept with their chunk store.
        pub = os.path.join(self.work, "storage")
        shutil.rmtree(pub, ignore_errors=True)
        a3, _ = scattered_edits(a2, edits, 100000, 7)
        for i, data in enumerate((v1, a2, a3)):
            client = os.path.join(self.work, "storage-client")
            make_client(client, {**exe, "data/archive.pak": data})
            self.publish(client, pub, f"v{i + 1}", "--chunks")
        kept = int(subprocess.run(["du", "-sb", pub], capture_output=True, text=True).stdout.split()[0])
        one = int(subprocess.run(["du", "-sb", os.path.join(pub, "v1")], capture_output=True,
                                 text=True).stdout.split()[0])
        store = int(subprocess.run(["du", "-sb", os.path.join(pub, "chunks")], capture_output=True,
                                   text=True).stdout.split()[0])
        print(f"storage: three versions {kept} bytes (chunk store {store}), one plain release {one}",
              file=sys.stderr)
        print(f"BENCH storage_three_versions_vs_one {kept / one:.2f} ratio")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--publish", required=True)
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--wine-svupdate", help="svupdate.exe, timed under Wine as well")
    ap.add_argument("--work", required=True)
    ap.add_argument("--mb", type=int, default=200)
    ap.add_argument("--big-mb", type=int, default=3072)
    ap.add_argument("--level", type=int, default=9)
    ap.add_argument("--big-level", type=int, default=1)
    Bench(ap.parse_args()).run()


if __name__ == "__main__":
    main()
