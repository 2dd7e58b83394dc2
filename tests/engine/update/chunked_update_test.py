#!/usr/bin/python3
"""Chunked updates against nginx: releases made by the release tool with --chunks, svupdate run
natively or under Wine. A game folder holding version 1 (whole, damaged, cut short) updates to
version 2 by fetching only the chunks it lacks; anything the chunks cannot do safely goes to the
file's .lz, and the game folder always ends identical to the release.

  chunked_update_test.py [--native] --svupdate EXE --publish EXE --work DIR"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test as ut  # noqa: E402
from update_test import check, win  # noqa: E402

import sign_release  # noqa: E402
from gtest_results import Skipped  # noqa: E402
from release_tree import same_tree  # noqa: E402

ARCHIVE = "data/archive one.bin"
MIB = 1 << 20


def archive_v1():
    """Members of text-like and of random bytes, as a game archive holds."""
    r = random.Random(7)
    words = [bytes(r.randrange(97, 123) for _ in range(r.randrange(2, 9))) for _ in range(3000)]
    parts = []
    for i in range(48):
        if i % 3 == 0:
            parts.append(r.randbytes(60000 + r.randrange(40000)))
        else:
            parts.append(b" ".join(r.choice(words) for _ in range(20000)))
    return b"".join(parts)


def archive_v2(data):
    """Scattered edits, an insertion and a deletion that shift what follows them."""
    r = random.Random(8)
    data = bytearray(data)
    for _ in range(6):
        at = r.randrange(len(data) - 30000)
        data[at:at + 20000] = r.randbytes(20000)
    data[300000:300000] = b"inserted member " * 2000
    del data[2 * MIB:2 * MIB + 7777]
    return bytes(data)


def write_client(folder, archive):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    with open(os.path.join(folder, ARCHIVE), "wb") as f:
        f.write(archive)
    with open(os.path.join(folder, "game.exe"), "wb") as f:
        f.write(b"MZ" + bytes(5000))


def sent_bytes(log, needle=""):
    """Body bytes nginx sent for requests whose line holds `needle`."""
    total = 0
    for line in open(log):
        if needle in line:
            total += int(line.rsplit(" ", 1)[1])
    return total


def run_cases(env, publish, case):
    serve = os.path.join(env.work, "serve")
    shutil.rmtree(serve, ignore_errors=True)
    os.makedirs(serve)
    server = env.nginx(serve, "chunks")
    base = server.url() + "/"
    pub = os.path.join(env.work, "pub")
    shutil.rmtree(pub, ignore_errors=True)
    v1 = archive_v1()
    v2 = archive_v2(v1)
    runner = [] if ut.NATIVE else [ut.WINE_RUN]

    def build(version, archive, into=pub, *extra):
        client = os.path.join(env.work, "client-" + version)
        write_client(client, archive)
        done = subprocess.run([*runner, publish, "build", win(client), win(into), "--base-url", base,
                               "--versioned", "--version", version, "--chunks", "--level", "1",
                               *extra], capture_output=True, text=True, timeout=600)
        check(done.returncode == 0, f"build {version}\n{done.stdout}\n{done.stderr}")
        return client, done.stdout

    client1, _ = build("v1", v1)
    client2, built = build("v2", v2)
    check(re.search(r"update: a player on v1 downloads", built), f"no update size line\n{built}")
    sized = subprocess.run([*runner, publish, "size", win(os.path.join(pub, "v1")),
                            win(os.path.join(pub, "v2"))], capture_output=True, text=True, timeout=60)
    check(sized.returncode == 0 and "1 changed file(s)" in sized.stdout, f"size\n{sized.stdout}{sized.stderr}")

    def publish_copy(change=None, folder=pub):
        shutil.rmtree(serve)
        shutil.copytree(folder, serve)
        if change:
            change(serve)
        open(server.access_log, "w").close()

    def game_with(name, archive):
        game = os.path.join(env.work, "game-" + name)
        write_client(game, archive)
        return game

    def update(game, *extra):
        run = env.update(game, base + "draskeltorrent.config.xml", *extra, timeout=300)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"update failed\n{run}")
        check(same_tree(client2, game) is None, f"{same_tree(client2, game)}\n{run}")
        return run

    whole_fetch = 0
    lz_size = os.path.getsize(os.path.join(pub, "v2", ARCHIVE + ".lz"))

    with case("OldVersionUpdatesByFetchingOnlyTheChangedChunks"):
        publish_copy()
        run = update(game_with("old", v1))
        fetched = sent_bytes(server.access_log, "/chunks/")
        check(sent_bytes(server.access_log, "archive%20one.bin.lz") == 0, "the .lz was fetched")
        check(0 < fetched < lz_size // 4, f"{fetched} bytes of chunks for a {lz_size} byte .lz")
        check("yerelden" in run.log and "indirildi" in run.log, f"no reuse in the log\n{run}")
        finished = [line for line in run.lines if line.startswith("STATUS 4 ")]
        check(finished and "yerel dosyalardan alındı" in finished[-1],
              f"the closing status does not say what was reused\n{run}")
        whole_fetch = fetched
        # Neighbouring chunks come in one request, several requests at once.
        ranges = len(ut.requested_ranges(ut.access_lines(server.access_log, ".pack")))
        check(0 < ranges < 40, f"{ranges} range requests")

    with case("KilledWhileAssemblingNeverHalfWritesAndResumes"):
        publish_copy()
        slow_root = os.path.join(env.work, "serve-slow")
        shutil.rmtree(slow_root, ignore_errors=True)
        shutil.copytree(pub, slow_root)
        slow = env.nginx(slow_root, "chunks-slow", rate="25k")
        config = os.path.join(slow_root, "draskeltorrent.config.xml")
        text = open(config).read()
        with open(config, "w") as f:
            f.write(text.replace(base, slow.url() + "/"))
        game = game_with("killed", v1)
        proc = env.start(env.svupdate_cmd(game, slow.url() + "/draskeltorrent.config.xml"))
        # Killed once the local chunks are in the file being assembled and the changed ones are
        # on their way (at 25 KB/s they take seconds; nginx logs a range once it is answered).
        temp = os.path.join(game, "temp")
        building = lambda: [n for n in os.listdir(temp) if n.endswith(".build")  # noqa: E731
                            and os.path.getsize(os.path.join(temp, n)) > 0] if os.path.isdir(temp) else []
        check(ut.wait_for(building, 60), "nothing assembled")
        ut.wait_for(lambda: False, 0.5)
        in_flight = not ut.access_lines(slow.access_log, ".pack")
        ut.kill_run(proc)
        check(in_flight, "the changed chunks arrived before the kill")
        with open(os.path.join(game, ARCHIVE), "rb") as f:
            check(f.read() == v1, "the game file changed before it was complete")
        run = update(game)
        # What the killed run assembled seeds this one: nothing is fetched twice.
        check(sent_bytes(server.access_log, "/chunks/") <= whole_fetch and "yerelden" in run.log,
              f"the second run fetched {sent_bytes(server.access_log, '/chunks/')} of "
              f"{whole_fetch} bytes\n{run}")

    with case("DamagedAndHalfWrittenFilesAreSeeds"):
        damaged = bytearray(v1)
        damaged[1000000:1100000] = bytes(100000)
        for name, seed in (("damaged", bytes(damaged)), ("half", v1[:len(v1) // 2])):
            publish_copy()
            update(game_with(name, seed))
            check(sent_bytes(server.access_log, "archive%20one.bin.lz") == 0,
                  f"{name}: the .lz was fetched")

    with case("FileChangedWhileCutNeverReachesTheGameFolder"):
        # The player's old file is written to between its cutting and the copying of its chunks.
        publish_copy()
        run = update(game_with("changing", v1), "--change-after-cut", "archive one.bin")
        changed = [line for line in run.lines if line.startswith("CHANGED")]
        check(changed and "failed" not in changed[0], f"the file was not changed\n{run}")
        check("CRC uyusmadi" in run.log and "parcalardan" in run.log,
              f"the assembled file was not refused\n{run}")

    with case("ChunkNotMatchingItsHashIsRefusedAndTheFileComesWhole"):
        def spoil(folder):
            store = os.path.join(folder, "chunks")
            for name in os.listdir(store):
                if name.endswith(".pack"):
                    with open(os.path.join(store, name), "r+b") as f:
                        data = bytearray(f.read())
                        for at in range(0, len(data), 4096):
                            data[at] ^= 0x55
                        f.seek(0)
                        f.write(data)
        publish_copy(spoil)
        run = update(game_with("spoiled", v1))
        check("Parcali guncelleme olmadi" in run.log, f"bad chunk not refused\n{run}")
        check(sent_bytes(server.access_log, "archive%20one.bin.lz") > 0, "no .lz fallback")

    with case("ServerWithoutChunkObjectsFallsBackToTheLz"):
        publish_copy(lambda folder: shutil.rmtree(os.path.join(folder, "chunks")))
        update(game_with("nochunks", v1))

    with case("SeedTooSmallFetchesTheLz"):
        publish_copy()
        game = os.path.join(env.work, "game-fresh")
        shutil.rmtree(game, ignore_errors=True)
        update(game)
        check(sent_bytes(server.access_log, "/chunks/") == 0, "chunks fetched for a fresh install")

    with case("SignedReleaseCoversTheChunkList"):
        if not ut.NATIVE:
            raise Skipped("releases are signed by the Linux build of the release tool only")
        signed = os.path.join(env.work, "pub-signed")
        shutil.rmtree(signed, ignore_errors=True)
        key = sign_release.keygen(os.path.join(env.work, "release-key"))
        build("v1", v1, signed, "--sign-key", win(key))
        build("v2", v2, signed, "--sign-key", win(key))
        publish_copy(folder=signed)
        run = update(game_with("signed", v1), "--release-key", win(key + ".pub"))
        check("yerelden" in run.log and sent_bytes(server.access_log, "archive%20one.bin.lz") == 0,
              f"the signed release was not updated by chunks\n{run}")

        def swap_list(folder):
            # Another release's chunk list, as an attacker or a stale cache would serve it.
            shutil.copy(os.path.join(folder, "v1", "crclist.chunks"),
                        os.path.join(folder, "v2", "crclist.chunks"))
        publish_copy(swap_list, folder=signed)
        run = update(game_with("signed-swapped", v1), "--release-key", win(key + ".pub"))
        check("Parca listesi kullanilamadi" in run.log and "yerelden" not in run.log,
              f"a chunk list the crclist does not name was used\n{run}")

    with case("ReleaseStaysWholeForPatchersThatIgnoreChunks"):
        # What a patcher without chunk support reads: the list and every .lz, checked by the
        # release tool with the patcher's own decoder.
        done = subprocess.run([*runner, publish, "verify", win(os.path.join(pub, "v2"))],
                              capture_output=True, text=True, timeout=300)
        check(done.returncode == 0, f"{done.stdout}\n{done.stderr}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--publish", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--native", action="store_true")
    args = ap.parse_args()
    ut.NATIVE = args.native
    env = ut.Env(argparse.Namespace(svupdate=args.svupdate, holdfile=None, work=args.work))
    os.makedirs(env.work, exist_ok=True)
    return ut.run_suite(env, "update_chunked", lambda e, case: run_cases(e, args.publish, case))


if __name__ == "__main__":
    sys.exit(main())
