#!/usr/bin/python3
"""The news feed in the real patcher window under Wine and Xvfb: the sample skin's feed served by
nginx is drawn (status, players, banner, news), and closing the window ends the feed thread at
once, also while its request waits for the headers of a server that never sends them.

Pictures go to --artifacts; results to $SV_RESULTS_DIR/window_feed.xml in GoogleTest's format."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("SV_SOURCE_DIR", os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import make_release  # noqa: E402
from gtest_results import check, write_results  # noqa: E402
import patcher_window as pw  # noqa: E402
from nginx_server import Nginx  # noqa: E402
from with_servers import start_fault_server  # noqa: E402

TITLE = "Draskel Online"
args = None



def patcher(name, config_url, feed_url):
    skin = pw.make_skin(os.path.join(args.work, name + "-skin"), config_url, feed_url=feed_url)
    folder = os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    return folder, pw.make_patcher(args.sarvik, args.embed, skin, os.path.join(folder, "Sarvik.exe"))


def close_and_time(proc):
    """Closes the window as the player's close button would; seconds until the process ended."""
    subprocess.run([pw.WINE_RUN, args.probe, "main", "10000", "close"], stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=60)
    begin = time.monotonic()
    proc.wait(timeout=60)
    return time.monotonic() - begin


def case_feed_is_drawn(env):
    folder, exe = patcher("feed-shown", env["config"], env["nginx"] + "/launcher/feed.xml")
    proc = pw.start_patcher(exe)
    try:
        check(pw.window_rect(TITLE) is not None, "no patcher window")
        check(pw.wait_log(folder, "Tamamlandi", 60), "the run did not finish\n" + pw.read_log(folder))
        time.sleep(1.5)  # the feed and its redraw
        pw.screenshot(os.path.join(args.artifacts, "window-feed.png"))
        seconds = close_and_time(proc)
        check(seconds < 5, f"closing took {seconds:.1f} s")
        log = pw.read_log(folder)
        check("Duyuru akisi" not in log, log)  # a first success logs nothing
    finally:
        if proc.poll() is None:
            proc.kill()


def case_closing_stops_a_hanging_feed(env):
    folder, exe = patcher("feed-hang", env["config"], env["fault"] + "/stall/60")
    proc = pw.start_patcher(exe)
    try:
        check(pw.window_rect(TITLE) is not None, "no patcher window")
        check(pw.wait_log(folder, "Tamamlandi", 60), "the run did not finish\n" + pw.read_log(folder))
        time.sleep(1.0)  # the feed's request is waiting for the server's headers
        seconds = close_and_time(proc)
        # The feed's request is given up at once and its thread ends: what remains is Wine ending
        # the process. A thread left running would be logged (and would cost Stop()'s 1 s).
        check(seconds < 3, f"closing took {seconds:.1f} s")
        log = pw.read_log(folder)
        check("durmadi" not in log, "the feed thread did not stop:\n" + log)
    finally:
        if proc.poll() is None:
            proc.kill()


CASES = [case_feed_is_drawn, case_closing_stops_a_hanging_feed]


def main():
    global args
    ap = argparse.ArgumentParser()
    for name in ("sarvik", "embed", "probe", "work", "artifacts"):
        ap.add_argument("--" + name, required=True)
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    rel = os.path.join(args.work, "release")
    shutil.rmtree(rel, ignore_errors=True)
    make_release.make(rel, [("a.bin", 5000)], 1)
    www = os.path.join(rel, "www")
    pw.write_launcher_pages(www)
    nginx = Nginx(www, os.path.join(args.work, "nginx")).start()
    fault, fault_url, _ = start_fault_server(args.work, 300)
    env = {"nginx": nginx.url(), "fault": fault_url, "config": nginx.url() + "/config.xml"}
    results = []
    try:
        for case in CASES:
            begin = time.monotonic()
            error = None
            try:
                case(env)
            except Exception as e:  # noqa: BLE001 - every failure becomes a result
                error = "".join(traceback.format_exception(e))
            results.append((case.__name__[5:], time.monotonic() - begin, error))
            print(("FAILED " if error else "passed ") + case.__name__[5:], flush=True)
            if error:
                print(error, flush=True)
    finally:
        fault.kill()
        fault.wait()
        nginx.stop()
    write_results("window_feed", "WindowFeed", results)
    return 1 if any(r[2] for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
