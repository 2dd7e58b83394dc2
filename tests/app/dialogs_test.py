#!/usr/bin/python3
"""The notice and in-use dialogs under Wine and Xvfb, in a real update run against nginx.

dialog_host runs the update engine with the patcher's own dialogs over a plain owner window and
reports where the dialog's buttons are; the cases click them with xdotool as a player would
(the title bar's close button included), capture the screen with ImageMagick's import, and
check what the run did with the answer. The placement cases check that the notice comes up
wholly on the screen with both buttons whole: after a minimised start (the owner is restored),
and when it is taller than the screen (a 1366 x 768 Wine virtual desktop). The in-use case
holds a game file open with window_probe until the dialog is up, then lets go: the dialog must
close by itself and the run complete. Wine's Restart Manager names no programs, so the dialog shows its unknown-holder text.

Pictures go to --artifacts; results to $SV_RESULTS_DIR/dialogs.xml in GoogleTest's format."""
import argparse
import os
import shutil
import subprocess
import sys
import threading
import time
import traceback

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("SV_SOURCE_DIR", os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import make_release  # noqa: E402
from gtest_results import check, stop_processes, write_results  # noqa: E402
from nginx_server import Nginx  # noqa: E402
from patcher_window import wine_prefix  # noqa: E402

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
UNKNOWN_HOLDER = ("Dosyayı hangi programın kullandığı tespit edilemedi. Oyunu ve açık olabilecek "
                  "diğer programları kapatıp tekrar deneyin.")

args = None
started = []



def win(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Host:
    """A running dialog_host and the lines it printed."""

    def __init__(self, folder, config_url, minimized=False, desktop=None):
        """desktop "WxH": in a Wine virtual desktop of that size (a screen of that size)."""
        os.makedirs(folder, exist_ok=True)
        self.folder = folder
        self.shape = {}
        wrap = ["explorer", f"/desktop=SarvikTest{desktop},{desktop}"] if desktop else []
        self.proc = subprocess.Popen([WINE_RUN, *wrap, args.host, win(folder), config_url,
                                      *(["minimized"] if minimized else [])],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
        started.append(self.proc)
        self.lines = []
        # No case waits forever for a line: a host that is still running then is stopped.
        self.watchdog = threading.Timer(90, self.proc.kill)
        self.watchdog.daemon = True
        self.watchdog.start()

    def line(self):
        text = self.proc.stdout.readline()
        check(text != "", "dialog_host ended early:\n" + "\n".join(self.lines) + "\n" + self.log())
        self.lines.append(text.rstrip("\n"))
        return self.lines[-1]

    def until(self, prefix):
        """Lines up to the first one starting with prefix; returns that one."""
        while True:
            text = self.line()
            if text.startswith(prefix):
                return text

    def dialog(self, kind):
        """Waits for a dialog; returns {button id: (x, y, enabled)}, title-bar point, texts, and
        the owner's state ("enabled"/"disabled"). Its rectangles are left in self.shape."""
        self.until(kind)
        buttons, statics, titlebar, owner = {}, [], None, None
        self.shape = {"buttons": {}, "owner_iconic": None, "dialog": None, "client": None, "work": None}
        while True:
            text = self.line()
            if text == "READY":
                return buttons, titlebar, statics, owner
            word, _, rest = text.partition(" ")
            if word == "BUTTON":
                ident, x, y, enabled, *rect = rest.split()
                buttons[int(ident)] = (int(x), int(y), enabled == "1")
                self.shape["buttons"][int(ident)] = tuple(map(int, rect))
            elif word == "TITLEBAR":
                x, y = rest.split()
                titlebar = (int(x), int(y))
            elif word == "STATIC":
                statics.append(rest.replace("|", "\n"))
            elif word == "OWNER":
                owner, _, state = rest.partition(" ")
                self.shape["owner_iconic"] = state == "iconic"
            elif word in ("DIALOG", "CLIENT", "WORK"):
                self.shape[word.lower()] = tuple(map(int, rest.split()))

    def finish(self, timeout=120):
        code = self.proc.wait(timeout=timeout)
        self.watchdog.cancel()
        self.lines += [line.rstrip("\n") for line in self.proc.stdout.readlines()]
        return code

    def log(self):
        try:
            with open(os.path.join(self.folder, "temp", "Sarvik.log"), encoding="utf-8") as f:
                return f.read()
        except OSError:
            return ""


def click(x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], check=True, timeout=20)


def capture(name, crop=None):
    """The X display (or the part crop = (x, y, width, height) of it) as a PNG picture."""
    os.makedirs(args.artifacts, exist_ok=True)
    path = os.path.join(args.artifacts, name)
    extra = ["-crop", "%dx%d+%d+%d" % (crop[2], crop[3], crop[0], crop[1]), "+repage"] if crop else []
    subprocess.run(["import", "-window", "root", *extra, path], check=True, timeout=60)
    return path


def notice_release(name, url="about:blank", width=520, height=300):
    out = os.path.join(args.work, name)
    shutil.rmtree(out, ignore_errors=True)
    # The page is never shown here (no HTML engine in this Wine), but the address is real.
    attrs = ' notice_ver="4" notice_url="%s" notice_width="%d" notice_height="%d"'
    make_release.make(out, [("a.bin", 5000)], 1, attrs % (url, width, height))
    return out


def game_folder(name):
    folder = os.path.join(args.work, name)
    shutil.rmtree(folder, ignore_errors=True)
    return folder


def notice_file(folder):
    return os.path.join(folder, "draskeltorrent.config.xml")


# ---------------------------------------------------------------------------------------------

def case_notice_accepted(server):
    folder = game_folder("game-notice-accept")
    host = Host(folder, server.url() + "/config.xml")
    buttons, _, _, owner = host.dialog("NOTICE")
    check(set(buttons) == {101, 102}, f"buttons {buttons}")
    check(owner == "disabled", "the main window stays usable behind the notice")
    time.sleep(0.5)
    capture("dialog-notice.png")
    click(*buttons[101][:2])
    host.until("DONE")
    check(host.finish() == 0, "\n".join(host.lines))
    check("DONE ok" in host.lines, "\n".join(host.lines))
    check(os.path.exists(notice_file(folder)), "accepted notice not remembered")
    check(os.path.exists(os.path.join(folder, "a.bin")), "the run did not install")


def inside(rect, area):
    return (rect[0] >= area[0] and rect[1] >= area[1] and rect[2] <= area[2] and
            rect[3] <= area[3])


def check_whole_on_screen(host, what):
    """The dialog wholly inside the work area, every button wholly inside its client area."""
    shape = host.shape
    check(shape["dialog"] and shape["client"] and shape["work"], f"{what}: no rectangles {shape}")
    check(inside(shape["dialog"], shape["work"]),
          f"{what}: the dialog {shape['dialog']} is not inside the work area {shape['work']}")
    for ident, rect in shape["buttons"].items():
        check(inside(rect, shape["client"]),
              f"{what}: button {ident} {rect} is cut by the client area {shape['client']}")


def accept_and_finish(host, buttons, folder):
    click(*buttons[101][:2])
    host.until("DONE")
    check(host.finish() == 0 and "DONE ok" in host.lines, "\n".join(host.lines))
    check(os.path.exists(os.path.join(folder, "a.bin")), "the run did not install")


def case_notice_after_a_minimised_start(server):
    # The notice comes while the owner is minimised: it was placed relative to the minimised
    # window (about -32000, -32000) and stayed there, with the owner disabled.
    folder = game_folder("game-notice-minimised")
    host = Host(folder, server.url() + "/config.xml", minimized=True)
    buttons, _, _, owner = host.dialog("NOTICE")
    check(owner == "disabled", "the main window stays usable behind the notice")
    check(host.shape["owner_iconic"] is False, "the owner stayed minimised under the notice")
    check_whole_on_screen(host, "notice after a minimised start")
    time.sleep(0.5)
    capture("dialog-notice-minimised-start.png")
    accept_and_finish(host, buttons, folder)


def case_tall_narrow_notice_fits_the_screen(_):
    # The narrowest notice the configuration takes (200) and the tallest (3000): the buttons
    # were cut (the accept button began left of the client), the title bar and the buttons off
    # the screen.
    rel = notice_release("rel-notice-tall", width=200, height=3000)
    server = Nginx(os.path.join(rel, "www"), os.path.join(args.work, "nginx-notice-tall")).start()
    try:
        folder = game_folder("game-notice-tall")
        host = Host(folder, server.url() + "/config.xml")
        buttons, _, _, _ = host.dialog("NOTICE")
        check(set(buttons) == {101, 102}, f"buttons {buttons}")
        check_whole_on_screen(host, "tall notice")
        work, dialog = host.shape["work"], host.shape["dialog"]
        check(dialog[3] - dialog[1] == work[3] - work[1],
              f"the tall notice {dialog} was not fitted to the work area {work}")
        accept_and_finish(host, buttons, folder)
    finally:
        server.stop()


def case_tall_notice_on_a_1366x768_screen(_):
    # notice_height=800 on a 1366 x 768 screen (a Wine virtual desktop of that size, top-left on
    # the X display): the title bar was above the screen and the buttons below it.
    rel = notice_release("rel-notice-1366", width=680, height=800)
    server = Nginx(os.path.join(rel, "www"), os.path.join(args.work, "nginx-notice-1366")).start()
    try:
        folder = game_folder("game-notice-1366")
        host = Host(folder, server.url() + "/config.xml", desktop="1366x768")
        buttons, _, _, _ = host.dialog("NOTICE")
        work, dialog = host.shape["work"], host.shape["dialog"]
        check(work == (0, 0, 1366, 768), f"not a 1366 x 768 screen: work area {work}")
        check_whole_on_screen(host, "notice 800 high on 1366 x 768")
        check(dialog[1] == 0 and dialog[3] == 768, f"the notice {dialog} was not fitted to the screen")
        time.sleep(0.5)
        capture("dialog-notice-tall-1366x768.png", (0, 0, 1366, 768))
        accept_and_finish(host, buttons, folder)
    finally:
        server.stop()
        # The virtual desktop leaves its size in this Wine session's display cache, where later
        # programs (on any display) would find a 1366 x 768 screen: the same desktop at the X
        # screen's size puts the cache back, and its explorer goes.
        size = subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True, text=True,
                              timeout=30).stdout.split()
        quiet = dict(stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
        if len(size) == 2:
            subprocess.run([WINE_RUN, "explorer", f"/desktop=SarvikTest1366x768,{size[0]}x{size[1]}",
                            "cmd", "/c", "exit"], **quiet)
        subprocess.run([WINE_RUN, "taskkill", "/f", "/im", "explorer.exe"], **quiet)


def refused(server, name, where):
    folder = game_folder(name)
    host = Host(folder, server.url() + "/config.xml")
    buttons, titlebar, _, _ = host.dialog("NOTICE")
    click(*(buttons[102][:2] if where == "button" else titlebar))
    host.until("CLOSE")
    host.finish()
    check("DONE ok" not in host.lines, "\n".join(host.lines))
    check(not os.path.exists(notice_file(folder)), "refused notice remembered")
    check(not os.path.exists(os.path.join(folder, "a.bin")), "a refused notice still updated")
    check("Duyuru reddedildi." in host.log(), host.log())


def case_notice_refused(server):
    refused(server, "game-notice-refuse", "button")


def case_notice_title_bar_close_refuses(server):
    refused(server, "game-notice-titlebar", "titlebar")


def start_fault_server():
    log = os.path.join(args.work, "fault.log")
    proc = subprocess.Popen([sys.executable, os.path.join(SOURCE, "tests", "support", "fault_server.py"),
                             "--log", log, "--time-limit", "120"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    started.append(proc)
    line = proc.stdout.readline().split()
    check(len(line) == 2 and line[0] == "PORT", "fault server did not start")
    return f"http://127.0.0.1:{line[1]}", log


def resident_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        return next(int(l.split()[1]) for l in f if l.startswith("VmRSS:"))


def control_cache_bytes(name):
    """Bytes the browser control has stored of the page `name` in its cache in the Wine prefix."""
    prefix = wine_prefix()
    total = 0
    for base, _, names in os.walk(os.path.join(prefix, "drive_c", "users")):
        for n in names:
            if n.startswith(name):
                try:
                    total = max(total, os.path.getsize(os.path.join(base, n)))
                except OSError:
                    pass  # the control removed it meanwhile
    return total


def case_notice_page_that_never_ends_holds_neither_memory_nor_the_run(_):
    # The patcher does not read the page: the control loads it. An endless body must flow into
    # the control's cache, not the patcher's memory, and the player can answer at any moment.
    fault, log = start_fault_server()
    page = f"endless{int(time.time() * 1000)}"
    rel = notice_release("rel-notice-endless", f"{fault}/endless/{page}")
    server = Nginx(os.path.join(rel, "www"), os.path.join(args.work, "nginx-notice-endless")).start()
    try:
        folder = game_folder("game-notice-endless")
        host = Host(folder, server.url() + "/config.xml")
        buttons, _, _, _ = host.dialog("NOTICE")
        check(buttons[101][2], "accept disabled while the page loads")
        before = resident_kib(host.proc.pid) << 10
        # Wine's control reads at a pace of its own (from 0.2 to 7 MB/s here): wait for a few MiB.
        taken = lambda: control_cache_bytes(page)  # noqa: E731
        deadline = time.monotonic() + 45
        while taken() < 4 << 20 and time.monotonic() < deadline and host.proc.poll() is None:
            time.sleep(0.2)
        cached = taken()
        check(cached >= 4 << 20, f"the control took in only {cached} bytes of the page")
        grown = (resident_kib(host.proc.pid) << 10) - before
        check(grown < cached // 2, f"the patcher grew by {grown} bytes while {cached} streamed in")
        with open(log) as f:
            check(" sent " not in f.read(), "the page ended before the answer")
        click(*buttons[101][:2])
        host.until("DONE")
        check(host.finish() == 0 and "DONE ok" in host.lines, "\n".join(host.lines))
        check(os.path.exists(notice_file(folder)), "accepted notice not remembered")
        check(os.path.exists(os.path.join(folder, "a.bin")), "the run did not install")
    finally:
        server.stop()


def case_inuse_dialog_closes_when_the_file_is_free(_):
    files = [("game.dat", 300000), ("other.dat", 1000)]
    old = os.path.join(args.work, "rel-inuse-old")
    new = os.path.join(args.work, "rel-inuse-new")
    for out, seed in ((old, 1), (new, 3)):
        shutil.rmtree(out, ignore_errors=True)
        make_release.make(out, files, seed)
    srv_old = Nginx(os.path.join(old, "www"), os.path.join(args.work, "nginx-old")).start()
    srv_new = Nginx(os.path.join(new, "www"), os.path.join(args.work, "nginx-new")).start()
    try:
        folder = game_folder("game-inuse")
        first = Host(folder, srv_old.url() + "/config.xml")
        check(first.finish() == 0, "old install failed\n" + "\n".join(first.lines))
        holder = subprocess.Popen([WINE_RUN, args.probe, "hold", win(os.path.join(folder, "game.dat")),
                                   "60000"], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        started.append(holder)
        check(holder.stdout.readline().strip() == "held", "the probe did not hold the file")
        host = Host(folder, srv_new.url() + "/config.xml")
        buttons, _, statics, owner = host.dialog("INUSE")
        check(set(buttons) == {103, 104, 105}, f"buttons {buttons}")
        check(not buttons[103][2], "close button enabled with no program to close")
        check(buttons[104][2] and buttons[105][2], "retry or cancel disabled")
        check(owner == "disabled", "the main window stays usable behind the dialog")
        check(len(statics) == 2 and statics[0] == "Dosya kullanımda", f"texts {statics!r}")
        body = statics[1]
        check("    game.dat\n" in body, body)
        check(body.endswith(UNKNOWN_HOLDER), body)
        time.sleep(0.5)
        capture("dialog-inuse.png")
        holder.kill()  # the holder lets go
        holder.wait()
        closed = host.until("INUSE closed")
        check(closed == "INUSE closed owner-enabled", closed)
        host.until("DONE")
        check(host.finish() == 0 and "DONE ok" in host.lines, "\n".join(host.lines))
        with open(os.path.join(folder, "game.dat"), "rb") as f, \
                open(os.path.join(new, "src", "game.dat"), "rb") as g:
            check(f.read() == g.read(), "game.dat not updated")
    finally:
        srv_old.stop()
        srv_new.stop()


CASES = [case_notice_accepted, case_notice_refused, case_notice_title_bar_close_refuses,
         case_notice_after_a_minimised_start, case_tall_narrow_notice_fits_the_screen,
         case_tall_notice_on_a_1366x768_screen,
         case_notice_page_that_never_ends_holds_neither_memory_nor_the_run,
         case_inuse_dialog_closes_when_the_file_is_free]


def main():
    global args
    ap = argparse.ArgumentParser()
    ap.add_argument("--host", required=True)
    ap.add_argument("--probe", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--artifacts", required=True)
    ap.add_argument("--only")
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    # Xvfb has no window manager: let Wine draw the dialogs' title bars itself, for this program
    # only, so the pictures show them and the close button can be clicked.
    key = ("HKCU\\Software\\Wine\\AppDefaults\\" + os.path.basename(args.host) +
           "\\X11 Driver")
    subprocess.run([WINE_RUN, "reg", "add", key, "/v", "Managed", "/d", "N", "/f"],
                   stdin=subprocess.DEVNULL, capture_output=True, timeout=60, check=True)
    rel = notice_release("rel-notice")
    server = Nginx(os.path.join(rel, "www"), os.path.join(args.work, "nginx-notice")).start()
    results = []
    try:
        for case in CASES:
            name = case.__name__[5:]
            if args.only and args.only not in name:
                continue
            begin = time.monotonic()
            error = None
            try:
                case(server)
            except Exception as e:  # noqa: BLE001 - every failure becomes a result
                error = "".join(traceback.format_exception(e))
            finally:
                stop_processes(started)
            results.append((name, time.monotonic() - begin, error))
            print(("FAILED " if error else "passed ") + name, flush=True)
            if error:
                print(error, flush=True)
    finally:
        server.stop()
    write_results("dialogs", "Dialogs", results)
    return 1 if any(r[2] for r in results) else 0


if __name__ == "__main__":
    sys.exit(main())
