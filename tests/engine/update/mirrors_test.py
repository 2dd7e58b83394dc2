#!/usr/bin/python3
"""Mirrors against nginx: a source and the sv_mirror bases that carry the same release. The
fastest mirror serves most bytes, one that refuses connections, serves damaged bytes or dies
during the run is left, and every file still installs. (nginx's limit_rate lets a second's worth
of each answer out at once: the slow servers' rates sit well below the 1 MB segments.)

  mirrors_test.py [--native] --svupdate EXE --publish EXE --work DIR [--only NAME]"""
import os
import random
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import update_test as ut  # noqa: E402
from gtest_results import run_cases  # noqa: E402
from nginx_server import free_port  # noqa: E402

MIB = 1 << 20


def lz_bytes(server):
    """Body bytes of the ".lz" answers an nginx sent."""
    total = 0
    for line in ut.access_lines(server.access_log, ".lz"):
        total += int(line.split()[-1])
    return total


def write_config(www, primary, mirrors):
    with open(os.path.join(www, "config.xml"), "w") as f:
        f.write(f'<torrent_config run_path="game.exe"><foreground_patch crcpatch_url="{primary}/">'
                + "".join(f'<sv_mirror url="{m}/"/>' for m in mirrors)
                + "</foreground_patch></torrent_config>\n")


def left_lines(run, base):
    return [l for l in run.log.splitlines() if re.search(r"Ayna birakildi: " + re.escape(base), l)]


def main():
    env, args = ut.script_env()

    def setup(name, count, size):
        rng = random.Random(name)
        files = [(f"data/p{i}.bin", rng.randbytes(size)) for i in range(count)]
        _, rel = ut.release(env, "rel-" + name, files)
        game = os.path.join(env.work, "game-" + name)
        shutil.rmtree(game, ignore_errors=True)
        return rel, os.path.join(rel, "www"), game

    def installed(rel, game, run):
        ut.check(run.rc == 0 and ut.same_tree(os.path.join(rel, "src"), game) is None, f"{run}")

    def case_FastestServesMostAndADeadMirrorIsLeftAtOnce():
        rel, www, game = setup("fastest", 6, 3 * MIB)
        slow = env.nginx(www, "fastest-slow", rate="256k")
        fast = env.nginx(www, "fastest-fast")
        dead = f"http://127.0.0.1:{free_port()}"
        write_config(www, slow.url(), [dead, fast.url()])
        run = env.update(game, slow.url() + "/config.xml", "--connections", "4",
                         "--segment-mb", "1", timeout=300)
        installed(rel, game, run)
        ut.check(len(left_lines(run, dead)) == 1 and "Tekrar denenecek" not in run.log,
                 f"the dead mirror was not left at its first failure\n{run}")
        served = lz_bytes(fast), lz_bytes(slow)
        ut.check(served[0] >= 0.7 * sum(served), f"fast, slow mirror served {served}\n{run}")
        ut.check(re.search(r"Ayna " + re.escape(fast.url()) + r"/: [\d,]+ MB", run.log),
                 f"no bytes per mirror in the log\n{run}")

    def case_DamagedBytesLeaveTheirMirror():
        rel, www, game = setup("damaged", 4, 2 * MIB)
        bad = os.path.join(env.work, "www-damaged-copy")
        shutil.rmtree(bad, ignore_errors=True)
        shutil.copytree(www, bad)
        for name in os.listdir(os.path.join(bad, "data")):
            path = os.path.join(bad, "data", name)
            data = bytearray(open(path, "rb").read())
            for at in range(len(data) // 3, len(data), 4096):  # same size, other bytes
                data[at] ^= 0x5A
            open(path, "wb").write(bytes(data))
        good = env.nginx(www, "damaged-good", rate="512k")
        damaged = env.nginx(bad, "damaged-bad")
        write_config(www, good.url(), [damaged.url()])
        run = env.update(game, good.url() + "/config.xml", "--connections", "4",
                         "--segment-mb", "1", timeout=300)
        installed(rel, game, run)
        ut.check(lz_bytes(damaged) > 0 and len(left_lines(run, damaged.url())) == 1,
                 f"the mirror with damaged bytes was not left\n{run}")
        # The release tool names each damaged object of the mirror, and passes the sound one.
        runner = [] if ut.NATIVE else [ut.WINE_RUN]
        source, sound = env.nginx(www, "damaged-source"), env.nginx(www, "damaged-sound")
        for mirror, files in ((damaged.url(), 4), (sound.url(), 0)):
            done = subprocess.run([*runner, args.publish, "verify", source.url() + "/", "--mirror",
                                   mirror + "/"], capture_output=True, text=True, timeout=120)
            bad = [l for l in done.stdout.splitlines() if l.startswith(f"BAD mirror {mirror}/")]
            ut.check(len(bad) == files and done.returncode == (1 if files else 0),
                     f"verify --mirror {mirror}: rc {done.returncode}\n{done.stdout}{done.stderr}")

    def case_AMirrorKilledMidRunHandsItsWorkOn():
        rel, www, game = setup("killed", 8, 2 * MIB)
        slow = env.nginx(www, "killed-slow", rate="256k")
        fast = env.nginx(www, "killed-fast", rate="512k")
        write_config(www, slow.url(), [fast.url()])
        proc = ut.start_update(env, game, slow.url() + "/config.xml", "--connections", "4",
                               "--segment-mb", "1")
        try:
            ut.check(ut.wait_for(lambda: len(ut.access_lines(fast.access_log, ".lz")) >= 2, 60),
                     "the fast mirror served nothing")
            fast.proc.kill()  # no goodbye: its open transfers break off
            fast.proc.wait()
            out, _ = proc.communicate(timeout=300)
        finally:
            if proc.poll() is None:
                ut.kill_run(proc)
        run = ut.Run(proc.returncode, out, game)
        installed(rel, game, run)
        ut.check(len(left_lines(run, fast.url())) == 1, f"the killed mirror was not left\n{run}")

    cases = [case_FastestServesMostAndADeadMirrorIsLeftAtOnce, case_DamagedBytesLeaveTheirMirror,
             case_AMirrorKilledMidRunHandsItsWorkOn]
    try:
        return run_cases("update_mirrors", "UpdateMirrors", cases, only=args.only,
                         expected=(ut.Failure,))
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
