#!/usr/bin/python3
"""The self-update rule when the configuration and the file list name two builds, with real
update runs of the host build's svupdate against nginx.

The "patcher" is a stand-in script that svupdate names with --program, built as X or Y (told
apart by their tag). Started by a self-update ("--sv-updated") it records its tag in
started.txt and runs svupdate again as the new patcher would, with --sv-updated, until six
generations have run; started with "--sv-swap" it hands the swap to svupdate's helper role, as
the patcher does. Without the rule, X took Y from the configuration and Y took X from the list
for ever.

  self_update_loop_test.py --native --svupdate EXE --work DIR [--only NAME]"""
import os
import shutil
import stat
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import update_test as ut  # noqa: E402
from update_test import check, make_release, release  # noqa: E402
from gtest_results import run_cases  # noqa: E402

GENERATIONS = 6
STAND_IN = r'''#!/usr/bin/python3
# Sarvik stand-in, build {tag}
import os
import subprocess
import sys

SVUPDATE = {svupdate!r}
CONFIG = {config!r}
args = sys.argv[1:]
if args[:1] == ["--sv-swap"]:
    # The swap helper is the patcher's own role; svupdate runs the same code.
    os.execv(SVUPDATE, [SVUPDATE] + args)
if "--sv-updated" in args:
    game = os.getcwd()
    record = os.path.join(game, "started.txt")
    with open(record, "a") as f:
        f.write("{tag}\n")
    n = len(open(record).read().split())
    if n < {generations}:
        cmd = [SVUPDATE, "--folder", game, "--config", CONFIG,
               "--program", os.path.join(game, "Sarvik.exe")]
        if not os.environ.get("SV_LOOP_OLD_SVUPDATE"):
            cmd.append("--sv-updated")
        out = subprocess.run(cmd, capture_output=True, text=True)
        result = "SELF_UPDATED" if "SELF_UPDATED" in out.stdout else "stayed"
        with open(os.path.join(game, "runs.txt"), "a") as f:
            f.write(f"{{n}} {tag} rc={{out.returncode}} {{result}}\n")
        log = os.path.join(game, "temp", "Sarvik.log")
        if os.path.exists(log):
            shutil_copy = open(log, "rb").read()
            open(os.path.join(game, f"log-{{n}}.txt"), "wb").write(shutil_copy)
'''

env = None
args = None


def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def put(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


class Setup:
    """nginx serving a release with game.dat; X and Y stand-ins; config names Y, crclist X."""

    def __init__(self, name, config_names="Y", list_names="X"):
        self.listing, self.rel = release(env, "rel-" + name, [("game.dat", 3000)])
        self.www = os.path.join(self.rel, "www")
        self.server = env.nginx(self.www, name)
        self.base = self.server.url()
        self.config = self.base + "/config.xml"
        self.game = os.path.join(env.work, "game-" + name)
        shutil.rmtree(self.game, ignore_errors=True)
        os.makedirs(self.game)
        self.builds = {tag: self.stand_in(tag) for tag in ("X", "Y")}
        attrs = ""
        if config_names:
            data = self.builds[config_names]
            put(os.path.join(self.www, "patcher", "Sarvik.exe"), data)
            attrs = (f' sv_patcher_url="{self.base}/patcher/Sarvik.exe"'
                     f' sv_patcher_crc32="{crc(data):08X}"')
        put(os.path.join(self.www, "config.xml"),
            f'<torrent_config run_path="game.exe"{attrs}></torrent_config>\n'.encode())
        if list_names:
            data = self.builds[list_names]
            lines = open(os.path.join(self.www, "crclist")).read()
            put(os.path.join(self.www, "crclist"),
                (lines + f"{crc(data):08x} {len(data)} Sarvik.exe\n").encode())
            put(os.path.join(self.www, "Sarvik.exe.lz"), make_release.lz_file(data))
        self.program = os.path.join(self.game, "Sarvik.exe")

    def stand_in(self, tag):
        return STAND_IN.format(tag=tag, svupdate=os.path.abspath(args.svupdate), config=self.config,
                               generations=GENERATIONS).encode()

    def install(self, tag):
        put(self.program, self.builds[tag])
        os.chmod(self.program, 0o755)

    def run(self, *extra):
        return env.update(self.game, self.config, "--program", self.program, *extra)

    def which(self):
        data = open(self.program, "rb").read() if os.path.exists(self.program) else None
        return next((t for t, b in self.builds.items() if b == data), None)

    def generations(self):
        """The tags of the patchers a self-update started, once the chain has come to rest."""
        path = os.path.join(self.game, "started.txt")
        last, still = None, 0
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline and still < 15:
            now = open(path).read() if os.path.exists(path) else ""
            runs = os.path.join(self.game, "runs.txt")
            done = open(runs).read() if os.path.exists(runs) else ""
            state = (now, done)
            still = still + 1 if state == last else 0
            last = state
            time.sleep(0.2)
        return last[0].split()

    def log_of(self, generation):
        path = os.path.join(self.game, f"log-{generation}.txt")
        return open(path, encoding="utf-8", errors="replace").read() if os.path.exists(path) else ""


CONFLICT = "Kendini guncelleme: yapilandirma patcher icin {y}, dosya listesi {x} diyor; " \
           "yapilandirmadaki gecerli, listedeki kurulmaz."


def case_configuration_and_list_naming_two_builds_settle_on_the_configurations():
    s = Setup("loop")
    s.install("X")
    x, y = f"{crc(s.builds['X']):08x}", f"{crc(s.builds['Y']):08x}"
    first = s.run()
    check(first.rc == 0 and "SELF_UPDATED" in first.out, f"X did not take Y\n{first}")
    started = s.generations()
    runs = open(os.path.join(s.game, "runs.txt")).read() if os.path.exists(
        os.path.join(s.game, "runs.txt")) else ""
    # Before the rule: X, Y, X, Y, ... until the stand-ins stopped at six generations.
    check(started == ["Y"], f"the self-update did not stop after one step: {started}\n{runs}")
    check(s.which() == "Y", f"the program file is {s.which()}, not Y")
    log = s.log_of(1)
    check(log.count(CONFLICT.format(x=x, y=y)) == 1, f"the conflict is not logged once\n{log}")
    check("Patcher guncellemesi var" not in log, f"Y tried to update itself\n{log}")
    check(ut.tree(s.game).get("game.dat") is not None, "Y did not work through the lists")

    # The next start by the player (no --sv-updated): Y stays, the list's X is not installed.
    again = s.run()
    check(again.rc == 0 and "RESULT ok" in again.out and "SELF_UPDATED" not in again.out,
          f"{again}")
    check(s.which() == "Y", f"the program file is {s.which()} after a plain start")
    check(again.log.count(CONFLICT.format(x=x, y=y)) == 1, f"conflict not logged once\n{again}")


def case_the_configurations_build_never_takes_the_lists():
    s = Setup("from-y")
    s.install("Y")
    run = s.run()
    check(run.rc == 0 and "RESULT ok" in run.out and "SELF_UPDATED" not in run.out, f"{run}")
    check(s.which() == "Y", f"Y was replaced by {s.which()}")
    time.sleep(1)
    check(not os.path.exists(os.path.join(s.game, "started.txt")), "a patcher was started")


def case_the_list_alone_still_updates_the_patcher():
    s = Setup("list-only", config_names=None, list_names="Y")
    s.install("X")
    run = s.run()
    check(run.rc == 0 and "SELF_UPDATED" in run.out, f"X did not take Y from the list\n{run}")
    check(s.generations() == ["Y"], "the list route did not start Y once")
    check(s.which() == "Y", f"the program file is {s.which()}")


def case_a_patcher_started_by_a_self_update_takes_no_other_build_in_that_run():
    s = Setup("updated", config_names="Y", list_names=None)
    s.install("X")
    y = f"{crc(s.builds['Y']):08x}"
    run = s.run("--sv-updated")
    check(run.rc == 0 and "RESULT ok" in run.out and "SELF_UPDATED" not in run.out, f"{run}")
    check(s.which() == "X", "the program file changed")
    check("Kendini guncelleme: bu calisma bir kendini guncellemeden sonra basladi; "
          f"{y} bu calismada alinmadi (dongu olmasin diye)." in run.log, f"{run}")
    check(not s.server_requests("patcher/Sarvik.exe"), "the new build was fetched")


def server_requests(self, needle):
    return ut.access_lines(self.server.access_log, needle)


Setup.server_requests = server_requests

CASES = [case_configuration_and_list_naming_two_builds_settle_on_the_configurations,
         case_the_configurations_build_never_takes_the_lists,
         case_the_list_alone_still_updates_the_patcher,
         case_a_patcher_started_by_a_self_update_takes_no_other_build_in_that_run]


def main():
    global env, args
    env, args = ut.script_env()
    if not ut.NATIVE:
        print("the stand-in patcher is a host script: run with --native")
        return 2
    try:
        return run_cases("update_selfupdate_loop", "SelfUpdateLoop", CASES, args.only,
                         ut.Failure, None)
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
