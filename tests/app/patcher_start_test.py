#!/usr/bin/python3
"""The patcher's start-up under Wine: its roles, the per-folder lock, the log and the skin error.

Each case copies Sarvik.exe into folders of its own under --work and runs it through
scripts/wine-run. The template carries no skin, so an ordinary start ends in the skin error box:
with an X display the box stays open (the process keeps the folder's lock until the probe
presses OK), without one MessageBoxW returns at once and the process exits 1. Exit code 1 thus
means "got past the lock", 0 means "another patcher holds the folder".

Results are written in GoogleTest's XML format to $SV_RESULTS_DIR/patcher_start.xml."""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402
WINE_RUN = os.path.join(os.environ.get("SV_SOURCE_DIR", os.path.join(HERE, "..", "..")),
                        "scripts", "wine-run")
SKIN_ERROR_TEXT = ("D\u00fczenleme mevcut de\u011fil.\n\nGomulu skin yok.\n\n"
                   "Bu exe Sarvik Olu\u015fturucu ile haz\u0131rlanmal\u0131d\u0131r.")
SKIN_ERROR_LINE = "Skin yuklenemedi: Gomulu skin yok."

args = None
started = []  # every process a case started, stopped when the case ends



def env_for(display):
    env = dict(os.environ)
    if not display:
        env.pop("DISPLAY", None)
    return env


def make_folder(name, exe="Sarvik.exe"):
    folder = os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    shutil.copy(args.sarvik, os.path.join(folder, exe))
    return folder


def start(exe, *switches, display=True):
    proc = subprocess.Popen([WINE_RUN, exe, *switches], env=env_for(display),
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    started.append(proc)
    return proc


def run(exe, *switches, display=False, timeout=60):
    """Runs to the end; returns (exit code, seconds taken)."""
    begin = time.monotonic()
    proc = start(exe, *switches, display=display)
    code = proc.wait(timeout=timeout)
    return code, time.monotonic() - begin


def probe(*probe_args, timeout=60):
    return subprocess.run([WINE_RUN, args.probe, *probe_args], stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def start_probe(*probe_args):
    """A probe that keeps running; returns once it printed its first line."""
    proc = subprocess.Popen([WINE_RUN, args.probe, *probe_args], stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    started.append(proc)
    first = proc.stdout.readline().strip()
    return proc, first


def wait_box(caption, close, timeout_ms=30000):
    """The text of the message box with this caption (None when none came up)."""
    result = probe("box", caption, str(timeout_ms), *(["close"] if close else []))
    return result.stdout.decode("utf-8") if result.returncode == 0 else None


def start_blocked(folder, exe="Sarvik.exe"):
    """A patcher that holds its folder's lock: it sits in its skin error box."""
    proc = start(os.path.join(folder, exe), display=True)
    caption = os.path.splitext(exe)[0]
    check(wait_box(caption, close=False) is not None, f"no error box from {exe} in {folder}")
    return proc


def close_blocked(proc, exe="Sarvik.exe"):
    check(wait_box(os.path.splitext(exe)[0], close=True) is not None, "the error box went away")
    code = proc.wait(timeout=30)
    check(code == 1, f"the blocked patcher ended with {code}, expected 1")


def read_log(folder):
    path = os.path.join(folder, "temp", "Sarvik.log")
    with open(path, "rb") as f:
        return f.read()


def log_messages(folder):
    data = read_log(folder)
    check(not data.startswith(b"\xef\xbb\xbf"), "the log starts with a byte-order mark")
    check(data.endswith(b"\r\n"), f"the log does not end in CR LF: {data[-20:]!r}")
    messages = []
    for line in data.decode("utf-8").split("\r\n")[:-1]:
        stamp = line[:14]
        check(len(stamp) == 14 and stamp[2] == ":" and stamp[5] == ":" and stamp[8] == "."
              and stamp[12:] == "  " and (stamp[:2] + stamp[3:5] + stamp[6:8] + stamp[9:12]).isdigit(),
              f"bad log line {line!r}")
        messages.append(line[14:])
    return messages


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ---------------------------------------------------------------------------------------------

def case_skin_error_box():
    folder = make_folder("box", "Oyun Yama.exe")
    proc = start(os.path.join(folder, "Oyun Yama.exe"), display=True)
    text = wait_box("Oyun Yama", close=True)  # caption: the program's name without extension
    check(text is not None, "no box captioned 'Oyun Yama'")
    check(text == SKIN_ERROR_TEXT, f"box text {text!r}")
    code = proc.wait(timeout=30)
    check(code == 1, f"exit code {code}")
    # The log keeps its fixed name whatever the program is called.
    check(log_messages(folder) == [SKIN_ERROR_LINE], f"log {log_messages(folder)!r}")


def case_second_start_leaves_first_alone():
    folder = make_folder("one")
    exe = os.path.join(folder, "Sarvik.exe")
    first = start_blocked(folder)
    log_before = read_log(folder)
    for display in (True, False):
        code, _ = run(exe, display=display)
        check(code == 0, f"second start exited {code}")
    check(first.poll() is None, "the first patcher ended")
    check(read_log(folder) == log_before, "a start that found the lock touched the log")
    close_blocked(first)
    code, _ = run(exe)  # the lock went with the first patcher
    check(code == 1, f"start after the first ended exited {code}")


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    return int.from_bytes(header[16:20], "big"), int.from_bytes(header[20:24], "big")


def main_window(action=None, timeout_ms=30000):
    """(width, height, iconic, title) of the patcher's main window, or None."""
    result = probe("main", str(timeout_ms), *([action] if action else []))
    if result.returncode != 0:
        return None
    size, state, title = result.stdout.decode("utf-8").rstrip("\n").split(" ", 2)
    width, height = size.split("x")
    return int(width), int(height), state == "iconic", title


def skinned_folder(name):
    folder = make_folder(name)
    result = subprocess.run([WINE_RUN, args.embed, win_path(os.path.join(folder, "Sarvik.exe")),
                             win_path(args.skin)], capture_output=True, timeout=60)
    check(result.returncode == 0, f"embedding the skin failed: {result.stderr!r}")
    return folder


def case_skinned_patcher_runs_its_window():
    folder = skinned_folder("skinned")
    exe = os.path.join(folder, "Sarvik.exe")
    first = start(exe, display=True)
    window = main_window()
    check(window is not None, "no main window")
    width, height, iconic, title = window
    check((width, height) == png_size(os.path.join(args.skin, "main.png")),
          f"window is {width}x{height}")
    check(title == "Draskel Online", f"title {title!r}")
    # A second start brings the minimised first window back and ends.
    check(main_window("minimize") is not None and main_window()[2], "window did not minimise")
    code, _ = run(exe, display=True)
    check(code == 0, f"second start exited {code}")
    time.sleep(0.5)
    window = main_window()
    check(window is not None and not window[2], "the first window was not restored")
    check(first.poll() is None, "the first patcher ended")
    # Closing the window ends the patcher with the quit code 0.
    main_window("close")
    code = first.wait(timeout=30)
    check(code == 0, f"patcher exited {code} after its window closed")
    messages = log_messages(folder) if read_log(folder) else []
    check(not any(m.startswith("Skin") for m in messages), f"log {messages!r}")


def case_skinned_preview_title_and_no_temp():
    folder = skinned_folder("skinned-preview")
    exe = os.path.join(folder, "Sarvik.exe")
    shutil.rmtree(os.path.join(folder, "temp"), ignore_errors=True)
    preview = start(exe, "--preview", display=True)
    window = main_window()
    check(window is not None and window[3] == "Draskel Online - \u00d6nizleme", f"preview window {window!r}")
    main_window("close")
    check(preview.wait(timeout=30) == 0, "preview did not end with 0")
    check(not os.path.exists(os.path.join(folder, "temp")), "preview created the temp folder")


def case_broken_package_box():
    folder = make_folder("broken")
    exe = os.path.join(folder, "Sarvik.exe")
    package = os.path.join(folder, "broken.svsk")
    with open(package, "wb") as f:  # magic, version 1, count 0, wrong CRC
        f.write(b"SVSK" + (1).to_bytes(4, "little") + bytes(4) + b"\x01\x02\x03\x04")
    result = subprocess.run([WINE_RUN, args.embed, win_path(exe), "--raw", win_path(package)],
                            capture_output=True, timeout=60)
    check(result.returncode == 0, f"embedding failed: {result.stderr!r}")
    proc = start(exe, display=True)
    text = wait_box("Sarvik", close=True)
    check(text == SKIN_ERROR_TEXT.replace("Gomulu skin yok.", "Skin paketi bozuk (CRC)."),
          f"box text {text!r}")
    check(proc.wait(timeout=30) == 1, "exit code")
    check(log_messages(folder) == ["Skin yuklenemedi: Skin paketi bozuk (CRC)."], "log")


def case_two_folders_run_two():
    a = make_folder("two-a")
    b = make_folder("two-b")
    first = start_blocked(a)
    code, _ = run(os.path.join(b, "Sarvik.exe"))
    check(code == 1, f"patcher of the second folder exited {code}")
    check(log_messages(b) == [SKIN_ERROR_LINE], "second folder's log")
    close_blocked(first)


def case_folder_case_gives_same_lock():
    folder = make_folder("CaseDir")
    first = start_blocked(folder)
    # Wine finds the folder whatever the case and reports the path as it was given.
    for spelled in ("casedir", "CASEDIR", "cAsEdIr"):
        code, _ = run(os.path.join(args.work, spelled, "SARVIK.EXE"))
        check(code == 0, f"start through {spelled} exited {code}")
    close_blocked(first)


def start_waiting_copy(name, switch):
    """A patcher holding the folder, and a restarted copy of it that waits for the lock."""
    folder = make_folder(name)
    first = start_blocked(folder)
    second = start(os.path.join(folder, "Sarvik.exe"), switch, display=False)
    time.sleep(2.5)
    check(second.poll() is None, f"{switch} copy did not wait (exit {second.returncode})")
    return folder, first, second


def case_restarted_copy_takes_over():
    folder, first, second = start_waiting_copy("restart", "--sv-updated")
    close_blocked(first)
    code = second.wait(timeout=15)
    check(code == 1, f"restarted copy exited {code} after the old one ended")
    check(log_messages(folder) == [SKIN_ERROR_LINE], "log after the takeover")


def case_restarted_copy_takes_abandoned_lock():
    _, first, second = start_waiting_copy("abandon", "--SV-ELEVATED")
    first.kill()  # ends without releasing the lock
    first.wait(timeout=30)
    code = second.wait(timeout=15)
    check(code == 1, f"elevated copy exited {code} after the old one was killed")


def case_restarted_copy_gives_up():
    folder = make_folder("giveup")
    first = start_blocked(folder)
    code, seconds = run(os.path.join(folder, "Sarvik.exe"), "--sv-updated", timeout=60)
    check(code == 0, f"restarted copy exited {code}")
    check(14.5 <= seconds < 40, f"restarted copy gave up after {seconds:.1f} s, expected 15")
    close_blocked(first)


def case_preview_takes_no_lock_and_writes_nothing():
    folder = make_folder("preview")
    exe = os.path.join(folder, "Sarvik.exe")
    with open(exe + ".old", "wb") as f:
        f.write(b"old")
    code, _ = run(exe, "--preview")
    check(code == 1, f"preview exited {code}")
    check(not os.path.exists(os.path.join(folder, "temp")), "preview created the temp folder")
    check(os.path.exists(exe + ".old"), "preview removed the .old file")
    os.remove(exe + ".old")

    first = start_blocked(folder)
    log_before = read_log(folder)
    code, seconds = run(exe, "--sv-updated", "--preview")
    check(code == 1 and seconds < 10, f"preview beside a patcher exited {code} after {seconds:.1f} s")
    check(read_log(folder) == log_before, "preview touched the log")
    close_blocked(first)


def case_elevated_roles_open_no_log():
    folder = make_folder("roles")
    exe = os.path.join(folder, "Sarvik.exe")
    os.makedirs(os.path.join(folder, "temp"))
    old_log = b"previous run\r\n"
    for path in (os.path.join(folder, "temp", "Sarvik.log"), os.path.join(folder, "Sarvik.log")):
        with open(path, "wb") as f:
            f.write(old_log)
    # --sv-run exits 2 for a missing game; --sv-close finds pid 1234 gone (0, closed or gone) and
    # exits 2 without a pair. None is 1, the skin box of the ordinary patcher.
    for switches, expected in ((["--sv-run", "\"game.exe\""], 2), (["--sv-close", "1234:5678"], 0),
                               (["x", "--SV-Close"], 2)):
        code, _ = run(exe, *switches)
        check(code == expected, f"{switches} exited {code}")
        check(read_log(folder) == old_log, f"{switches} touched the log")
        check(open(os.path.join(folder, "Sarvik.log"), "rb").read() == old_log,
              f"{switches} removed the log beside the program")
    # They take no lock either: the roles run beside a patcher of the same folder.
    first = start_blocked(folder)
    code, _ = run(exe, "--sv-run", "\"game.exe\"")
    check(code == 2, f"--sv-run beside a patcher exited {code}")
    close_blocked(first)


def case_second_run_truncates_log():
    folder = make_folder("truncate")
    exe = os.path.join(folder, "Sarvik.exe")
    code, _ = run(exe)
    check(code == 1, f"first run exited {code}")
    with open(os.path.join(folder, "temp", "Sarvik.log"), "ab") as f:
        f.write(b"12:00:00.000  an older line\r\n" * 5000)
    with open(os.path.join(folder, "Sarvik.log"), "wb") as f:
        f.write(b"stale")
    code, _ = run(exe)
    check(code == 1, f"second run exited {code}")
    check(log_messages(folder) == [SKIN_ERROR_LINE], "log after the second run")
    check(not os.path.exists(os.path.join(folder, "Sarvik.log")), "the stale log beside the program")


def case_old_files_removed_with_retries():
    folder = skinned_folder("old")
    exe = os.path.join(folder, "Sarvik.exe")
    temp = os.path.join(folder, "temp")
    os.makedirs(temp)
    in_temp, beside = os.path.join(temp, "Sarvik.exe.old"), exe + ".old"

    def plant():
        for path in (in_temp, beside):
            with open(path, "wb") as f:
                f.write(b"previous program")

    def gone_after_window(hold_ms=None):
        """Starts the patcher (a holder keeping `beside` open for hold_ms first); returns the
        seconds from its window to both .old files gone, or None, and closes it."""
        holder = None
        if hold_ms:
            holder, line = start_probe("hold", win_path(beside), str(hold_ms))
            check(line == "held", f"holder said {line!r}")
        proc = start(exe, display=True)
        check(main_window() is not None, "no main window")
        shown = time.monotonic()
        while time.monotonic() - shown < 12 and (os.path.exists(in_temp) or os.path.exists(beside)):
            time.sleep(0.1)
        took = None if os.path.exists(in_temp) or os.path.exists(beside) else time.monotonic() - shown
        main_window("close")
        proc.wait(timeout=30)
        if holder:
            holder.wait(timeout=30)
        return took

    # A start that cannot show its window keeps the previous build: a swap helper it starts puts
    # it back in place of the program, on its own time; the build is never just deleted.
    plant()
    os.makedirs(os.path.join(temp, "Other.exe.old"))
    unskinned = os.path.join(make_folder("old-unskinned"), "Sarvik.exe")
    shutil.copytree(temp, os.path.join(os.path.dirname(unskinned), "temp"))
    kept_old = os.path.join(os.path.dirname(unskinned), "temp", "Sarvik.exe.old")
    code, _ = run(unskinned)
    check(code == 1, f"unskinned run exited {code}")

    def put_back():
        try:
            return open(unskinned, "rb").read() == b"previous program"
        except OSError:
            return False
    deadline = time.monotonic() + 15
    while time.monotonic() < deadline and not put_back():
        time.sleep(0.1)
    check(put_back() or os.path.exists(kept_old),
          "a start that never opened its window removed the previous build")

    # Once the window is open both go, and an unrelated folder stays.
    check(gone_after_window() is not None, ".old files left behind")
    check(os.path.isdir(os.path.join(temp, "Other.exe.old")), "unrelated folder removed")

    # Held for 1.5 s: the retries outlast it.
    plant()
    took = gone_after_window(1500)
    check(took is not None, "a .old held for 1.5 s was left behind")

    # Held for 6 s, longer than the retries (about 4 s): given up, so the file outlives its holder.
    plant()
    check(gone_after_window(6000) is None, "the retries went on after about 4 s")


CASES = [
    case_skin_error_box,
    case_second_start_leaves_first_alone,
    case_skinned_patcher_runs_its_window,
    case_skinned_preview_title_and_no_temp,
    case_broken_package_box,
    case_two_folders_run_two,
    case_folder_case_gives_same_lock,
    case_restarted_copy_takes_over,
    case_restarted_copy_takes_abandoned_lock,
    case_restarted_copy_gives_up,
    case_preview_takes_no_lock_and_writes_nothing,
    case_elevated_roles_open_no_log,
    case_second_run_truncates_log,
    case_old_files_removed_with_retries,
]


def stop_started():
    stop_processes(started)


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--sarvik", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--embed", required=True, help="the skin embedding helper")
    parser.add_argument("--skin", required=True, help="a skin folder")
    parser.add_argument("--work", required=True)
    parser.add_argument("--only", help="run only cases whose name contains this")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check(os.environ.get("DISPLAY"), "these tests need an X display (source scripts/test-env)")

    return run_cases("patcher_start", "PatcherStart", CASES, args.only, Failure, stop_started)


if __name__ == "__main__":
    sys.exit(main())
