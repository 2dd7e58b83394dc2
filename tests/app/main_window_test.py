#!/usr/bin/python3
"""The patcher's real window under Wine + Xvfb against nginx and the fault server, driven as a
player would (xdotool on the skin's button rectangles): START after a finished run, Enter,
close-on-start, EXIT in the middle of a download, dragging, a refused link, a failed run with
its retry box, launches that cannot start, a repair (its check captured while it runs), and the
next release staged after a run until the game starts.
Screen captures of the X display go to build/windows/artifacts/.

  main_window_test.py --sarvik EXE --embed EXE --probe EXE --game EXE --publish EXE --work DIR

Results are written in GoogleTest's XML format to $SV_RESULTS_DIR/main_window.xml."""
import argparse
import os
import shutil
import subprocess
import sys
import time
import zlib

SOURCE = os.environ.get("SV_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import make_release  # noqa: E402
import nginx_server  # noqa: E402
import patcher_window as pw  # noqa: E402
import skin_layout  # noqa: E402
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402

TITLE = "Draskel Online"
args = None
started = []
servers = []



def artifacts():
    folder = os.path.join(os.environ.get("SV_BINARY_DIR", os.path.join(SOURCE, "build", "windows")),
                          "artifacts")
    os.makedirs(folder, exist_ok=True)
    return folder


class Release:
    """A small published client served by nginx (optionally rate-limited)."""

    def __init__(self, name, big_mb=2, rate=None):
        self.root = os.path.join(args.work, name)
        shutil.rmtree(self.root, ignore_errors=True)
        self.client = os.path.join(self.root, "client")
        self.www = os.path.join(self.root, "www")
        self.sizes = pw.make_client(self.client, args.game, big_mb)
        pw.publish(args.publish, self.client, os.path.join(self.www, "patch"))
        self.server = nginx_server.Nginx(self.www, os.path.join(self.root, "nginx"), rate=rate).start()
        servers.append(self.server)
        self.base = self.server.url()

    def config(self, run_path=pw.GAME_PROGRAM, crcpatch=None, extra=""):
        pw.write_config(os.path.join(self.www, "patch"), crcpatch or self.base + "/patch/",
                        run_path=run_path, extra=extra)

    def patcher(self, name, settings=None, skin_edit=None, news_url=""):
        game = os.path.join(self.root, name)
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        skin = pw.make_skin(os.path.join(self.root, name + "-skin"),
                            self.base + "/patch/draskeltorrent.config.xml", news_url=news_url,
                            settings=settings, skin_edit=skin_edit)
        exe = pw.make_patcher(args.sarvik, args.embed, skin, os.path.join(game, "Sarvik.exe"))
        return game, exe, skin_layout.SkinLayout(skin)


def start(exe):
    proc = pw.start_patcher(exe)
    started.append(proc)
    return proc


def open_window(layout):
    rect = pw.window_rect(TITLE, timeout=60, size=(layout.width, layout.height))
    check(rect is not None, "the patcher window did not appear")
    return rect


def wait_done(game, timeout=120):
    m = pw.wait_log(game, r"Tamamlandi\.|HATA: [^\r\n]*", timeout)
    check(m is not None, "the run did not end\n" + pw.read_log(game)[-3000:])
    time.sleep(0.3)  # at least one status tick
    return m.group(0)


def marker_lines(game, timeout=15):
    path = os.path.join(game, pw.MARKER)
    deadline = time.monotonic() + timeout
    while not os.path.exists(path) and time.monotonic() < deadline:
        time.sleep(0.1)
    if not os.path.exists(path):
        return None
    time.sleep(0.2)
    return open(path, encoding="utf-8").read().splitlines()


def probe_box(caption, close=True, timeout_ms=20000):
    result = subprocess.run([pw.WINE_RUN, args.probe, "box", caption, str(timeout_ms),
                             *(["close"] if close else [])], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60)
    return result.stdout.decode("utf-8") if result.returncode == 0 else None


def log_has(game, text):
    return text in pw.read_log(game)


# ---------------------------------------------------------------------------------------------

def case_start_after_run_starts_game_and_closes():
    release = Release("start")
    release.config()
    game, exe, layout = release.patcher("game", settings={"run_args": "-oyun 1 \"a b\""})
    proc = start(exe)
    open_window(layout)
    check(wait_done(game) == "Tamamlandi.", "the run failed\n" + pw.read_log(game)[-2000:])
    pw.screenshot(os.path.join(artifacts(), "window-done.png"), open_window(layout))
    check(pw.folder_digest(release.client) ==
          pw.folder_digest(game, skip_files=("Sarvik.exe", "draskeltorrent.config.xml")),
          "the game folder differs from the client")
    pw.click(TITLE, *layout.center("START"))
    lines = marker_lines(game)
    check(lines is not None, "START did not start the game\n" + pw.read_log(game)[-2000:])
    check(lines[0].endswith("Draskel.exe\" -oyun 1 \"a b\"") and lines[0].startswith('"'),
          f"game command line {lines[0]!r}")
    check(lines[1].lower() == pw.win_path(game).lower(), f"working folder {lines[1]!r}")
    check(pw.window_gone(TITLE, 5), "close-on-start left the window open")
    check(proc.wait(timeout=20) == 0, "the patcher did not end with 0")
    check(log_has(game, "Oyun baslatildi: "), "no start line in the log")


def case_enter_starts_and_window_stays_without_close_on_start():
    # A download of some seconds (rate-limited), so that Enter can be pressed while it runs.
    release = Release("enter", big_mb=24, rate="300k")
    release.config()
    game, exe, layout = release.patcher("game", settings={"close_on_start": "0"})
    proc = start(exe)
    open_window(layout)
    # Enter before the run ended must do nothing: START is not enabled yet.
    check(pw.wait_log(game, r"Indirme basliyor", 60), "the download did not start")
    pw.click(TITLE, 300, 470)  # the window gets the focus from a click on its background
    pw.press_key("Return")
    # Nothing at all: no game, and no box either (the game file may not be there yet).
    box = probe_box(TITLE, close=True, timeout_ms=1500)
    check(box is None, f"Enter before the run ended brought up a box: {box!r}")
    check(not log_has(game, "Tamamlandi."), "the run ended before Enter was tried: no test")
    check(marker_lines(game, timeout=0) is None, "Enter before the run ended started the game")
    check(not log_has(game, "Oyun baslat"), "Enter before the run ended tried to start the game")
    wait_done(game)
    pw.click(TITLE, 300, 470)
    pw.press_key("Return")
    check(marker_lines(game) is not None, "Enter did not start the game")
    time.sleep(1.0)
    check(pw.window_rect(TITLE, timeout=1) is not None, "the window closed without close-on-start")
    check(proc.poll() is None, "the patcher ended")
    # OPTION starts config.exe from the game folder (the same test program) and stays open.
    os.remove(os.path.join(game, pw.MARKER))
    pw.click(TITLE, *layout.center("OPTION"))
    lines = marker_lines(game)
    check(lines and lines[0].endswith('config.exe"'), f"OPTION started {lines!r}")
    check(proc.poll() is None, "the patcher ended after OPTION")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")
    check(proc.wait(timeout=20) == 0, "exit code after EXIT")


def case_exit_mid_download_closes_quickly():
    release = Release("exit", big_mb=60, rate="300k")
    release.config()
    game, exe, layout = release.patcher("game")
    proc = start(exe)
    open_window(layout)
    check(pw.wait_log(game, r"Indirme basliyor", 60), "the download did not start")
    time.sleep(3.0)
    pw.screenshot(os.path.join(artifacts(), "window-downloading.png"), open_window(layout))
    ox, oy = open_window(layout)[:2]
    x, y = layout.center("EXIT")
    pw.xdotool("mousemove", ox + x, oy + y)
    time.sleep(0.2)
    clicked = time.monotonic()
    pw.xdotool("click", 1)
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")
    gone = time.monotonic() - clicked
    # The run gets up to 1.5 s to stop; Wine and the X round trips of the check add up to 1 s.
    print(f"    EXIT to window gone: {gone:.2f} s", flush=True)
    check(gone <= 2.5, f"the window took {gone:.2f} s to close")
    proc.wait(timeout=20)
    check(not log_has(game, "Tamamlandi."), "the run was not in the middle of the download")


def case_drag_on_button_does_not_move():
    # Moving by the caption area is the window manager's job under X: Xvfb has none, so only the
    # button half (no move at all) can be shown here.
    release = Release("drag")
    release.config()
    game, exe, layout = release.patcher("game")
    start(exe)
    before = open_window(layout)
    wait_done(game)
    bx, by, bw, bh = layout.rect("OPTION")
    pw.drag(TITLE, bx + bw // 2, by + bh // 2, 60, 40)
    after_button = open_window(layout)
    check(after_button[:2] == before[:2], f"a drag on a button moved the window {before} -> {after_button}")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")


class LinkHandler:
    """Makes a copy of the stand-in game program the shell's handler of ftp:// and https://
    addresses (HKCR, for as long as the case runs; Wine reads no per-user classes): every address
    the shell opens is written to its marker file. Wine's own handlers open no window here, so
    without it an address that was opened could not be told from one that was not."""

    SCHEMES = ("ftp", "https")

    def __init__(self, folder):
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, "handler.exe")
        shutil.copy(args.game, self.exe)
        self.marker = os.path.join(folder, pw.MARKER)
        if os.path.exists(self.marker):
            os.remove(self.marker)
        self.saved = {scheme: reg_default(command_key(scheme)) for scheme in self.SCHEMES}
        for scheme in self.SCHEMES:
            reg("add", command_key(scheme), "/ve", "/d", f'"{pw.win_path(self.exe)}" "%1"', "/f")

    def opened(self):
        """The addresses opened so far (the handler writes its command line, then its folder)."""
        if not os.path.exists(self.marker):
            return []
        return open(self.marker, encoding="utf-8").read().splitlines()[0::2]

    def remove(self):
        for scheme, value in self.saved.items():
            if value is None:
                reg("delete", "HKCR\\" + scheme, "/f")
            else:
                reg("add", command_key(scheme), "/ve", "/d", value, "/f")


def command_key(scheme):
    return "HKCR\\" + scheme + "\\shell\\open\\command"


def reg(*words):
    return subprocess.run([pw.WINE_RUN, "reg", *words], stdin=subprocess.DEVNULL, capture_output=True,
                          timeout=60, check=words[0] != "query").stdout.decode("utf-8", "replace")


def reg_default(key):
    """The key's default value, None when the key does not exist."""
    for line in reg("query", key, "/ve").splitlines():
        parts = line.split("REG_SZ", 1)
        if len(parts) == 2:
            return parts[1].strip()
    return None


def case_ftp_link_is_logged_and_not_opened():
    release = Release("link")
    release.config()
    link = "ftp://files.example.com/oyun.zip"
    web = "https://draskel.example.com/kayit"
    game, exe, layout = release.patcher(
        "game", skin_edit=lambda t: t.replace('link_url="https://draskel.example.com/"',
                                              f'link_url="{link}"').replace(
            'id="URL_NEW" x="500" y="34" image="register"',
            f'id="URL_NEW" x="500" y="34" image="register" link_url="{web}"'))
    handler = LinkHandler(os.path.join(args.work, "link", "handler"))
    try:
        start(exe)
        open_window(layout)
        wait_done(game)
        # A web address goes to the handler: the check below can see an opened address.
        pw.click(TITLE, *layout.center("URL_NEW"))
        deadline = time.monotonic() + 15
        while not handler.opened() and time.monotonic() < deadline:
            time.sleep(0.2)
        opened = handler.opened()
        check(len(opened) == 1 and opened[0].endswith(f'"{web}"'), f"the web address opened {opened!r}")
        pw.click(TITLE, *layout.center("WEBSITE"))
        check(pw.wait_log(game, "Baglanti aciliyor: " + link, 10), "the link was not logged")
        time.sleep(2.0)
        check(handler.opened() == opened, f"the ftp link was opened: {handler.opened()!r}")
        pw.click(TITLE, *layout.center("EXIT"))
        check(pw.window_gone(TITLE, 5), "EXIT did not close the window")
    finally:
        handler.remove()


def case_closing_hides_every_owned_window():
    # The sample skin is transparent: its news page is a pop-up of its own over the window. With
    # the notice open as well, closing must take both off the screen with the window, not leave
    # them there while the run stops.
    release = Release("owned")
    release.config(extra=' notice_ver="3" notice_url="about:blank"')
    game, exe, layout = release.patcher("game", news_url=release.base + "/haberler.html")
    start(exe)
    open_window(layout)
    check(pw.wait_log(game, "Duyuru gosteriliyor", 30), "no notice\n" + pw.read_log(game))
    check(pw.window_rect("Duyuru", timeout=30) is not None, "the notice is not on the screen")
    time.sleep(1.0)
    result = subprocess.run([pw.WINE_RUN, args.probe, "closeall", "20000"], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=60)
    out = result.stdout.decode("utf-8", "replace")
    check(result.returncode == 0, f"closeall: {out!r}")
    counts = dict(line.split(" ", 1) for line in out.splitlines() if line.startswith(("before", "left")))
    check(int(counts.get("before", 0)) >= 2, f"the web view and the notice were not on the screen: {out}")
    check(int(counts.get("left", -1)) == 0, f"still on the screen after the window went: {out}")
    check(pw.window_gone(TITLE, 10), "the window did not close")


def failed_run(name, settings):
    release = Release(name)
    release.config(crcpatch=release.base + "/missing/")  # no crclist there: the run fails
    game, exe, layout = release.patcher("game", settings=settings)
    shutil.copy(args.game, os.path.join(game, pw.GAME_PROGRAM))  # an older client is there
    proc = start(exe)
    open_window(layout)
    m = wait_done(game)
    check(m.startswith("HATA:"), f"the run did not fail: {m}")
    return release, game, layout, proc


def case_failed_run_asks_to_retry_and_start_stays_off():
    release, game, layout, proc = failed_run("failed", {"allow_start_on_error": "0"})
    text = probe_box(TITLE, close=False)
    # A server that answers 404 for the list is reachable: the list is what is missing.
    check(text is not None and "Tekrar denemek ister misiniz?" in text and
          "Dosya listesi sunucuda bulunamadı" in text, f"retry box {text!r}")
    check(log_has(game, f"Dosya listesi sunucuda yok (HTTP 404): {release.base}/missing/crclist"),
          pw.read_log(game)[-2000:])
    pw.screenshot(os.path.join(artifacts(), "window-missing-list.png"))
    check(probe_box(TITLE, close=True) is not None, "could not close the retry box")
    time.sleep(0.5)
    pw.click(TITLE, *layout.center("START"))
    pw.press_key("Return")
    time.sleep(1.5)
    check(not os.path.exists(os.path.join(game, pw.MARKER)), "a failed run started the game")
    check(proc.poll() is None, "the patcher ended")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")


def launch_box(run_path, name, setup=None, capture=None):
    release = Release(name)
    release.config(run_path=run_path)
    game, exe, layout = release.patcher("game", settings={"close_on_start": "0"})
    start(exe)
    open_window(layout)
    check(wait_done(game) == "Tamamlandi.", "the run failed")
    if setup:
        setup(game)
    pw.click(TITLE, *layout.center("START"))
    if capture:
        check(probe_box(TITLE, close=False) is not None, "no box after START")
        pw.screenshot(os.path.join(artifacts(), capture))
    return game, probe_box(TITLE, close=True)


def case_launch_missing_file_and_unsafe_path():
    game, text = launch_box("yok/Oyun.exe", "missing", capture="window-missing-program.png")
    check(text == "Çalıştırılabilir dosya bulunamıyor\n" + pw.win_path(game) + "\\yok\\Oyun.exe",
          f"missing-file box {text!r}")
    check(log_has(game, "Oyun baslatilamadi: program bulunamadi: ") and log_has(game, "yok\\Oyun.exe"),
          pw.read_log(game)[-2000:])
    check(not os.path.exists(os.path.join(game, pw.MARKER)), "something started")
    game, text = launch_box("..\\Draskel.exe", "unsafe")
    check(text == "Program, girilen dosyayı bulamıyor.", f"unsafe-path box {text!r}")
    check(not os.path.exists(os.path.join(game, pw.MARKER)), "something started")


def case_launch_not_a_program_goes_through_open():
    # A program file that is not a program: CreateProcess refuses it with 193 and the shell's
    # "open" is tried, which fails the same way: the error box, and the log line with the code.
    def corrupt(game):
        with open(os.path.join(game, "bozuk.exe"), "wb") as f:
            f.write(b"this is not a program\r\n" * 100)
    release_path = "bozuk.exe"
    game, text = launch_box(release_path, "badexe", setup=corrupt)
    check(text is not None and text.startswith("Program düzgün şekilde çalışmıyor.\n"),
          f"error box {text!r}")
    check(pw.wait_log(game, r"Oyun baslatilamadi: .*bozuk\.exe \(\d+\)", 5), "no failure line")


def case_switch_mode_with_missing_file_shows_system_error():
    folder = os.path.join(args.work, "switch")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    exe = os.path.join(folder, "Oyun Yama.exe")
    shutil.copy(args.sarvik, exe)
    proc = start_raw([exe, "--sv-run", "yok\\Oyun.exe", "-w"])
    text = probe_box("Oyun Yama", close=True)
    check(text is not None and text.startswith("Oyun başlatılamadı:\n" + pw.win_path(folder) +
                                               "\\yok\\Oyun.exe\n\n"), f"box {text!r}")
    check(len(text.split("\n\n", 1)[1]) > 3, "no system text for error 2")
    check(proc.wait(timeout=20) == 2, "exit code")
    check(not os.path.exists(os.path.join(folder, "temp")), "the switch mode created temp")


def case_preview_starts_nothing():
    release = Release("preview")
    release.config()
    game, exe, layout = release.patcher("game", settings={"auto_start": "1"})
    proc = start_raw([exe, "--preview"])
    rect = pw.window_rect(TITLE + " - Önizleme", timeout=60, size=(layout.width, layout.height))
    check(rect is not None, "no preview window")
    text = None
    deadline = time.monotonic() + 40
    while text is None and time.monotonic() < deadline:  # START comes on when the simulated run ends
        pw.click(TITLE + " - Önizleme", *layout.center("START"))
        text = probe_box(TITLE + " - Önizleme", close=True, timeout_ms=1500)
    check(text == "Önizleme modunda oyun başlatılmaz.", f"preview box {text!r}")
    check(not os.path.exists(os.path.join(game, pw.MARKER)), "the preview started the game")
    subprocess.run([pw.WINE_RUN, args.probe, "main", "5000", "close"], stdin=subprocess.DEVNULL,
                   capture_output=True, timeout=60)
    check(proc.wait(timeout=20) == 0, "preview exit code")


def case_repair_reads_every_file_and_reports():
    """--sv-repair, then the REPAIR button: the check's progress in the window, what it found,
    and a second repair of the now sound client that downloads nothing."""
    root = os.path.join(args.work, "repair")
    shutil.rmtree(root, ignore_errors=True)
    make_release.make(root, [("data/small.bin", 50000)])
    # Large files of zeros, sparse on the disk: a check of some seconds, from little space.
    big, chunk = 3 << 30, bytes(16 << 20)
    crc = 0
    for _ in range(big // len(chunk)):
        crc = zlib.crc32(chunk, crc)
    www = os.path.join(root, "www")
    with open(os.path.join(www, "crclist"), "a") as f:
        for i in range(2):
            f.write(f"{crc:08x} {big} data/zero{i}.bin\n")
    server = nginx_server.Nginx(www, os.path.join(root, "nginx")).start()
    servers.append(server)
    game = os.path.join(root, "game")
    shutil.copytree(os.path.join(root, "src"), game)
    for i in range(2):
        with open(os.path.join(game, "data", f"zero{i}.bin"), "wb") as f:
            f.truncate(big)
    with open(os.path.join(game, "data", "small.bin"), "r+b") as f:
        f.write(b"edited")  # same size; no cache exists, but the repair must not need one
    skin = pw.make_skin(os.path.join(root, "skin"), server.url() + "/config.xml")
    exe = pw.make_patcher(args.sarvik, args.embed, skin, os.path.join(game, "Sarvik.exe"))
    layout = skin_layout.SkinLayout(skin)
    proc = pw.start_patcher(exe, "--sv-repair")
    started.append(proc)
    rect = open_window(layout)
    check(pw.wait_log(game, r"Onarim: her dosya okunacak", 60), "no repair run")
    time.sleep(1.0)
    pw.screenshot(os.path.join(artifacts(), "window-repair-check.png"), rect)
    check(wait_done(game, timeout=180) == "Tamamlandi.", pw.read_log(game)[-2000:])
    pw.screenshot(os.path.join(artifacts(), "window-repair-done.png"), rect)
    check(log_has(game, "Onarim: 1 dosya onarildi"), pw.read_log(game)[-2000:])
    check(open(os.path.join(game, "data", "small.bin"), "rb").read() ==
          open(os.path.join(root, "src", "data", "small.bin"), "rb").read(), "small.bin not repaired")
    mark = os.path.getsize(server.access_log)
    pw.click(TITLE, *layout.center("REPAIR"))
    check(pw.wait_log(game, r"Onarim: 0 dosya onarildi", 120), "REPAIR did not run a repair\n" +
          pw.read_log(game)[-2000:])
    time.sleep(0.3)
    pw.screenshot(os.path.join(artifacts(), "window-repair-sound.png"), rect)
    with open(server.access_log) as f:
        f.seek(mark)
        later = f.read()
    check(".lz" not in later, f"a sound client downloaded:\n{later}")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")
    proc.wait(timeout=20)


def case_preload_shows_on_the_status_line_and_stops_for_the_game():
    """A finished run stages the release the configuration announces: the status line says so,
    the game folder stays as it is, and START stops the staging before the game starts."""
    release = Release("preload", big_mb=2)
    later = os.path.join(release.root, "client-next")
    shutil.copytree(release.client, later)
    big = "data/maps/kuzey_vadisi.pak"
    with open(os.path.join(later, big), "wb") as f:
        f.write(os.urandom(8 << 20))
    next_www = os.path.join(release.root, "www-next")
    pw.publish(args.publish, later, next_www)
    # Slow, so that the staging is still going when the window is looked at.
    slow = nginx_server.Nginx(next_www, os.path.join(release.root, "nginx-next"), rate="200k").start()
    servers.append(slow)
    pw.write_config(next_www, slow.url() + "/")
    with open(os.path.join(release.www, "patch", "draskeltorrent.config.xml"), "w") as f:
        f.write(f'<torrent_config run_path="{pw.GAME_PROGRAM}">\n'
                f'  <foreground_patch crcpatch_url="{release.base}/patch/" crcversion=""/>\n'
                f'  <sv_next config_url="{slow.url()}/draskeltorrent.config.xml" '
                'at="2026-12-24T18:00:00Z"/>\n</torrent_config>\n')
    game, exe, layout = release.patcher("game", settings={"close_on_start": "0"})
    proc = start(exe)
    rect = open_window(layout)
    check(wait_done(game) == "Tamamlandi.", pw.read_log(game)[-2000:])
    check(pw.wait_log(game, r"Sonraki surum: \d+ dosyadan 1 tanesi", 60),
          "no staging\n" + pw.read_log(game)[-2000:])
    time.sleep(3.0)
    pw.screenshot(os.path.join(artifacts(), "window-preload.png"), rect)
    pw.click(TITLE, *layout.center("START"))
    check(pw.wait_log(game, r"oyun icin durduruldu", 20), "START did not stop the staging\n" +
          pw.read_log(game)[-2000:])
    check(marker_lines(game) is not None, "START did not start the game")
    with open(os.path.join(game, big), "rb") as a, open(os.path.join(release.client, big), "rb") as b:
        check(a.read() == b.read(), "the game folder changed before go-live")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 5), "EXIT did not close the window")
    proc.wait(timeout=20)


def start_raw(cmd):
    proc = subprocess.Popen([pw.WINE_RUN, *cmd], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    started.append(proc)
    return proc


CASES = [
    case_start_after_run_starts_game_and_closes,
    case_enter_starts_and_window_stays_without_close_on_start,
    case_exit_mid_download_closes_quickly,
    case_drag_on_button_does_not_move,
    case_ftp_link_is_logged_and_not_opened,
    case_closing_hides_every_owned_window,
    case_failed_run_asks_to_retry_and_start_stays_off,
    case_launch_missing_file_and_unsafe_path,
    case_launch_not_a_program_goes_through_open,
    case_switch_mode_with_missing_file_shows_system_error,
    case_preview_starts_nothing,
    case_repair_reads_every_file_and_reports,
    case_preload_shows_on_the_status_line_and_stops_for_the_game,
]


def stop_started():
    stop_processes(started)
    for server in servers:
        server.stop()
    servers.clear()


def main():
    global args
    parser = argparse.ArgumentParser()
    for name in ("sarvik", "embed", "probe", "game", "publish", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check(os.environ.get("DISPLAY"), "these tests need an X display (source scripts/test-env)")
    return run_cases("main_window", "MainWindow", CASES, args.only, Failure, stop_started)


if __name__ == "__main__":
    sys.exit(main())
