#!/usr/bin/python3
"""The bandwidth limit against nginx: the configuration's sv_max_kbps and the builder's value
(svupdate --max-kbps) pace every byte of a run, the new patcher's included, and the speed the
window shows is the paced one.

  rate_limit_test.py [--native] --svupdate EXE --work DIR [--only NAME]

Timing checks are one-sided where a slow machine could make a run slower: a run may not finish
faster than its limit allows, nor take more than twice as long."""
import os
import random
import shutil
import re
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import update_test as ut  # noqa: E402
from gtest_results import run_cases  # noqa: E402

MIB = 1 << 20
KIB = 1024
SPEED = re.compile(r"(\d+),(\d) (KB|MB)/sn$")


def random_bytes(n, seed):
    return random.Random(seed).randbytes(n)


def served_bytes(www):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(www) for f in fs)


def shown_speeds(run):
    """Bytes per second of every speed the status lines showed."""
    speeds = []
    for line in run.lines:
        m = SPEED.search(line) if line.startswith("STATUS ") else None
        if m:
            value = int(m.group(1)) + int(m.group(2)) / 10
            speeds.append(value * (KIB if m.group(3) == "KB" else MIB))
    return speeds


def timed_update(env, game, config, *extra):
    start = time.monotonic()
    run = env.update(game, config, *extra, timeout=300)
    return run, time.monotonic() - start


def check_paced(run, seconds, size, kbps):
    least = size / (kbps * KIB)
    ut.check(seconds >= 0.9 * least,
             f"{size} bytes in {seconds:.1f} s, faster than {kbps} KB/s allows ({least:.1f} s)\n{run}")
    ut.check(seconds <= 2 * least + 5, f"{size} bytes took {seconds:.1f} s at {kbps} KB/s\n{run}")


def main():
    env, args = ut.script_env()

    def setup(name, files, attrs):
        _, rel = ut.release(env, "rel-" + name, files, config_attrs=attrs)
        www = os.path.join(rel, "www")
        server = env.nginx(www, name)
        game = os.path.join(env.work, "game-" + name)
        shutil.rmtree(game, ignore_errors=True)
        return rel, www, server, game

    def case_ConfigurationLimitPacesEveryConnectionTogether():
        files = [("a.bin", random_bytes(3 * MIB, 1)), ("b/c.bin", random_bytes(2 * MIB + 5, 2))]
        rel, www, server, game = setup("config-limit", files, ' sv_max_kbps="1024"')
        run, seconds = timed_update(env, game, server.url() + "/config.xml", "--connections", "4",
                                    "--segment-mb", "1")
        ut.check(run.rc == 0 and ut.same_tree(os.path.join(rel, "src"), game) is None, f"{run}")
        ut.check("Hiz siniri: 1024 KB/sn" in run.log, f"no limit in the log\n{run}")
        check_paced(run, seconds, served_bytes(www), 1024)
        # The window shows the paced speed, not the speed of one burst.
        speeds = shown_speeds(run)
        ut.check(speeds, f"no speed shown\n{run}")
        late = sorted(speeds[len(speeds) // 3:])
        median = late[len(late) // 2]
        ut.check(0.75 * MIB <= median <= 1.25 * MIB and max(speeds) <= 1.5 * MIB,
                 f"speeds shown {speeds}\n{run}")

    def case_ConfigurationCannotRaiseTheBuildersLimit():
        files = [("a.bin", random_bytes(2 * MIB, 3))]
        rel, www, server, game = setup("builder-limit", files, ' sv_max_kbps="8192"')
        run, seconds = timed_update(env, game, server.url() + "/config.xml", "--max-kbps", "512")
        ut.check(run.rc == 0 and ut.same_tree(os.path.join(rel, "src"), game) is None, f"{run}")
        ut.check("Hiz siniri: 512 KB/sn" in run.log and "8192 KB/sn" not in run.log,
                 f"log\n{run}")
        check_paced(run, seconds, served_bytes(www), 512)

    def case_NewPatcherIsPacedToo():
        # Announced with another CRC: the whole file is fetched, then refused, so the swap (tested
        # on its own) never replaces this test's program.
        patcher = random_bytes(2 * MIB, 4)
        crc = (zlib.crc32(patcher) & 0xFFFFFFFF) ^ 1
        _, rel = ut.release(env, "rel-self", [("a.bin", 1000)])
        www = os.path.join(rel, "www")
        server = env.nginx(www, "self")
        with open(os.path.join(www, "patcher.bin"), "wb") as f:
            f.write(patcher)
        with open(os.path.join(www, "config.xml"), "w") as f:
            f.write(f'<torrent_config run_path="game.exe" sv_max_kbps="512" '
                    f'sv_patcher_url="{server.url()}/patcher.bin" sv_patcher_crc32="{crc:08x}">'
                    f'</torrent_config>\n')
        game = os.path.join(env.work, "game-self")
        shutil.rmtree(game, ignore_errors=True)
        run, seconds = timed_update(env, game, server.url() + "/config.xml")
        ut.check("Patcher guncellemesi var" in run.log and "Patcher CRC uyusmadi" in run.log,
                 f"no self-update\n{run}")
        fetched = ut.access_lines(server.access_log, "/patcher.bin")
        ut.check(fetched and fetched[-1].split()[-1] == str(len(patcher)),
                 f"the patcher was not fetched whole: {fetched}\n{run}")
        check_paced(run, seconds, len(patcher), 512)

    cases = [case_ConfigurationLimitPacesEveryConnectionTogether,
             case_ConfigurationCannotRaiseTheBuildersLimit, case_NewPatcherIsPacedToo]
    try:
        return run_cases("update_ratelimit", "UpdateRateLimit", cases, only=args.only,
                         expected=(ut.Failure,))
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
