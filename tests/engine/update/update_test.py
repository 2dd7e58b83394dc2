#!/usr/bin/python3
"""Integration tests of the update engine: svupdate.exe runs real update runs under Wine against
nginx (and, for answers nginx never gives, release_server.py). Releases are made with an
independent LZO1X compressor (tests/support/make_release.py).

  update_test.py --group NAME [--native] --svupdate EXE --holdfile EXE --work DIR

--native runs the host build's svupdate directly (no Wine), with host paths; the cases that
depend on Windows alone are left out there.

Each group writes its cases to $SV_RESULTS_DIR/update_<group>.xml in GoogleTest's format."""
import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import traceback

SOURCE = os.environ.get("SV_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import make_release  # noqa: E402
import nginx_server  # noqa: E402
from gtest_results import SKIPPED, Failure, Skipped, check, write_results  # noqa: E402
from nginx_server import access_lines  # noqa: E402
from release_tree import game_files, same_tree, tree  # noqa: E402

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
HERE = os.path.dirname(os.path.abspath(__file__))
MIB = 1 << 20

# Texts of the built-in locale table the runs must show.
FINISHED = "Güncelleme tamamlandı!"
UP_TO_DATE = "Oyun güncel."


# Set by --native: svupdate is the host build's program, started directly with host paths.
NATIVE = False


def win(path):
    return os.path.abspath(path) if NATIVE else "Z:" + os.path.abspath(path)


def extended(path):
    """How the engine writes a full path it opens: the extended-length form on Windows."""
    return path if NATIVE else "\\\\?\\" + win(path).replace("/", "\\")


class Run:
    def __init__(self, rc, out, folder):
        self.rc = rc
        self.out = out
        self.lines = out.splitlines()
        log = os.path.join(folder, "temp", "Sarvik.log")
        self.log = open(log, encoding="utf-8", errors="replace").read() if os.path.exists(log) else ""

    def value(self, key):
        for line in self.lines:
            if line.startswith(key + " "):
                return line[len(key) + 1:]
        return None

    def __str__(self):
        return f"rc={self.rc}\n--- output\n{self.out[-3000:]}\n--- log\n{self.log[-4000:]}"


class Env:
    def __init__(self, args):
        self.svupdate = args.svupdate
        self.holdfile = args.holdfile
        self.work = os.path.abspath(args.work)
        self.servers = []

    def start(self, cmd, env=None):
        return subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                stdin=subprocess.DEVNULL, text=True, encoding="utf-8",
                                errors="replace", env=env)

    def svupdate_cmd(self, folder, config, *extra):
        runner = [] if NATIVE else [WINE_RUN]
        return [*runner, self.svupdate, "--folder", win(folder), "--config", config, *extra]

    def update(self, folder, config, *extra, timeout=600):
        os.makedirs(folder, exist_ok=True)
        proc = self.start(self.svupdate_cmd(folder, config, *extra))
        try:
            out, _ = proc.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            out, _ = proc.communicate()
            raise Failure("svupdate timed out\n" + out[-3000:])
        return Run(proc.returncode, out, folder)

    def nginx(self, root, name, rate=None, tls=None):
        work = os.path.join(self.work, "nginx-" + name)
        shutil.rmtree(work, ignore_errors=True)
        # A rate: slow enough to stop a run in the middle of a file.
        server = nginx_server.Nginx(root, work, tls=tls, rate=rate).start()
        self.servers.append(server)
        return server

    def release_server(self, root, name):
        return self.python_server(os.path.join(HERE, "release_server.py"), name, "--root", root)

    def fault_server(self, name):
        """tests/support/fault_server.py: (base URL, request log)."""
        return self.python_server(os.path.join(SOURCE, "tests", "support", "fault_server.py"), name)

    def python_server(self, script, name, *extra):
        log = os.path.join(self.work, name + ".log")
        proc = subprocess.Popen([sys.executable, script, *extra, "--log", log, "--time-limit", "900"],
                                stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)
        line = proc.stdout.readline().split()
        check(len(line) == 2 and line[0] == "PORT", f"{os.path.basename(script)} did not start")
        self.servers.append(proc)
        return f"http://127.0.0.1:{line[1]}", log

    def stop(self):
        for s in self.servers:
            if isinstance(s, subprocess.Popen):
                s.kill()
                s.wait()
            else:
                s.stop()


def release(env, name, files, seed=1, config_attrs="", level=1):
    out = os.path.join(env.work, name)
    shutil.rmtree(out, ignore_errors=True)
    return make_release.make(out, files, seed, config_attrs, level), out


def requested_ranges(lines):
    """(first, last) of every "bytes=a-b" in access-log lines."""
    found = []
    for l in lines:
        m = re.search(r'"bytes=(\d+)-(\d+)"', l)
        if m:
            found.append((int(m.group(1)), int(m.group(2))))
    return found


def wait_lines(path, needle, count, timeout=20):
    """The lines of a server log holding `needle`, once there are `count` of them (or the time
    is up): servers write some lines only after the client has gone."""
    lines = lambda: [l for l in open(path) if needle in l]  # noqa: E731
    wait_for(lambda: len(lines()) >= count, timeout, step=0.1)
    return lines()


def wait_for(cond, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if cond():
            return True
        time.sleep(step)
    return False


def sizes_of(folder):
    """Relative path -> size of every file outside the work folder, without reading contents."""
    result = {}
    for rel, full in game_files(folder):
        try:
            result[rel] = os.path.getsize(full)
        except OSError:
            pass  # moved away between listing and asking
    return result


def kill_run(proc):
    """kill -9 of the Wine process that runs svupdate.exe (wine-run execs into it)."""
    os.kill(proc.pid, signal.SIGKILL)
    proc.wait()
    # The Windows process is gone once wineserver has noticed; give it a moment.
    time.sleep(0.3)


def script_env():
    """For a test script of its own beside the groups: parses --svupdate, --work and --only and
    returns (Env, arguments)."""
    global NATIVE
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--only")
    ap.add_argument("--native", action="store_true")
    ap.add_argument("--trust-ca", help="the Windows tool that trusts a test CA in the prefix")
    ap.add_argument("--publish", help="the release tool, for the scripts that call it")
    args = ap.parse_args()
    NATIVE = args.native
    env = Env(argparse.Namespace(svupdate=args.svupdate, holdfile=None, work=args.work))
    os.makedirs(env.work, exist_ok=True)
    return env, args


# ---------------------------------------------------------------- groups

INSTALL_FILES = [("sub/dir/small.bin", 1000), ("empty.bin", 0), ("sub/with space.txt", 300000),
                 ("many.bin", 9 * MIB + 12345), ("pack/big.bin", 101 * MIB + 7)]


def group_install(env, case):
    _, rel = release(env, "rel-install", INSTALL_FILES)
    server = env.nginx(os.path.join(rel, "www"), "install")
    config = server.url() + "/config.xml"
    last = None
    for connections in (1, 4, 8):
        for segment in (1, 4):
            with case(f"FreshInstall_{connections}conn_{segment}MiB"):
                game = os.path.join(env.work, f"game-{connections}-{segment}")
                shutil.rmtree(game, ignore_errors=True)
                run = env.update(game, config, "--connections", str(connections),
                                 "--segment-mb", str(segment))
                check(run.rc == 0 and run.value("RESULT") == "ok", f"run failed\n{run}")
                check(run.value("TEXT") == FINISHED, f"final text\n{run}")
                diff = same_tree(os.path.join(rel, "src"), game)
                check(diff is None, f"{diff}\n{run}")
                check(f"{connections} baglanti, parca {segment},0 MB" in run.log, f"log\n{run}")
                leftovers = [n for n in os.listdir(os.path.join(game, "temp")) if n.startswith("sv_")]
                check(not leftovers, f"work files left: {leftovers}")
                last = game

    with case("SecondRunTrustsCacheAndCleansWorkFolder"):
        # Same size and time stamp, other bytes: a run that read the file would replace it.
        target = os.path.join(last, "many.bin")
        st = os.stat(target)
        with open(target, "r+b") as f:
            f.seek(1000)
            f.write(b"changed behind the cache's back")
        os.utime(target, ns=(st.st_atime_ns, st.st_mtime_ns))
        stale = os.path.join(last, "temp", "sv_old#file.bin.part")
        with open(stale, "wb") as f:
            f.write(b"x" * 100)
        mark = os.path.getsize(server.access_log)
        run = env.update(last, config)
        check(run.rc == 0 and run.value("TEXT") == FINISHED, f"run failed\n{run}")
        check(run.value("CURRENT") == UP_TO_DATE, f"not up to date\n{run}")
        check("Kontrol: 5 dosyadan 0 tanesi guncellenecek" in run.log, f"log\n{run}")
        with open(target, "rb") as f:
            check(b"changed behind" in f.read(), "the trusted file was read and replaced")
        check(not os.path.exists(stale), "stale sv_ file kept")
        with open(server.access_log) as f:
            f.seek(mark)
            later = f.read()
        check(".lz" not in later, f"files requested again:\n{later}")
        cache = open(os.path.join(last, "temp", "Sarvik.cache"), encoding="utf-8", newline="").read()
        check(cache.startswith("SVC1\r\n#run game.exe\r\n") and "pack\\big.bin" in cache,
              f"cache file:\n{cache[:500]}")


def start_update(env, game, config, *extra):
    os.makedirs(game, exist_ok=True)
    return env.start(env.svupdate_cmd(game, config, *extra))


def state_flags(path):
    try:
        fields = open(path).read().split()
    except OSError:
        return None
    return fields[5] if len(fields) == 6 else None


def group_resume(env, case):
    files = [("a.bin", 50000), ("data/large.bin", 40 * MIB + 3)]
    listing, rel = release(env, "rel-resume", files)
    # nginx lets a second's worth of each answer out at once: well below 1 MB/s, so that 1 MB
    # segments arrive over time and a run can be stopped between them.
    server = env.nginx(os.path.join(rel, "www"), "resume", rate="512k")
    config = server.url() + "/config.xml"
    game = os.path.join(env.work, "game-resume")
    shutil.rmtree(game, ignore_errors=True)
    state = os.path.join(game, "temp", "sv_data#large.bin.state")

    with case("KilledRunResumesWithMissingSegmentsOnly"):
        proc = start_update(env, game, config, "--connections", "2", "--segment-mb", "1")
        stored = lambda: (state_flags(state) or "").count("1") >= 4
        ok = wait_for(stored, 120)
        kill_run(proc)
        check(ok, "no segments were stored in time")
        flags = state_flags(state)
        check(flags and "0" in flags, f"state after kill: {flags}")
        done = flags.count("1")
        lz_size = os.path.getsize(os.path.join(rel, "www", "data", "large.bin.lz"))
        seg = MIB
        missing = {(i * seg, min((i + 1) * seg, lz_size) - 1) for i, c in enumerate(flags) if c != "1"}
        mark = len(access_lines(server.access_log, "large.bin.lz"))
        run = env.update(game, config, "--connections", "4", "--segment-mb", "4")
        check(run.rc == 0, f"resumed run failed\n{run}")
        check(f"Kaldigi yerden devam: data\\large.bin ({done}/{len(flags)} parca)" in run.log,
              f"no resume line for {done}/{len(flags)}\n{run}")
        later = access_lines(server.access_log, "large.bin.lz")[mark:]
        got = requested_ranges(later)
        # The segment size of a resumed file is the one it started with.
        check(sorted(got) == sorted(missing) and len(later) == len(missing),
              f"requested {sorted(got)}\nexpected {sorted(missing)}")
        diff = same_tree(os.path.join(rel, "src"), game)
        check(diff is None, diff)

    with case("StateOfAnotherVersionIsIgnored"):
        os.remove(os.path.join(game, "a.bin"))
        crc, size = listing["a.bin"]
        part = os.path.join(game, "temp", "sv_a.bin.part")
        with open(part, "wb") as f:
            f.write(b"\0" * 100)
        with open(os.path.join(game, "temp", "sv_a.bin.state"), "w") as f:
            f.write(f"SVS1 {crc ^ 1:08x} {size} 200 100 11")
        mark = len(access_lines(server.access_log, "/a.bin.lz"))
        run = env.update(game, config)
        check(run.rc == 0, f"run failed\n{run}")
        check("Kaldigi yerden devam" not in run.log, f"a foreign state was trusted\n{run}")
        later = access_lines(server.access_log, "/a.bin.lz")[mark:]
        check(len(later) == 1 and '"bytes=0-' in later[0], f"requests: {later}")
        check(same_tree(os.path.join(rel, "src"), game) is None, "tree differs")

    with case("RepublishedAtAnotherLevelStartsTheFileAfresh"):
        # Same content, same CRC and size in the list, another compressed stream: the stored
        # segments belong to the old stream and must not be resumed, in this run or any later.
        big = [("data/republished.bin", 40 * MIB + 9)]
        _, rel_a = release(env, "rel-republish-1", big, level=1)
        _, rel_b = release(env, "rel-republish-9", big, level=9)
        lz = os.path.join("data", "republished.bin.lz")
        size_a = os.path.getsize(os.path.join(rel_a, "www", lz))
        size_b = os.path.getsize(os.path.join(rel_b, "www", lz))
        check(size_a != size_b, "both levels made the same size")
        served = os.path.join(env.work, "www-republish")
        shutil.rmtree(served, ignore_errors=True)
        shutil.copytree(os.path.join(rel_a, "www"), served)
        srv = env.nginx(served, "republish", rate="512k")
        game_r = os.path.join(env.work, "game-republish")
        shutil.rmtree(game_r, ignore_errors=True)
        state_r = os.path.join(game_r, "temp", "sv_data#republished.bin.state")
        proc = start_update(env, game_r, srv.url() + "/config.xml", "--connections", "2",
                            "--segment-mb", "1")
        ok = wait_for(lambda: (state_flags(state_r) or "").count("1") >= 4, 120)
        kill_run(proc)
        check(ok, "no segments were stored in time")
        shutil.copyfile(os.path.join(rel_b, "www", lz), os.path.join(served, lz))
        run = env.update(game_r, srv.url() + "/config.xml", "--segment-mb", "1", timeout=300)
        check(run.rc == 0, f"run after republishing failed\n{run}")
        check("bastan indirilecek" in run.log, f"no fresh start\n{run}")
        check(same_tree(os.path.join(rel_b, "src"), game_r) is None, "tree differs")
        run = env.update(game_r, srv.url() + "/config.xml")
        check(run.rc == 0 and run.value("CURRENT") == UP_TO_DATE, f"next run\n{run}")

    with case("ShutdownDuringDownloadEndsWithinLimit"):
        other = os.path.join(env.work, "game-shutdown")
        shutil.rmtree(other, ignore_errors=True)
        run = env.update(other, config, "--connections", "4", "--shutdown-after-ms", "1000")
        m = re.search(r"^SHUTDOWN (\d+) ms (\w+)$", run.out, re.M)
        check(m is not None, f"no shutdown\n{run}")
        check(int(m.group(1)) <= 1500 and m.group(2) == "ended", f"shutdown took\n{run}")
        check(run.value("RESULT") == "shutdown" and "DONE after shutdown" not in run.out,
              f"done posted after shutdown\n{run}")
        # What it left behind is resumable.
        run = env.update(other, config)
        check(run.rc == 0 and same_tree(os.path.join(rel, "src"), other) is None, f"{run}")


def group_atomic(env, case):
    files = [("x.bin", 3 * MIB + 11), ("d/y.bin", 12 * MIB + 5), ("d/z.bin", 70000)]
    old, rel_old = release(env, "rel-old", files, seed=1)
    new, rel_new = release(env, "rel-new", [(p, s + 1000) for p, s in files], seed=2)
    srv_old = env.nginx(os.path.join(rel_old, "www"), "old")
    srv_new = env.nginx(os.path.join(rel_new, "www"), "new", rate="8m")
    game = os.path.join(env.work, "game-atomic")
    shutil.rmtree(game, ignore_errors=True)
    old_tree = tree(os.path.join(rel_old, "src"))
    new_tree = tree(os.path.join(rel_new, "src"))

    with case("KillAtManyPointsNeverLeavesAHalfFile"):
        run = env.update(game, srv_old.url() + "/config.xml")
        check(run.rc == 0, f"install of the old release failed\n{run}")
        start = time.monotonic()
        run = env.update(os.path.join(env.work, "game-atomic-timing"),
                         srv_new.url() + "/config.xml", "--connections", "2")
        duration = time.monotonic() - start
        check(run.rc == 0, f"timing run failed\n{run}")
        mixed = 0
        for i in range(14):
            delay = 0.4 + (duration - 0.4) * i / 13.0
            proc = start_update(env, game, srv_new.url() + "/config.xml", "--connections", "2")
            time.sleep(delay)
            kill_run(proc)
            now = tree(game)
            for path, data in now.items():
                check(data == old_tree.get(path) or data == new_tree.get(path),
                      f"kill after {delay:.2f}s left {path} neither old nor new")
            check(now.keys() == old_tree.keys(), f"files missing after kill: {now.keys()}")
            if any(now[p] == new_tree[p] for p in now) and any(now[p] == old_tree[p] for p in now):
                mixed += 1
        # On a loaded machine the clock-based points can all miss the install phase: aim a kill
        # at it by watching the folder for the first new file (sizes differ between releases).
        for _ in range(3):
            if mixed:
                break
            run = env.update(game, srv_old.url() + "/config.xml")
            check(run.rc == 0, f"reinstall of the old release failed\n{run}")
            proc = start_update(env, game, srv_new.url() + "/config.xml", "--connections", "2")
            deadline = time.monotonic() + 120
            while proc.poll() is None and time.monotonic() < deadline:
                if any(sizes_of(game).get(p) == len(new_tree[p]) for p in new_tree):
                    break
                time.sleep(0.005)
            kill_run(proc)
            now = tree(game)
            for path, data in now.items():
                check(data == old_tree.get(path) or data == new_tree.get(path),
                      f"aimed kill left {path} neither old nor new")
            if any(now[p] == new_tree[p] for p in now) and any(now[p] == old_tree[p] for p in now):
                mixed += 1
        run = env.update(game, srv_new.url() + "/config.xml")
        check(run.rc == 0, f"final run failed\n{run}")
        check(same_tree(os.path.join(rel_new, "src"), game) is None, "final tree differs")
        # Some kills must have landed between two installed files, or the points were useless.
        check(mixed > 0, "no kill landed between the first and the last installed file")


def group_faults(env, case):
    files = [("one.bin", 6 * MIB + 100), ("two/two.bin", 600000)]
    listing, rel = release(env, "rel-faults", files)
    www = os.path.join(rel, "www")
    url, log = env.release_server(www, "release-server")

    with case("ServerIgnoringRangesDeliversWholeFiles"):
        game = os.path.join(env.work, "game-norange")
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, url + "/norange/config.xml", "--segment-mb", "1")
        check(run.rc == 0, f"run failed\n{run}")
        check(same_tree(os.path.join(rel, "src"), game) is None, "tree differs")
        lines = [l for l in open(log) if l.startswith("/norange/") and ".lz" in l]
        check(len(lines) == 2 and all(l.split()[-1] == "200" for l in lines), f"{lines}")

    # The segment's five attempts are slow; the oversized body, refused at once, runs beside it.
    bad = os.path.join(env.work, "rel-oversize")
    shutil.rmtree(bad, ignore_errors=True)
    shutil.copytree(www, os.path.join(bad, "www"))
    crc, size = listing["one.bin"]
    with open(os.path.join(bad, "www", "crclist"), "w") as f:
        # Ten bytes cannot come from a 2 MiB ".lz": the body must not be taken.
        f.write(f"{crc:08x} 10 one.bin\n")
    srv_bad = env.nginx(os.path.join(bad, "www"), "oversize")

    # A lying Content-Range fails its segment five times too: it runs beside them.
    game3 = os.path.join(env.work, "game-liar")
    shutil.rmtree(game3, ignore_errors=True)
    os.makedirs(os.path.join(game3, "two"))
    old_two = b"the player's two.bin before the update"
    with open(os.path.join(game3, "two", "two.bin"), "wb") as f:
        f.write(old_two)
    p3 = start_update(env, game3, url + "/liar/config.xml", "--segment-mb", "1")

    with case("SegmentAnsweredWith200FailsAfterFiveAttempts"):
        game = os.path.join(env.work, "game-seg200")
        game2 = os.path.join(env.work, "game-oversize")
        for g in (game, game2):
            shutil.rmtree(g, ignore_errors=True)
        p1 = start_update(env, game, url + "/seg200/config.xml", "--segment-mb", "1")
        p2 = start_update(env, game2, srv_bad.url() + "/config.xml")
        out1, _ = p1.communicate(timeout=300)
        out2, _ = p2.communicate(timeout=300)
        run = Run(p1.returncode, out1, game)
        check(run.rc == 1, f"run did not fail\n{run}")
        check("parçalı indirme yanıtı hatalı (HTTP 200)" in run.value("ERROR"), f"{run}")
        stamps = [l[:12] for l in run.log.splitlines()
                  if "Tekrar denenecek" in l or "HATA:" in l]
        check(len(stamps) == 5, f"failures: {stamps}\n{run}")
        secs = [int(s[0:2]) * 3600 + int(s[3:5]) * 60 + float(s[6:12]) for s in stamps]
        gaps = [b - a for a, b in zip(secs, secs[1:])]
        # After each failed attempt the item waits 2, 4, 8, then 16 s in the queue.
        for gap, want in zip(gaps, (2, 4, 8, 16)):
            check(want - 0.1 <= gap <= want + 1.5, f"retry gaps {gaps}")
        ranged = [l for l in open(log) if l.startswith("/seg200/one.bin.lz") and "bytes=1048576-" in l]
        check(len(ranged) == 5, f"segment 1 requested {len(ranged)} times")

        run2 = Run(p2.returncode, out2, game2)
        check(run2.rc == 1 and "beklenenden büyük" in (run2.value("ERROR") or ""), f"{run2}")
        # Asked for the 81 bytes ten bytes can take, and refused at the first answer.
        asked = access_lines(srv_bad.access_log, "one.bin.lz")
        check(requested_ranges(asked) == [(0, 80)], f"requests: {asked}")
        check(not os.path.exists(os.path.join(game2, "one.bin")), "oversized body installed")

    with case("LyingContentRangeFailsTheSegmentAndKeepsTheOldFiles"):
        out3, _ = p3.communicate(timeout=300)
        run = Run(p3.returncode, out3, game3)
        check(run.rc == 1 and run.value("ERROR") == "Dosyanın indirilmesi başarısız oldu.|"
              "one.bin: parçalı indirme yanıtı hatalı (HTTP 206)", f"{run}")
        lied = [l for l in open(log) if l.startswith("/liar/one.bin.lz") and "bytes=1048576-" in l]
        check(len(lied) == 5, f"segment 1 requested {len(lied)} times")
        check(not os.path.exists(os.path.join(game3, "one.bin")), "a file of lying ranges installed")
        with open(os.path.join(game3, "two", "two.bin"), "rb") as f:
            data = f.read()
        # two.bin is small enough to come whole in its first answer, which does not lie.
        check(data in (old_two, tree(os.path.join(rel, "src"))["two/two.bin"]), "two.bin damaged")

    with case("CrcMismatchRedownloadsOnceThenFails"):
        mism = os.path.join(env.work, "rel-crc")
        shutil.rmtree(mism, ignore_errors=True)
        shutil.copytree(www, os.path.join(mism, "www"))
        crc2, size2 = listing["two/two.bin"]
        with open(os.path.join(mism, "www", "crclist"), "w") as f:
            f.write(f"{crc:08x} {size} one.bin\n{crc2 ^ 0x10:08x} {size2} two/two.bin\n")
        srv = env.nginx(os.path.join(mism, "www"), "crc")
        game = os.path.join(env.work, "game-crc")
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, srv.url() + "/config.xml")
        check(run.rc == 1, f"{run}")
        check(run.log.count("CRC uyusmadi: two\\two.bin") == 2, f"{run}")
        check(run.log.count("Yeniden indirilecek: two\\two.bin") == 1, f"{run}")
        reqs = access_lines(srv.access_log, "two.bin.lz")
        check(len(reqs) == 2 and "r=" not in reqs[0] and "&r=" in reqs[1], f"{reqs}")
        check(run.value("ERROR") == "İndirilen dosya doğrulanamadı: two\\two.bin", f"{run}")
        check(not os.path.exists(os.path.join(game, "two", "two.bin")), "bad file installed")
        check(os.path.exists(os.path.join(game, "one.bin")), "good file not installed")

    with case("DamagedStreamRedownloadedThenReported"):
        dmg = os.path.join(env.work, "rel-damaged")
        shutil.rmtree(dmg, ignore_errors=True)
        shutil.copytree(www, os.path.join(dmg, "www"))
        p = os.path.join(dmg, "www", "two", "two.bin.lz")
        data = bytearray(open(p, "rb").read())
        del data[len(data) // 2:]  # cut in the middle
        open(p, "wb").write(bytes(data))
        srv = env.nginx(os.path.join(dmg, "www"), "damaged")
        game = os.path.join(env.work, "game-damaged")
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, srv.url() + "/config.xml")
        check(run.rc == 1, f"{run}")
        check(run.log.count("Yeniden indirilecek: two\\two.bin") == 1, f"{run}")
        check(run.value("ERROR").startswith("Veri açılamıyor.|two\\two.bin: LZ"), f"{run}")
        check(len(access_lines(srv.access_log, "two.bin.lz")) == 2, "not downloaded twice")

    with case("ListLargerThanDiskFailsWithDiskFull"):
        big = os.path.join(env.work, "rel-disk")
        shutil.rmtree(big, ignore_errors=True)
        shutil.copytree(www, os.path.join(big, "www"))
        with open(os.path.join(big, "www", "crclist"), "a") as f:
            f.write("12345678 100000000000000 huge.bin\n")
        srv = env.nginx(os.path.join(big, "www"), "disk")
        game = os.path.join(env.work, "game-disk")
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, srv.url() + "/config.xml")
        check(run.rc == 1 and run.value("ERROR").startswith("Diskte yeterli boş alan yok."), f"{run}")
        check(not access_lines(srv.access_log, ".lz"), "downloaded despite the disk check")

    with case("ReadOnlyFileIsReplaced"):
        game = os.path.join(env.work, "game-readonly")
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(os.path.join(game, "two"))
        target = os.path.join(game, "two", "two.bin")
        with open(target, "wb") as f:
            f.write(b"old content")
        os.chmod(target, 0o444)  # Wine shows this as the read-only attribute
        run = env.update(game, url + "/plain/config.xml")
        check(run.rc == 0, f"{run}")
        check(same_tree(os.path.join(rel, "src"), game) is None, "tree differs")


def group_inuse(env, case):
    files = [("game.dat", 300000), ("other.dat", 1000)]
    _, rel_old = release(env, "rel-inuse-old", files, seed=1)
    _, rel_new = release(env, "rel-inuse-new", files, seed=3)
    srv_old = env.nginx(os.path.join(rel_old, "www"), "inuse-old")
    srv_new = env.nginx(os.path.join(rel_new, "www"), "inuse-new")

    def fresh(name):
        game = os.path.join(env.work, name)
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, srv_old.url() + "/config.xml")
        check(run.rc == 0, f"old install failed\n{run}")
        return game

    def hold(game, ms):
        proc = env.start([WINE_RUN, env.holdfile, win(os.path.join(game, "game.dat")), str(ms)])
        check(proc.stdout.readline().strip() == "HELD", "holdfile did not open the file")
        return proc

    with case("HeldFileIsWaitedForAndRunGoesOnByItself"):
        game = fresh("game-inuse-wait")
        holder = hold(game, 2000)
        run = env.update(game, srv_new.url() + "/config.xml")
        holder.wait()
        check(run.rc == 0, f"{run}")
        check("Dosya kullanımda, bekleniyor: game.dat" in run.out, f"no in-use line\n{run}")
        check("INUSE " not in run.out, f"dialog shown for a short lock\n{run}")
        check("Guncellenecek 1 dosya kullanimda." in run.log, f"{run}")
        check(same_tree(os.path.join(rel_new, "src"), game) is None, "tree differs")

    with case("FileHeldWhileDownloadingIsReplacedOnceFree"):
        _, rel_big = release(env, "rel-inuse-big", [("big.bin", 24 * MIB), ("game.dat", 300000)],
                             seed=4)
        srv_slow = env.nginx(os.path.join(rel_big, "www"), "inuse-slow", rate="4m")
        game = fresh("game-inuse-install")
        proc = start_update(env, game, srv_slow.url() + "/config.xml", "--connections", "1",
                            "--inuse", "retry")
        # Hold the file only once the download has begun, so the move into place meets it.
        line = ""
        while "STATUS 3" not in line:
            line = proc.stdout.readline()
            check(line != "", "run ended before downloading")
        holder = hold(game, 5000)
        out, _ = proc.communicate(timeout=300)
        holder.wait()
        run = Run(proc.returncode, line + out, game)
        check(run.rc == 0, f"{run}")
        check("Dosya kullanimda, bekleniyor: game.dat" in run.log, f"install did not wait\n{run}")
        check("Dosya kullanımda, bekleniyor: game.dat" in run.out, f"no in-use line\n{run}")
        now, want = tree(game), tree(os.path.join(rel_big, "src"))
        check(all(now.get(p) == data for p, data in want.items()), "files differ")

    with case("HeldFileAsksAndStops"):
        game = fresh("game-inuse-stop")
        holder = hold(game, 15000)
        run = env.update(game, srv_new.url() + "/config.xml", "--inuse", "stop")
        holder.kill()
        holder.wait()
        check(run.rc == 1, f"{run}")
        check("INUSE game.dat" in run.out, f"no dialog\n{run}")
        check(run.value("ERROR").startswith("Güncelleme durduruldu: dosya kullanımda."), f"{run}")
        check("Kullanici guncellemeyi durdurdu" in run.log, f"{run}")
        check(tree(game)["game.dat"] == tree(os.path.join(rel_old, "src"))["game.dat"], "changed")


def group_admin(env, case):
    files = [("a.bin", 1000)]
    _, rel = release(env, "rel-admin", files)
    srv = env.nginx(os.path.join(rel, "www"), "admin")
    with case("ReadOnlyGameFolderNeedsAdmin"):
        game = os.path.join(env.work, "game-admin")
        real = os.path.join(env.work, "game-admin-real")
        for p in (game, real):
            subprocess.run(["umount", game], stderr=subprocess.DEVNULL)
            shutil.rmtree(p, ignore_errors=True)
            os.makedirs(p)
        os.makedirs(os.path.join(real, "temp"))
        with open(os.path.join(real, "a.bin"), "wb") as f:
            f.write(b"the player's a.bin")
        # Root ignores permission bits; a read-only bind mount stops even root.
        mounted = subprocess.run(["mount", "--bind", real, game]).returncode == 0 and \
            subprocess.run(["mount", "-o", "remount,bind,ro", game]).returncode == 0
        check(mounted, "cannot make a read-only mount here")
        try:
            run = env.update(game, srv.url() + "/config.xml")
        finally:
            subprocess.run(["umount", game])
        check("NEED_ADMIN" in run.lines, f"{run}")
        check(run.rc == 1 and run.value("TEXT") == "Yamayı yönetici olarak çalıştır.",
              f"{run}")
        with open(os.path.join(real, "a.bin"), "rb") as f:
            check(f.read() == b"the player's a.bin", "game file changed")


def group_notice(env, case):
    attrs = ' notice_ver="3" notice_url="http://127.0.0.1:9/notice.html"'
    _, rel = release(env, "rel-notice", [("a.bin", 5000)], config_attrs=attrs)
    srv = env.nginx(os.path.join(rel, "www"), "notice")
    config = srv.url() + "/config.xml"
    game = os.path.join(env.work, "game-notice")
    shutil.rmtree(game, ignore_errors=True)
    notice_file = os.path.join(game, "draskeltorrent.config.xml")

    with case("RefusedNoticeClosesWithoutUpdating"):
        run = env.update(game, config, "--refuse-notice")
        check("NOTICE refused" in run.lines and "CLOSE" in run.lines and run.rc == 1, f"{run}")
        check("Duyuru reddedildi." in run.log, f"{run}")
        check(not os.path.exists(os.path.join(game, "a.bin")), "updated after a refusal")
        check(not os.path.exists(notice_file), "refused notice remembered")

    with case("AcceptedNoticeIsRememberedAndNotShownAgain"):
        run = env.update(game, config)
        check("NOTICE accepted" in run.lines and run.rc == 0, f"{run}")
        check("Duyuru gosteriliyor (surum 3 > 0)" in run.log, f"{run}")
        check(open(notice_file).read() == "<torrent_config notice_ver='3'/>", "notice file")
        check(same_tree(os.path.join(rel, "src"), game) is not None, "notice file missing")
        run = env.update(game, config)
        check(run.rc == 0 and not any(l.startswith("NOTICE") for l in run.lines), f"{run}")
        check(run.value("CURRENT") == UP_TO_DATE, f"{run}")


def group_edges(env, case):
    game = os.path.join(env.work, "game-edges")
    shutil.rmtree(game, ignore_errors=True)
    # A destination of 250 characters: its work files are longer than MAX_PATH.
    room = 250 - len(win(game)) - 1
    parts = []
    while room - len("/".join(parts)) > 100:
        parts.append("d" * 90)
    prefix = "/".join(parts) + ("/" if parts else "")
    long_rel = prefix + "x" * (room - len(prefix) - 4) + ".bin"
    check(len(win(game)) + 1 + len(long_rel) == 250, f"long path of {len(long_rel)}")
    files = [("a#b.bin", 3 * MIB + 1), ("a/b.bin", 3 * MIB + 7), ("small.bin", 1000),
             (long_rel, 2 * MIB + 3), ("GameUpdater.exe", 5000)]
    listing, rel = release(env, "rel-edges", files)
    srv = env.nginx(os.path.join(rel, "www"), "edges")
    config = srv.url() + "/config.xml"
    src = tree(os.path.join(rel, "src"))
    first = env.update(game, config, "--connections", "4", "--segment-mb", "1")

    with case("HashInANameGetsTemporaryFilesOfItsOwn"):
        # "a#b.bin" and "a\b.bin" once shared every work file name and overwrote each other.
        check(first.rc == 0, f"install failed\n{first}")
        now = tree(game)
        check(now.get("a#b.bin") == src["a#b.bin"] and now.get("a/b.bin") == src["a/b.bin"],
              "files differ")
        check("Yeniden indirilecek" not in first.log, f"a file was fetched twice\n{first}")

    with case("MissingListIsNamedAsMissingWithItsAddressInTheLog"):
        # A crcversion naming a folder the server does not have: reachable server, no list.
        with open(os.path.join(rel, "www", "noversion.xml"), "w") as f:
            f.write(f'<torrent_config run_path="game.exe"><foreground_patch crcpatch_url="{srv.url()}/" '
                    'crcversion="v404"/></torrent_config>')
        missing_game = os.path.join(env.work, "game-nolist")
        shutil.rmtree(missing_game, ignore_errors=True)
        run = env.update(missing_game, srv.url() + "/noversion.xml")
        check(run.rc != 0 and run.value("TEXT") == "Dosya listesi sunucuda bulunamadı", f"{run}")
        check(f"Dosya listesi sunucuda yok (HTTP 404): {srv.url()}/v404/crclist" in run.log, f"{run}")

    with case("DestinationOf250Characters"):
        check(tree(game).get(os.path.normpath(long_rel)) == src[long_rel], f"long file\n{first}")

    with case("RunKeepsItsTextsWhenTheSkinGoes"):
        run = env.update(game, config, "--drop-skin")
        check(run.rc == 0 and run.value("TEXT") == FINISHED and run.value("CURRENT") == UP_TO_DATE,
              f"{run}")

    # A 64-bit process may well get 4000 MiB: the failed allocation is the 32-bit build's.
    if not NATIVE:
        with case("CheckBufferThatCannotBeAllocatedFailsTheCheck"):
            if os.environ.get("SV_WINE_BITS") == "64":
                raise Skipped("a 32-bit address-space limit; the 64-bit test build has none")
            target = os.path.join(game, "small.bin")
            with open(target, "r+b") as f:
                f.write(b"changed")
            os.remove(os.path.join(game, "temp", "Sarvik.cache"))
            run = env.update(game, config, "--check-buffer-mb", "4000")
            check(run.rc == 1 and run.value("ERROR") == "Bellek yetersiz.", f"{run}")
            run = env.update(game, config)
            check(run.rc == 0 and tree(game)["small.bin"] == src["small.bin"], f"{run}")

    with case("FolderWhereAFileBelongsIsAWriteFailure"):
        other = os.path.join(env.work, "game-edges-folder")
        shutil.rmtree(other, ignore_errors=True)
        os.makedirs(os.path.join(other, "small.bin", "inside"))
        run = env.update(other, config, "--inuse", "stop")
        check(run.rc == 1, f"{run}")
        check(run.value("ERROR") == "Dosya yazılamıyor.|small.bin: bu adda bir klasör var",
              f"{run}")
        check("INUSE" not in run.out and "kullanımda" not in run.out, f"in-use wait\n{run}")
        check(os.path.isdir(os.path.join(other, "small.bin", "inside")), "the folder was touched")

    with case("FileOf4GiBIsRefusedBeforeDownload"):
        huge = os.path.join(env.work, "rel-edges-huge")
        shutil.rmtree(huge, ignore_errors=True)
        shutil.copytree(os.path.join(rel, "www"), huge)
        with open(os.path.join(huge, "crclist"), "a") as f:
            f.write("12345678 4294967296 huge.bin\n")
        srv_h = env.nginx(huge, "edges-huge")
        other = os.path.join(env.work, "game-edges-huge")
        shutil.rmtree(other, ignore_errors=True)
        run = env.update(other, srv_h.url() + "/config.xml")
        check(run.rc == 1 and "huge.bin: 4,0 GB; 4 GB ve üzeri dosyalar desteklenmiyor"
              in (run.value("ERROR") or ""), f"{run}")
        check(not access_lines(srv_h.access_log, ".lz"), "downloaded despite the size")

    with case("ListOf32MiBOfShortLinesFailsClearly"):
        # 3.3 million entries once took a gigabyte and ended the 32-bit process.
        many = os.path.join(env.work, "rel-edges-many")
        shutil.rmtree(many, ignore_errors=True)
        os.makedirs(many)
        shutil.copyfile(os.path.join(rel, "www", "config.xml"), os.path.join(many, "config.xml"))
        with open(os.path.join(many, "crclist"), "w") as f:
            lines, size, i = [], 0, 0
            while size < 32 * MIB - 64:
                line = f"00000000 0 {i:x}\n"
                lines.append(line)
                size += len(line)
                i += 1
            f.write("".join(lines))
        check(os.path.getsize(os.path.join(many, "crclist")) <= 32 * MIB, "list too large")
        srv_m = env.nginx(many, "edges-many")
        other = os.path.join(env.work, "game-edges-many")
        shutil.rmtree(other, ignore_errors=True)
        run = env.update(other, srv_m.url() + "/config.xml", timeout=300)
        check(run.rc == 1 and run.value("RESULT") == "failed", f"no clear failure\n{run}")
        check("en çok 1000000 dosya" in (run.value("ERROR") or ""), f"{run}")

    with case("ListOf300000FilesStillUpdates"):
        # As large as the largest clients and more: 300,000 listed files, one of them to update.
        big = os.path.join(env.work, "rel-edges-300k")
        shutil.rmtree(big, ignore_errors=True)
        shutil.copytree(os.path.join(rel, "www"), big)
        other = os.path.join(env.work, "game-edges-300k")
        shutil.rmtree(other, ignore_errors=True)
        crc, size = listing["small.bin"]
        lines = [f"{crc:08x} {size} small.bin\n"]
        for d in range(600):
            folder = os.path.join(other, f"k{d:03d}")
            os.makedirs(folder)
            for n in range(500):
                open(os.path.join(folder, f"f{n:03d}.dat"), "wb").close()
                lines.append(f"00000000 0 k{d:03d}/f{n:03d}.dat\n")
        with open(os.path.join(big, "crclist"), "w") as f:
            f.write("".join(lines))
        srv_k = env.nginx(big, "edges-300k")
        run = env.update(other, srv_k.url() + "/config.xml", timeout=600)
        check(run.rc == 0 and run.value("TEXT") == FINISHED, f"{run}")
        check("Kontrol: 300001 dosyadan 1 tanesi guncellenecek" in run.log, f"{run}")
        check(open(os.path.join(other, "small.bin"), "rb").read() == src["small.bin"], "not updated")

    # Host file systems keep no 8.3 names.
    if not NATIVE:
        with case("PatcherStartedByItsShortNameIsNotReplaced"):
            other = os.path.join(env.work, "game-edges-program")
            shutil.rmtree(other, ignore_errors=True)
            os.makedirs(other)
            program = os.path.join(other, "GameUpdater.exe")
            with open(program, "wb") as f:
                f.write(b"the running patcher")
            run = env.update(other, config, "--program", win(program), "--short-program")
            check(run.rc == 0, f"{run}")
            check("~" in (run.value("PROGRAM") or ""), f"no short name\n{run}")
            check(open(program, "rb").read() == b"the running patcher", f"patcher replaced\n{run}")
            # Its new build went the self-update's way; these bytes are no program, so the swap
            # it would start cannot, and the running patcher stays.
            check("degistirici baslatilamadi (" in run.log, f"the new patcher was not taken\n{run}")

    with case("PatcherListedInOtherCaseBeyondAsciiIsNotReplaced"):
        # The list folds names as Windows does, so "GÜNCELLE.EXE" is the running "Güncelle.exe".
        upper = os.path.join(env.work, "rel-edges-upper")
        shutil.rmtree(upper, ignore_errors=True)
        shutil.copytree(os.path.join(rel, "www"), upper)
        shutil.copyfile(os.path.join(upper, "GameUpdater.exe.lz"),
                        os.path.join(upper, "GÜNCELLE.EXE.lz"))
        crc, size = listing["GameUpdater.exe"]
        with open(os.path.join(upper, "crclist"), "a", encoding="utf-8") as f:
            f.write(f"{crc:08x} {size} GÜNCELLE.EXE\n")
        srv_u = env.nginx(upper, "edges-upper")
        other = os.path.join(env.work, "game-edges-upper")
        shutil.rmtree(other, ignore_errors=True)
        os.makedirs(other)
        program = os.path.join(other, "Güncelle.exe")
        with open(program, "wb") as f:
            f.write(b"the running patcher")
        run = env.update(other, srv_u.url() + "/config.xml", "--program", win(program))
        check(run.rc == 0, f"{run}")
        check(open(program, "rb").read() == b"the running patcher", f"patcher replaced\n{run}")
        # The stand-in is no program: the swap it would start cannot, and nothing is replaced.
        check("degistirici baslatilamadi (" in run.log, f"the new patcher was not taken\n{run}")


def group_ordering(env, case):
    files = [("a.bin", 3 * MIB + 5), ("b/c.bin", 200000), ("d.bin", 5000)]
    listing, rel = release(env, "rel-ordering", files)
    srv = env.nginx(os.path.join(rel, "www"), "ordering")
    config = srv.url() + "/config.xml"
    src = tree(os.path.join(rel, "src"))

    with case("StateWrittenWithThePartClosedAndTheEngineLockFree"):
        # One connection: the only handle a ".part" can have is the attempt's own. Once it was
        # closed after the lock was let go, and the state written under the lock.
        game = os.path.join(env.work, "game-ordering-state")
        shutil.rmtree(game, ignore_errors=True)
        run = env.update(game, config, "--connections", "1", "--segment-mb", "1",
                         "--probe-state-writes")
        check(run.rc == 0 and same_tree(os.path.join(rel, "src"), game) is None, f"{run}")
        probes = [l for l in run.lines if l.startswith("PROBE state")]
        check(len(probes) >= 4, f"too few state writes seen: {probes}\n{run}")
        check(all(l == "PROBE state part-open-error=0 lock=free" for l in probes),
              f"{probes}\n{run}")

    with case("FileChangedDuringTheCheckIsNotTrustedWithItsOldCrc"):
        # The stamp that goes into the cache is the one read before the CRC: a file written while
        # it was read is fetched again, never recorded as current with the CRC of the old bytes.
        game = os.path.join(env.work, "game-ordering-check")
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(os.path.join(rel, "src"), game)
        run = env.update(game, config, "--change-during-check", "c.bin")
        changed = "CHANGED " + extended(game)
        check(run.rc == 0 and any(l.startswith(changed) for l in run.lines), f"{run}")
        check("Kontrol sirasinda degisti: b\\c.bin" in run.log, f"{run}")
        check(tree(game)["b/c.bin"] == src["b/c.bin"], f"changed file kept\n{run}")
        run = env.update(game, config)
        check(run.rc == 0 and run.value("CURRENT") == UP_TO_DATE, f"{run}")
        check(same_tree(os.path.join(rel, "src"), game) is None, f"tree differs\n{run}")


REPAIR_FILES = [("changed.bin", 200000), ("sub/cut.bin", 300000), ("folder.bin", 5000),
                ("longer.bin", 70000), ("sound.bin", 1000)]


def cache_entries(game):
    """Sarvik.cache as {key: [size, last write, crc]}."""
    text = open(os.path.join(game, "temp", "Sarvik.cache"), encoding="utf-8").read()
    entries = {}
    for line in text.splitlines()[1:]:
        if line.startswith("#run "):
            continue
        size, stamp, crc, key = line.split(" ", 3)
        entries[key] = [int(size), int(stamp), int(crc, 16)]
    return entries


def filetime(path):
    """The last write time as the cache stores it: 100 ns units since 1601."""
    return os.stat(path).st_mtime_ns // 100 + 116444736000000000


def lz_requests(server, mark):
    """The .lz files asked for since `mark` (a size of the access log)."""
    with open(server.access_log) as f:
        f.seek(mark)
        return sorted(re.findall(r'GET /([^ ?"]+)\.lz', f.read()))


def group_repair(env, case):
    listing, rel = release(env, "rel-repair", REPAIR_FILES)
    server = env.nginx(os.path.join(rel, "www"), "repair")
    config = server.url() + "/config.xml"
    game = os.path.join(env.work, "game-repair")
    shutil.rmtree(game, ignore_errors=True)
    run = env.update(game, config)
    if run.rc != 0:
        raise Failure(f"install failed\n{run}")

    def damage():
        """Four kinds of damage; the cache still holds each file as it was installed."""
        changed = os.path.join(game, "changed.bin")
        st = os.stat(changed)
        with open(changed, "r+b") as f:  # same size and time, other bytes
            f.seek(777)
            f.write(b"edited by hand")
        os.utime(changed, ns=(st.st_atime_ns, st.st_mtime_ns))
        with open(os.path.join(game, "sub", "cut.bin"), "r+b") as f:  # cut by an anti-virus
            f.truncate(123456)
        with open(os.path.join(rel, "src", "longer.bin"), "rb") as f:
            whole = f.read()
        with open(os.path.join(game, "longer.bin"), "wb") as f:  # one byte too many
            f.write(whole + b"!")
        folder = os.path.join(game, "folder.bin")
        if os.path.isfile(folder):
            os.remove(folder)
        os.makedirs(folder, exist_ok=True)  # a folder where the file belongs

    with case("RepairFindsFourDamagesTheCacheCallsCurrent"):
        damage()
        # An update believes the cache where size and time agree: the edited file stays.
        run = env.update(game, config)
        check(run.rc == 0 and "Kontrol: 5 dosyadan 3 tanesi guncellenecek" in run.log, f"{run}")
        check("Dosyanin yerindeki bos klasor silindi: folder.bin" in run.log, f"{run}")
        check(b"edited by hand" in open(os.path.join(game, "changed.bin"), "rb").read(), f"{run}")
        damage()
        # A resume state that claims the whole of changed.bin, over bytes that are not it.
        crc, size = listing["changed.bin"]
        lz_size = os.path.getsize(os.path.join(rel, "www", "changed.bin.lz"))
        with open(os.path.join(game, "temp", "sv_changed.bin.part"), "wb") as f:
            f.write(b"\xff" * lz_size)
        with open(os.path.join(game, "temp", "sv_changed.bin.state"), "w") as f:
            f.write(f"SVS1 {crc:08x} {size} {lz_size} {4 * MIB} 1")
        mark = os.path.getsize(server.access_log)
        run = env.update(game, config, "--repair")
        check(run.rc == 0 and run.value("TEXT") == FINISHED, f"{run}")
        check(run.value("CURRENT") == "4 dosya onarıldı", f"{run}")
        check("Kontrol: 5 dosyadan 4 tanesi guncellenecek" in run.log, f"{run}")
        # The state was taken, and its bytes were checked before anything was installed.
        check("Kaldigi yerden devam: changed.bin (1/1 parca)" in run.log, f"{run}")
        diff = same_tree(os.path.join(rel, "src"), game)
        check(diff is None, f"{diff}\n{run}")
        got = lz_requests(server, mark)
        check(got == ["changed.bin", "folder.bin", "longer.bin", "sub/cut.bin"], f"{got}\n{run}")
        # The cache now describes the files as they are.
        entries = cache_entries(game)
        for name, (crc, size) in listing.items():
            full = os.path.join(game, name)
            check(entries.get(name.replace("/", "\\")) == [size, filetime(full), crc],
                  f"{name}: {entries.get(name.replace('/', chr(92)))}")

    with case("RepairOfASoundClientDownloadsNothing"):
        mark = os.path.getsize(server.access_log)
        run = env.update(game, config, "--repair")
        check(run.rc == 0 and run.value("CURRENT") == "Tüm dosyalar sağlam.", f"{run}")
        check("Kontrol: 5 dosyadan 0 tanesi guncellenecek" in run.log, f"{run}")
        check(lz_requests(server, mark) == [], f"{lz_requests(server, mark)}")

    with case("FolderWithTheFilesOfAPlayerIsKept"):
        folder = os.path.join(game, "folder.bin")
        os.remove(folder)
        os.makedirs(folder)
        with open(os.path.join(folder, "notes.txt"), "w") as f:
            f.write("mine")
        run = env.update(game, config, "--repair", "--inuse", "stop")
        check(run.rc == 1, f"{run}")
        check(run.value("ERROR") == "Dosya yazılamıyor.|folder.bin: bu adda bir klasör var",
              f"{run}")
        check(open(os.path.join(folder, "notes.txt")).read() == "mine", "the player's file went")


GROUPS = {"repair": group_repair, "edges": group_edges, "notice": group_notice, "install": group_install, "resume": group_resume, "atomic": group_atomic,
          "faults": group_faults, "inuse": group_inuse, "admin": group_admin,
          "ordering": group_ordering}


def main():
    global NATIVE
    ap = argparse.ArgumentParser()
    ap.add_argument("--group", required=True, choices=sorted(GROUPS))
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--holdfile", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--native", action="store_true")
    ap.add_argument("--trust-ca", help="the Windows tool that trusts a test CA in the prefix")
    ap.add_argument("--publish", help="the release tool, for the scripts that call it")
    args = ap.parse_args()
    NATIVE = args.native
    env = Env(args)
    os.makedirs(env.work, exist_ok=True)
    return run_suite(env, f"update_{args.group}", GROUPS[args.group])


def run_suite(env, suite, body):
    """Runs body(env, case) with `case(name)` as the context of each case, stops the servers,
    writes the results as $SV_RESULTS_DIR/<suite>.xml; the exit code of the script."""
    results = []

    class Case:
        def __init__(self, name):
            self.name = name

        def __enter__(self):
            self.start = time.monotonic()
            print(f"[ RUN      ] {self.name}", flush=True)

        def __exit__(self, kind, value, tb):
            took = time.monotonic() - self.start
            if kind is None:
                print(f"[       OK ] {self.name} ({took:.1f} s)", flush=True)
                results.append((self.name, None, took))
            elif kind is Skipped:
                print(f"[  SKIPPED ] {self.name}: {value}", flush=True)
                results.append((self.name, SKIPPED + str(value), took))
            else:
                text = str(value) if kind is Failure else "".join(
                    traceback.format_exception(kind, value, tb))
                print(f"[  FAILED  ] {self.name}\n{text}", flush=True)
                results.append((self.name, text, took))
            return True

    try:
        body(env, Case)
    except Exception:
        results.append(("Setup", traceback.format_exc(), 0))
        print(results[-1][1], flush=True)
    finally:
        env.stop()
    write_results(suite, suite, [(name, took, failure) for name, failure, took in results])
    failed = [r for r in results if r[1] and not r[1].startswith(SKIPPED)]
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed or not results else 0


if __name__ == "__main__":
    sys.exit(main())
