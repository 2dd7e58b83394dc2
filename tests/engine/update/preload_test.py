#!/usr/bin/python3
"""Pre-loading against nginx: release v1 is installed, v2 is published with the release tool's
--stage, and svupdate stages v2 beside the game (resuming after a kill) while the game folder
stays v1; after promote the update takes the staged files and downloads next to nothing; a
withdrawn announcement has its staged data removed.

  preload_test.py [--native] --svupdate EXE --publish EXE --work DIR"""
import os
import random
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test as ut  # noqa: E402
from update_test import check, win  # noqa: E402
from release_tree import same_tree, tree  # noqa: E402

MIB = 1 << 20
AT = "2026-12-24T18:00:00Z"
CONFIG = "draskeltorrent.config.xml"
CHANGED = ["data/p0.bin", "data/p2.bin", "data/p4.bin", "data/new.bin"]


def write_client(folder, version):
    """v1: six archives of random bytes and a program; v2 changes three, adds one."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    files = {f"data/p{i}.bin": random.Random(i).randbytes(2 * MIB) for i in range(6)}
    files["game.exe"] = b"MZ" + bytes(5000)
    if version == 2:
        for name in CHANGED:
            files[name] = random.Random(name).randbytes(2 * MIB)
    for name, data in files.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def lz_sent(log):
    """Body bytes of the ".lz" answers in an nginx access log."""
    return sum(int(line.rsplit(" ", 1)[1]) for line in ut.access_lines(log, ".lz"))


def staged(game):
    folder = os.path.join(game, "temp", "next")
    return tree(folder) if os.path.isdir(folder) else {}


def run_cases(env, publish, case):
    pub = os.path.join(env.work, "pub")
    shutil.rmtree(pub, ignore_errors=True)
    os.makedirs(pub)
    server = env.nginx(pub, "preload")
    base = server.url() + "/"
    config = base + CONFIG
    runner = [] if ut.NATIVE else [ut.WINE_RUN]

    def tool(*args):
        done = subprocess.run([*runner, publish, *args], capture_output=True, text=True,
                              timeout=600)
        check(done.returncode == 0, f"{args}\n{done.stdout}\n{done.stderr}")
        return done.stdout

    def build(version, *extra):
        client = os.path.join(env.work, f"client-v{version}")
        write_client(client, version)
        tool("build", win(client), win(pub), "--base-url", base, "--versioned", "--version",
             f"v{version}", "--level", "1", *extra)
        return client

    def update(game, *extra):
        run = env.update(game, config, *extra, timeout=300)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"update failed\n{run}")
        return run

    def fresh_log():
        open(server.access_log, "w").close()

    client1 = build(1)
    game = os.path.join(env.work, "game")
    shutil.rmtree(game, ignore_errors=True)
    update(game)
    check(same_tree(client1, game) is None, "v1 was not installed")
    client2 = build(2, "--stage", AT)
    changed_lz = sum(os.path.getsize(os.path.join(pub, "v2", n + ".lz")) for n in CHANGED)
    want = {os.path.normpath(n): tree(client2)[os.path.normpath(n)] for n in CHANGED}

    with case("StageAnnouncesWithoutSwitching"):
        live = open(os.path.join(pub, CONFIG)).read()
        check('crcversion="v1"' in live and
              f'<sv_next config_url="{base}v2/{CONFIG}" at="{AT}"/>' in live, live)
        own = open(os.path.join(pub, "v2", CONFIG)).read()
        check('crcversion="v2"' in own and "sv_next" not in own, own)
        bad = subprocess.run([*runner, publish, "promote", win(pub), "v9"], capture_output=True,
                             text=True, timeout=60)
        check(bad.returncode == 1 and "no published version v9" in bad.stderr, bad.stderr)

    with case("StagingResumesAfterAKillAndLeavesTheGameAlone"):
        fresh_log()
        # Half of the 4 MiB/s limit: the 8 MiB take seconds, time enough to be cut off once a
        # segment's resume state is written.
        slow = ("--max-kbps", "4096", "--segment-mb", "1")
        proc = env.start(env.svupdate_cmd(game, config, *slow))
        parts = os.path.join(game, "temp", "next", "temp")
        begun = lambda: os.path.isdir(parts) and any(  # noqa: E731
            n.endswith(".state") for n in os.listdir(parts))
        check(ut.wait_for(begun, 60), "staging did not begin")
        ut.kill_run(proc)
        out = proc.stdout.read()
        check("RESULT ok" in out and "PRELOAD" not in out, f"not killed while staging\n{out}")
        check(same_tree(client1, game) is None, "the game folder changed while staging")
        fresh_log()
        run = update(game, *slow)
        check(run.value("PRELOAD") == "ok", f"staging did not finish\n{run}")
        check(any("| Sonraki güncelleme hazırlanıyor: %" in l for l in run.lines),
              f"the status line did not show the staging\n{run}")
        second = lz_sent(server.access_log)
        check(0 < second < changed_lz and "Kaldigi yerden devam" in run.log,
              f"the resumed run fetched {second} of {changed_lz} bytes\n{run}")
        check(staged(game) == want, f"staged {sorted(staged(game))}\n{run}")
        check(same_tree(client1, game) is None, "the game folder changed while staging")
        fresh_log()
        run = update(game)
        check(lz_sent(server.access_log) == 0, f"a staged release was fetched again\n{run}")

    withdrawn = os.path.join(env.work, "game-withdrawn")
    damaged = os.path.join(env.work, "game-damaged")
    for copy in (withdrawn, damaged):
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(game, copy)
    with open(os.path.join(damaged, "temp", "next", "data", "p2.bin"), "r+b") as f:
        f.seek(MIB)
        f.write(b"same size, other bytes")

    with case("WithdrawnReleaseLosesItsStagedData"):
        live_path = os.path.join(pub, CONFIG)
        live = open(live_path).read()
        open(live_path, "w").write("".join(l for l in live.splitlines(True) if "sv_next" not in l))
        try:
            run = update(withdrawn)
        finally:
            open(live_path, "w").write(live)
        check(not os.path.exists(os.path.join(withdrawn, "temp", "next")), f"staged data stays\n{run}")
        check(same_tree(client1, withdrawn) is None, f"the game changed\n{run}")

    with case("GoLiveTakesTheStagedFiles"):
        tool("promote", win(pub), "v2")
        live = open(os.path.join(pub, CONFIG)).read()
        check('crcversion="v2"' in live and "sv_next" not in live, live)
        fresh_log()
        run = update(game)
        fetched = lz_sent(server.access_log)
        check(same_tree(client2, game) is None, f"v2 was not installed\n{run}")
        check(fetched <= changed_lz // 100, f"go-live fetched {fetched} of {changed_lz}\n{run}")
        check(not os.path.exists(os.path.join(game, "temp", "next")), f"staged data stays\n{run}")

    with case("DamagedStagedFileIsDownloadedAgain"):
        fresh_log()
        run = update(damaged)
        check(same_tree(client2, damaged) is None, f"v2 was not installed\n{run}")
        lines = ut.access_lines(server.access_log, ".lz")
        check(len(lines) >= 1 and all("p2.bin.lz" in l for l in lines), f"{lines}\n{run}")


def main():
    env, args = ut.script_env()
    return ut.run_suite(env, "update_preload", lambda e, case: run_cases(e, args.publish, case))


if __name__ == "__main__":
    sys.exit(main())
