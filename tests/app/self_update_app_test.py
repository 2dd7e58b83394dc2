#!/usr/bin/python3
"""The real patcher replacing itself under Wine + Xvfb, and its elevated closing role.

Two builds of the patcher are made with the builder's headless build from the sample skin, told
apart by their version resource (2.5 and 2.6). nginx serves a small published client and the
newer build, which the configuration names with sv_patcher_url and sv_patcher_crc32.

  self_update_app_test.py --sarvik EXE --builder EXE --probe EXE --holdfile EXE --publish EXE
                          --work DIR

Results go to $SV_RESULTS_DIR/self_update_app.xml in GoogleTest's format."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import nginx_server  # noqa: E402
import patcher_window as pw  # noqa: E402
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402

args = None
started = []
servers = []



def crc(data):
    return zlib.crc32(data) & 0xFFFFFFFF


def build_patcher(skin, config_url, version, out):
    pw.build_patcher(args.builder, args.sarvik, args.work, skin, config_url, out,
                     [("v_version", version)])
    return open(out, "rb").read()


class Release:
    """A published client, the two builds and the configuration naming the newer one."""

    def __init__(self, name, rate=None, served=None):
        self.root = os.path.join(args.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        client = os.path.join(self.root, "client")
        os.makedirs(client)
        with open(os.path.join(client, "readme.txt"), "wb") as f:
            f.write(b"Draskel Online\r\n" * 100)
        self.www = os.path.join(self.root, "www")
        pw.publish(args.publish, client, os.path.join(self.www, "patch"))
        self.server = nginx_server.Nginx(self.www, os.path.join(self.root, "nginx"), rate=rate).start()
        servers.append(self.server)
        base = self.server.url()
        config_url = base + "/patch/draskeltorrent.config.xml"
        skin = pw.make_skin(os.path.join(self.root, "skin"), config_url)
        builds = os.path.join(self.root, "builds")
        os.makedirs(builds)
        self.old = build_patcher(skin, config_url, "2.5", os.path.join(builds, "old", "Sarvik.exe"))
        self.new = build_patcher(skin, config_url, "2.6", os.path.join(builds, "new", "Sarvik.exe"))
        check(self.old != self.new, "the two builds are the same file")
        # The build the configuration names: the newer one, or what the case serves instead.
        self.served = self.new if served is None else served
        with open(os.path.join(self.www, "patch", "Sarvik.exe"), "wb") as f:
            f.write(self.served)
        pw.write_config(os.path.join(self.www, "patch"), base + "/patch/", run_path="readme.txt",
                        extra=f' sv_patcher_url="{base}/patch/Sarvik.exe"'
                              f' sv_patcher_crc32="{crc(self.served):08X}"')

    def game(self, name):
        game = os.path.join(self.root, name)
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        exe = os.path.join(game, "Sarvik.exe")
        with open(exe, "wb") as f:
            f.write(self.old)
        return game, exe


def probe(*probe_args, timeout=60):
    return subprocess.run([pw.WINE_RUN, args.probe, *probe_args], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def close_patcher_windows():
    """Asks every patcher window still open to close (the new patcher is not our child)."""
    while probe("main", "500", "close").returncode == 0:
        time.sleep(0.5)


def program(exe):
    return open(exe, "rb").read() if os.path.exists(exe) else None


def case_configuration_route_replaces_and_restarts():
    release = Release("route")
    game, exe = release.game("game")
    first = pw.start_patcher(exe)
    started.append(first)
    # The new patcher runs the update again from a fresh log and finds itself current.
    done = pw.wait_log(game, r"Tamamlandi\.", 120)
    log = pw.read_log(game)
    check(done is not None, "the new patcher did not finish a run\n" + log[-3000:])
    check(first.wait(timeout=30) == 0, "the old patcher did not end with 0")
    check(program(exe) == release.new, "the program file is not the new build")
    check("Patcher guncellemesi var" not in log, "the new patcher tried to update itself\n" + log)
    # The old patcher's log, which found the new build, is kept beside the new one's.
    previous = os.path.join(game, "temp", "Sarvik.log.1")
    check(os.path.exists(previous) and "Patcher guncellemesi var" in
          open(previous, encoding="utf-8", errors="replace").read(), "the self-update left no trace")
    # It was started with --sv-updated: it waited for the old one's lock instead of giving way.
    check(pw.window_rect("Draskel Online", timeout=30) is not None, "no window of the new patcher")
    old_in_temp = os.path.join(game, "temp", "Sarvik.exe.old")
    # Kept until the new patcher has loaded its skin and opened its window, then deleted.
    check(wait_gone(old_in_temp, 20), "the .old file was not deleted after the window opened")
    check(not os.path.exists(exe + ".old"), "an .old file beside the program")
    access = open(release.server.access_log).read()
    check(f"GET /patch/Sarvik.exe?v={crc(release.new):08x} " in access, "patcher not fetched")
    check(access.count("/patch/Sarvik.exe?") == 1, "the patcher was fetched twice\n" + access)
    close_patcher_windows()


def wait_gone(path, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not os.path.exists(path):
            return True
        time.sleep(0.2)
    return not os.path.exists(path)


def case_a_new_build_that_cannot_load_its_skin_gives_the_previous_one_back():
    # The operator publishes a patcher without a skin (the plain template): it starts, cannot
    # load its skin, and puts the previous build back, which runs again (once) and stays.
    template = open(args.sarvik, "rb").read()
    release = Release("rollback", served=template)
    game, exe = release.game("game")
    first = pw.start_patcher(exe)
    started.append(first)
    failed = os.path.join(game, "temp", "Sarvik.exe.failed")
    check(wait_gone_or(lambda: os.path.exists(failed), 90), "no build recorded as failed")
    check(open(failed).read().strip() == f"{crc(template):08x}", "another build recorded")
    # The previous build back in place, started with --sv-updated: a window and a finished run.
    done = pw.wait_log(game, r"Tamamlandi\.", 120)
    log = pw.read_log(game)
    check(done is not None, "the previous patcher did not finish a run\n" + log[-3000:])
    check(program(exe) == release.old, "the previous build is not the program file")
    check(pw.window_rect("Draskel Online", timeout=30) is not None, "no window of the patcher")
    check("bu calismada alinmadi" in log, "the restored patcher did not say it skipped a build\n"
          + log[-3000:])
    swap_log = os.path.join(game, "temp", "Sarvik.exe.swap.log")
    swap = open(swap_log, encoding="utf-8", errors="replace").read() if os.path.exists(swap_log) else ""
    check("Kendini guncelleme: " in swap or "yerine konuldu" in swap or "baslatildi" in swap,
          "the helper said nothing\n" + swap)
    close_patcher_windows()
    # The player's next start: the failed build is not fetched again.
    access_before = open(release.server.access_log).read().count("/patch/Sarvik.exe?")
    # The restored patcher is not our child: give it time to end and release the folder lock.
    time.sleep(3)
    os.remove(os.path.join(game, "temp", "Sarvik.log"))  # the next run's log, not this one's
    again = pw.start_patcher(exe)
    started.append(again)
    done = pw.wait_log(game, r"Tamamlandi\.", 120)
    log = pw.read_log(game)
    check(done is not None, "the next start did not finish a run\n" + log[-3000:])
    check(f"{crc(template):08x} bu klasorde daha once baslayamadi; alinmadi." in log, log[-3000:])
    check(open(release.server.access_log).read().count("/patch/Sarvik.exe?") == access_before,
          "the failed build was fetched again")
    check(program(exe) == release.old, "the program file changed")
    close_patcher_windows()


def wait_gone_or(cond, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if cond():
            return True
        time.sleep(0.3)
    return cond()


def case_killed_during_the_self_update_leaves_a_runnable_program():
    # Slow enough that the fetch of the new build (about 2 MB) spans about three seconds, so the
    # kills land before, during and after the fetch, the swap and the restart.
    release = Release("killed", rate="700k")
    game, exe = release.game("game")
    seen = set()
    for delay in [0.5 + 0.25 * i for i in range(16)]:
        if program(exe) == release.new:
            break
        proc = pw.start_patcher(exe)
        started.append(proc)
        time.sleep(delay)
        if proc.poll() is None:
            proc.kill()  # the Wine process of the patcher: as abrupt as kill -9
            proc.wait()
        time.sleep(0.3)
        data = program(exe)
        check(data in (release.old, release.new),
              f"after {delay} s the program file is {'missing' if data is None else 'neither build'}")
        seen.add("new" if data == release.new else "old")
        print(f"killed after {delay:.2f} s: {'new' if data == release.new else 'old'} build in place",
              flush=True)
        close_patcher_windows()
    # Whatever was left starts and ends with the new build in place.
    proc = pw.start_patcher(exe)
    started.append(proc)
    deadline = time.monotonic() + 120
    while time.monotonic() < deadline and not (program(exe) == release.new and
                                               "Tamamlandi." in pw.read_log(game)):
        time.sleep(0.3)
    check(program(exe) == release.new, f"the next start did not finish the update ({seen})")
    check(pw.wait_log(game, r"Tamamlandi\.", 60) is not None, "no run finished\n" + pw.read_log(game))
    close_patcher_windows()
    print(f"program file after the kills: {sorted(seen)}")


def hold_as(name, folder):
    """A copy of holdfile named `name` holding a file; returns (process, Windows pid, start)."""
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, name)
    shutil.copy(args.holdfile, exe)
    target = os.path.join(folder, name + ".dat")
    open(target, "wb").close()
    proc = subprocess.Popen([pw.WINE_RUN, exe, pw.win_path(target), "30000"], stdout=subprocess.PIPE,
                            stdin=subprocess.DEVNULL, stderr=subprocess.DEVNULL, text=True)
    started.append(proc)
    check(proc.stdout.readline().strip() == "HELD", f"{name} did not start")
    pid = proc.stdout.readline().split()
    start = proc.stdout.readline().split()
    check(start[:1] == ["START"], f"{name} did not say its start time: {start}")
    return proc, int(pid[1]), int(start[1])


def close_helper(exe, *pairs):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    result = subprocess.run([pw.WINE_RUN, exe, "--sv-close", *pairs], env=env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    return result.returncode


def case_close_helper_exit_codes():
    folder = os.path.join(args.work, "close-helper")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    exe = os.path.join(folder, "Sarvik.exe")
    shutil.copy(args.sarvik, exe)
    check(close_helper(exe) == 2, "without pairs")
    check(close_helper(exe, "4:0", "nonsense") == 2, "without a valid pair")

    indexer, indexer_pid, indexer_start = hold_as("SearchIndexer.exe", os.path.join(folder, "a"))
    check(close_helper(exe, f"{indexer_pid}:{indexer_start}") == 1,
          "a protected process was not refused")
    time.sleep(0.5)
    check(indexer.poll() is None, "the protected process was closed")

    game, game_pid, game_start = hold_as("game.exe", os.path.join(folder, "b"))
    # ":0" is a process whose start time nobody knew: refused, and the process stays.
    check(close_helper(exe, f"{game_pid}:0") == 2, "a pair without a start time was not refused")
    time.sleep(0.5)
    check(game.poll() is None, "a process was closed without its start time")
    check(close_helper(exe, "junk:1", f"{game_pid}:{game_start}") == 2,
          "a malformed pair did not give 2")
    game.wait(timeout=10)  # held for 30 s: it ended because it was closed

    # The pid of a process that started at another time is someone else's now: left alone.
    other, other_pid, _ = hold_as("other.exe", os.path.join(folder, "c"))
    check(close_helper(exe, f"{other_pid}:12345") == 0, "a stale pair did not count as gone")
    time.sleep(0.5)
    check(other.poll() is None, "a process with another start time was closed")
    check(not os.path.exists(os.path.join(folder, "temp")), "the helper role made a temp folder")


CASES = [case_configuration_route_replaces_and_restarts,
         case_a_new_build_that_cannot_load_its_skin_gives_the_previous_one_back,
         case_killed_during_the_self_update_leaves_a_runnable_program,
         case_close_helper_exit_codes]


def after_each():
    close_patcher_windows()
    stop_processes(started)


def main():
    global args
    parser = argparse.ArgumentParser()
    for name in ("sarvik", "builder", "probe", "holdfile", "publish", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check(os.environ.get("DISPLAY"), "these tests need an X display (source scripts/test-env)")
    try:
        return run_cases("self_update_app", "SelfUpdateApp", CASES, args.only, Failure, after_each)
    finally:
        for s in servers:
            s.stop()


if __name__ == "__main__":
    sys.exit(main())
