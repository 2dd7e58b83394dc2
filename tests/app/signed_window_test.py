#!/usr/bin/python3
"""The signed-release threat table with a built patcher: the builder's headless build writes the
operator's public key into the patcher, which then meets every attack of
tests/engine/update/signed_threats.py in its real window under Wine + Xvfb. Each row: the run
fails, the log names the reason, the retry box shows the player's text, START starts nothing and
the game folder is byte-identical to before.

  signed_window_test.py --sarvik EXE --builder EXE --probe EXE --game EXE --work DIR

Results go to $SV_RESULTS_DIR/signed_window.xml in GoogleTest's format."""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, os.path.join(HERE, "..", "engine", "update"))
import patcher_window as pw  # noqa: E402
import signed_threats  # noqa: E402
import skin_layout  # noqa: E402
import update_test as ut  # noqa: E402
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402

TITLE = "Draskel Online"
# Rows whose screenshots are kept: an object that fails its hash, a release signed by another key.
SHOWN = ("ForgedObjectOfTheSignedSizeIsNeverInstalled", "ManifestSignedWithAnotherKeyIsRefused")

args = None
started = []
state = {}


def artifacts():
    folder = os.path.join(os.environ.get("SV_BINARY_DIR", os.path.join(pw.SOURCE, "build")),
                          "artifacts")
    os.makedirs(folder, exist_ok=True)
    return folder


def probe_box(close):
    result = subprocess.run([pw.WINE_RUN, args.probe, "box", TITLE, "20000",
                             *(["close"] if close else [])], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60)
    return result.stdout.decode("utf-8") if result.returncode == 0 else None


def run_window(game, layout):
    """Starts the patcher of `game`, waits for its run to end; returns the log's last line."""
    proc = pw.start_patcher(os.path.join(game, "Sarvik.exe"))
    started.append(proc)
    check(pw.window_rect(TITLE, timeout=60, size=(layout.width, layout.height)) is not None,
          "the patcher window did not appear")
    m = pw.wait_log(game, r"Tamamlandi\.|HATA: [^\r\n]*", 120)
    check(m is not None, "the run did not end\n" + pw.read_log(game)[-3000:])
    time.sleep(0.3)  # at least one status tick
    return m.group(0)


def close_window(layout):
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 10), "EXIT did not close the window")


def setup():
    """Releases, the key-carrying patcher, and a game folder that installed release 2 with it."""
    if "base" in state:
        return state
    r = state["r"]
    skin = pw.make_skin(os.path.join(args.work, "skin"), r.config)
    exe = pw.build_patcher(args.builder, args.sarvik, args.work, skin, r.config,
                           os.path.join(args.work, "patcher", "Sarvik.exe"),
                           [("release_key", pw.win_path(r.key + ".pub"))])
    layout = skin_layout.SkinLayout(skin)
    base = os.path.join(args.work, "game-base")
    shutil.rmtree(base, ignore_errors=True)
    os.makedirs(base)
    shutil.copy(exe, base)
    r.publish(r.rel2)
    last = run_window(base, layout)
    check(last == "Tamamlandi.", f"release 2 did not install: {last}\n" + pw.read_log(base))
    # After a good run START does start the program: the rows' check for no start can fail.
    pw.click(TITLE, *layout.center("START"))
    marker = os.path.join(base, pw.MARKER)
    check(ut.wait_for(lambda: os.path.exists(marker), 20), "START did not start the game")
    pw.window_gone(TITLE, 10)
    time.sleep(0.5)
    os.remove(marker)
    state.update(layout=layout, base=base)
    return state


def row(threat):
    def case():
        s = setup()
        r, layout = s["r"], s["layout"]
        game = os.path.join(args.work, "game-" + threat.name)
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(s["base"], game)
        # The base run's log would answer the wait for this run's end before this run began.
        for log in ("Sarvik.log", "Sarvik.log.1"):
            if os.path.exists(os.path.join(game, "temp", log)):
                os.remove(os.path.join(game, "temp", log))
        if threat.remove:
            os.remove(os.path.join(game, threat.remove))
        before = pw.folder_digest(game)
        r.serve_attack(threat)
        last = run_window(game, layout)
        log = pw.read_log(game)
        check(last.startswith("HATA:"), f"not refused: {last}\n{log[-3000:]}")
        check(threat.reason in log, f"the log does not name '{threat.reason}'\n{log[-3000:]}")
        text = probe_box(close=False)
        shown = last[len("HATA: "):].split("|")[0].strip()
        check(text is not None and shown[:40] in text, f"retry box {text!r}, run said {shown!r}")
        if threat.name in SHOWN:
            pw.screenshot(os.path.join(artifacts(), f"signed-{threat.name}.png"))
        check(probe_box(close=True) is not None, "could not close the retry box")
        time.sleep(0.5)
        pw.click(TITLE, *layout.center("START"))
        pw.press_key("Return")
        time.sleep(1.5)
        check(not os.path.exists(os.path.join(game, pw.MARKER)), "a program was started")
        close_window(layout)
        check(pw.folder_digest(game) == before, "the game folder changed")
    case.__name__ = "case_" + threat.name
    return case


def stop_started():
    stop_processes(started)
    started.clear()


def main():
    global args
    parser = argparse.ArgumentParser()
    for name in ("sarvik", "builder", "probe", "game", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    args.work = os.path.abspath(args.work)
    os.makedirs(args.work, exist_ok=True)
    check(os.environ.get("DISPLAY"), "these tests need an X display (source scripts/test-env)")
    env = ut.Env(argparse.Namespace(svupdate=None, holdfile=None, work=args.work))
    try:
        # The releases' game program is a real one, so that a START that should not happen shows.
        state["r"] = signed_threats.Releases(env, open(args.game, "rb").read())
        rows = [row(t) for t in signed_threats.threats(state["r"])]
        return run_cases("signed_window", "SignedWindow", rows, args.only, Failure, stop_started)
    finally:
        env.stop()


if __name__ == "__main__":
    sys.exit(main())
