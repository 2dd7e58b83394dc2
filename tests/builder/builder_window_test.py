#!/usr/bin/python3
"""The builder window under Wine.

  builder_window_test.py --part snapshots|window --builder EXE --probe EXE --skin DIR --work DIR
                         --artifacts DIR [--only NAME]

Snapshot cases run the window off-screen on an X display of their own (large enough for the full
1320 x 820 client area) and check the fourteen PNG files. The other cases drive the real window on
the shared display as an operator would: xdotool moves the mouse, clicks and types; the probe
helper (a Windows program beside the window) finds where the drawn buttons are, reads fields and
the clipboard, and posts WM_CLOSE where closing is the step (Wine's X11 bridge has no title bar
without a window manager to click)."""
import argparse
import glob
import os
import shutil
import struct
import subprocess
import sys
import time
import zipfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import patcher_window as pw  # noqa: E402
from gtest_results import run_cases  # noqa: E402

args = None
SECTIONS = ["0_kaynak", "1_baglantilar", "2_davranis", "3_kimlik", "4_cikti", "5_derleme_once"]
CMD_SECTION, CMD_PICK_ZIP, CMD_BUILD, CMD_PREVIEW = 1, 20, 26, 27
CMD_COPY_CRC_LINE, CMD_COPY_LOG, CMD_SWITCH_SIGN = 30, 31, 38
CMD_CANCEL, CMD_PICK_RELEASE_KEY = 70, 71
F_CONFIG, F_NEWS, F_TITLE, F_OUT_PATH, F_PFX, F_PASSWORD = 1100, 1101, 1102, 1110, 1111, 1112
F_RELEASE_KEY, F_LINK = 1115, 1200
# The signing tests' certificate (tests/data/signing) and its password.
PFX = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "signing", "test_signing.pfx")
PFX_PASSWORD = 'gizli" /fd SHA1 \\'



def check(condition, message):
    if not condition:
        raise AssertionError(message)


def win(path):
    return pw.win_path(path)


def prefix():
    return pw.wine_prefix()


def session_file():
    roots = glob.glob(os.path.join(prefix(), "drive_c", "users", "*", "AppData", "Roaming"))
    roots = [r for r in roots if "Public" not in r]
    check(roots, "no roaming application-data folder in the prefix")
    return os.path.join(roots[0], "Sarvik", "olusturucu.ini")


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    check(head[:8] == b"\x89PNG\r\n\x1a\n", f"{path} is no PNG")
    return struct.unpack(">II", head[16:24])


# ----------------------------------------------------------------------------- snapshots

def run_snapshots(out, *extra, switch="--snap"):
    shutil.rmtree(out, ignore_errors=True)
    for n in range(160, 200):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            break
    xvfb = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1600x1200x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(50):
            if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                break
            time.sleep(0.1)
        env = dict(os.environ, DISPLAY=f":{n}")
        before = open(session_file(), "rb").read() if os.path.exists(session_file()) else None
        result = subprocess.run([pw.WINE_RUN, args.builder, switch, win(out), *extra], env=env,
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=240)
        check(result.returncode == 0, f"snapshot run exited {result.returncode}")
        after = open(session_file(), "rb").read() if os.path.exists(session_file()) else None
        check(before == after, "snapshot mode touched the session file")
    finally:
        xvfb.kill()
        xvfb.wait()
    names = sorted(os.listdir(out))
    expected = sorted([s + ".png" for s in SECTIONS] + [s + "_min.png" for s in SECTIONS] +
                      ["5_derleme.png", "5_derleme_min.png"])
    check(names == expected, f"snapshot files: {names}")
    for name in names:
        size = png_size(os.path.join(out, name))
        check(size == ((1100, 700) if name.endswith("_min.png") else (1320, 820)), f"{name}: {size}")


def case_snapshots_with_the_sample_skin():
    run_snapshots(os.path.join(args.artifacts, "builder"), win(args.skin))


def case_snapshots_without_a_skin():
    # The switch in another case: it is matched without regard to case.
    run_snapshots(os.path.join(args.artifacts, "builder", "skinsiz"), switch="--SNAP")


# ----------------------------------------------------------------------------- window helpers

class Builder:
    def __init__(self, windows_env=None):
        command = [pw.WINE_RUN, args.builder]
        if windows_env:
            # Wine gives a program started from Linux its own ProgramFiles; one started by cmd
            # inherits cmd's environment as on Windows.
            # Wine's cmd takes no quotes around set's argument; a space before && would end the value.
            sets = "".join(f'set {k}={v}&& ' for k, v in windows_env.items())
            command = [pw.WINE_RUN, "cmd", "/c", sets + win(args.builder)]
        self.proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        check(self.probe("wait", "30000") is not None, "the builder window did not appear")
        time.sleep(0.5)

    def probe(self, *words, timeout=40):
        result = subprocess.run([pw.WINE_RUN, args.probe, *words], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=timeout)
        if result.returncode != 0:
            return None
        return result.stdout.decode("utf-8", "replace")

    def click_command(self, command, wait=0.4):
        out = self.probe("point", str(command))
        check(out, f"no enabled button for command {command}")
        x, y = map(int, out.split())
        pw.xdotool("mousemove", x, y)
        time.sleep(0.15)
        pw.xdotool("click", 1)
        time.sleep(wait)

    def section(self, index):
        self.click_command(CMD_SECTION + index)

    def type_into(self, field, text):
        out = self.probe("fieldpoint", str(field))
        check(out, f"field {field} is not shown")
        x, y = map(int, out.split())
        pw.xdotool("mousemove", x, y)
        time.sleep(0.1)
        pw.xdotool("click", 1)
        time.sleep(0.2)
        # Wine's single-line edit ignores Ctrl+A: select from the end to the start instead.
        pw.xdotool("key", "End")
        pw.xdotool("key", "shift+Home")
        pw.xdotool("key", "BackSpace")
        pw.xdotool("type", "--delay", "15", text)
        time.sleep(0.2)

    def field(self, field):
        return self.probe("field", str(field))

    def clipboard(self):
        return self.probe("clipboard") or ""

    def choose_in_dialog(self, title, path):
        check(pw.window_rect(title, timeout=20), f"no dialog {title!r}")
        time.sleep(0.8)
        pw.xdotool("type", "--delay", "15", path)
        time.sleep(0.2)
        pw.press_key("Return")
        check(pw.window_gone(title, 20), f"the dialog {title!r} stayed open")

    def wait_for(self, predicate, what, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(0.3)
        raise AssertionError("timed out waiting for " + what)

    def close(self):
        check(self.probe("close", "20000") is not None, "the builder did not close")
        self.proc.wait(timeout=30)


def fresh_session(text=None):
    path = session_file()
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        os.remove(path)
    if text is not None:
        with open(path, "wb") as f:
            f.write(text.encode("utf-8"))
    return path


def sample_zip(name, broken=False):
    path = os.path.join(args.work, name)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for entry in sorted(os.listdir(args.skin)):
            full = os.path.join(args.skin, entry)
            if not os.path.isfile(full):
                continue
            data = open(full, "rb").read()
            if broken and entry == "skin.xml":
                data = data.replace(b"<control", b"<control <", 1)
            z.writestr("skin/" + entry, data)
    return path


def session_text(values):
    keys = ["skin", "config_url", "iframe_url", "feed_url", "title", "out_name", "out_path", "icon", "conn",
            "seg", "max_kbps", "close_on_start", "auto_start", "allow_error", "browser_emu", "run_args", "v_product",
            "v_company", "v_version", "v_copyright", "sign", "sign_pfx", "sign_ts", "release_key"]
    lines = ["; Sarvik Olusturucu - son oturum (parola kaydedilmez)"]
    lines += [f"{k}={values.get(k, '')}" for k in keys]
    lines += [f"{k}={values[k]}" for k in sorted(values) if k.startswith(("link.", "lang."))]
    return "\r\n".join(lines) + "\r\n"


def release_key():
    """A P-256 public key made by openssl, as SarvikPublish keygen writes KEY.pub."""
    path = os.path.join(args.work, "KEY.pub")
    if not os.path.exists(path):
        private = os.path.join(args.work, "KEY")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", private],
                       check=True, capture_output=True)
        subprocess.run(["openssl", "ec", "-in", private, "-pubout", "-out", path], check=True, capture_output=True)
    return path


# ----------------------------------------------------------------------------- session

def case_session_round_trip_byte_for_byte():
    zip_path = sample_zip("oturum.zip")
    pfx = os.path.join(args.work, "imza.pfx")
    open(pfx, "wb").write(b"pfx")
    values = {"skin": win(zip_path), "config_url": "http://127.0.0.1:9/c.xml",
              "iframe_url": "http://127.0.0.1:9/haber", "feed_url": "http://127.0.0.1:9/feed.xml",
              "title": "Oturum Başlığı", "out_name": "Oyun.exe", "out_path": win(os.path.join(args.work, "Oyun.exe")),
              "icon": "", "conn": "7", "seg": "9", "max_kbps": "1500", "close_on_start": "0", "auto_start": "1", "allow_error": "1",
              "browser_emu": "0", "run_args": "--lang tr", "v_product": "Ürün", "v_company": "Şirket",
              "v_version": "2.3.4.5", "v_copyright": "© 2026", "sign": "1", "sign_pfx": win(pfx),
              "sign_ts": "http://ts.example", "link.WEBSITE": "https://site.example/",
              "lang.LAUNCHER_NEW_URL": "http://127.0.0.1:9/kayit"}
    text = session_text(values)
    path = fresh_session(text)
    b = Builder()
    try:
        # The skin loads on its own thread; its link fields are there when it is loaded.
        b.wait_for(lambda: b.field(F_LINK) is not None, "the restored skin's link fields", 60)
        check(b.field(F_TITLE) == "Oturum Başlığı", f"title field: {b.field(F_TITLE)!r}")
        check(b.field(F_CONFIG) == "http://127.0.0.1:9/c.xml", "config field not restored")
        check(b.field(F_LINK) == "https://site.example/", f"first link field: {b.field(F_LINK)!r}")
        check(b.field(F_LINK + 1) == "http://127.0.0.1:9/kayit", f"register link field: {b.field(F_LINK + 1)!r}")
        # The news area's link is the news page field: one value in two places.
        check(b.field(F_LINK + 2) == "http://127.0.0.1:9/haber", f"news area field: {b.field(F_LINK + 2)!r}")
        check(b.field(F_PFX) == win(pfx), "certificate field not restored")
        b.section(4)
        b.type_into(F_PASSWORD, "gizli-parola-1")
        b.section(1)
    finally:
        b.close()
    written = open(path, "rb").read()
    check(written == text.encode("utf-8"), "session file differs:\n" + written.decode("utf-8", "replace"))
    check(b"gizli" not in written, "the password reached the session file")


def case_session_rules_for_sign_conn_and_a_missing_skin():
    zip_path = sample_zip("kurallar.zip")
    path = fresh_session(session_text({"skin": win(zip_path), "conn": "9", "sign": "true", "title": "T"}))
    b = Builder()
    b.close()
    written = open(path, "rb").read().decode("utf-8")
    check("\r\nsign=0\r\n" in written, "sign=true switched signing on")
    check("\r\nconn=4\r\n" in written, "conn=9 did not keep the skin's value 4:\n" + written)

    gone = os.path.join(args.work, "yok.zip")
    values = {"skin": win(gone), "config_url": "http://x/c.xml", "title": "Kayıp", "conn": "2",
              "v_product": "Ürün", "v_company": "Şirket", "v_version": "7.0", "v_copyright": "(C) X",
              "out_name": "K.exe", "out_path": "C:\\oyun\\K.exe", "sign_pfx": "C:\\c.pfx", "sign_ts": "http://ts"}
    path = fresh_session(session_text(values))
    b = Builder()
    b.close()
    written = dict(line.split("=", 1) for line in open(path, encoding="utf-8", newline="").read().split("\r\n")[1:] if "=" in line)
    # Everything stays for the day the skin is back, the skin's path and its own values included.
    for key, value in values.items():
        check(written.get(key) == value, f"{key} lost with its skin: {written.get(key)!r}")


# ----------------------------------------------------------------------------- journey

def case_operator_journey():
    fresh_session()
    pfx = os.path.join(args.work, "kod.pfx")
    open(pfx, "wb").write(b"pfx")
    out_dir = os.path.join(args.work, "client")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    output = os.path.join(out_dir, "Draskel.exe")
    zip_path = sample_zip("draskel.zip")

    b = Builder()
    try:
        b.click_command(CMD_PICK_ZIP)
        b.choose_in_dialog("Skin .zip dosyası seçin", win(zip_path))
        b.wait_for(lambda: b.field(F_TITLE) == "Draskel Online", "the skin's title in its field")
        pw.screenshot(os.path.join(args.artifacts, "builder-journey", "1-loaded.png"))

        b.section(1)
        b.type_into(F_TITLE, "Yolculuk Sunucusu")
        b.type_into(F_CONFIG, "http://127.0.0.1:9/yolculuk.config.xml")
        # Typing into the news area's link changes the news page field with it.
        b.type_into(F_LINK + 2, "http://127.0.0.1:9/yolculuk-haber")
        check(b.field(F_NEWS) == "http://127.0.0.1:9/yolculuk-haber", f"news field: {b.field(F_NEWS)!r}")
        b.section(4)  # leaving the field rebuilds the preview and saves the session
        b.type_into(F_OUT_PATH, win(output))
        b.type_into(F_RELEASE_KEY, win(release_key()))
        b.click_command(CMD_SWITCH_SIGN)
        b.type_into(F_PFX, win(pfx))
        b.type_into(F_PASSWORD, "gizli-parola-2")
        # Wine gives every process its own ProgramFiles, so no signing tool can be planted where
        # the builder looks: signing goes off again, the password stays in its field.
        b.click_command(CMD_SWITCH_SIGN)
        b.section(5)
        b.click_command(CMD_BUILD, wait=0.2)
        try:
            b.wait_for(lambda: b.probe("point", str(CMD_COPY_CRC_LINE)) is not None, "the build's result", 120)
        finally:
            pw.screenshot(os.path.join(args.artifacts, "builder-journey", "2-built.png"))
        pw.screenshot(os.path.join(args.artifacts, "builder-journey", "2-built.png"))
        b.click_command(CMD_COPY_LOG)
        log = b.clipboard()
        for line in ("Oluşturma başladı → " + win(output), "Skin paketi gömüldü", "Sürüm anahtarı gömüldü (",
                     "Doğrulama tamam.",
                     "Tamamlandı → " + win(output), "sv_patcher_crc32="):
            check(line in log, f"log lacks {line!r}:\n{log}")
        crc = zlib.crc32(open(output, "rb").read()) & 0xFFFFFFFF
        b.click_command(CMD_COPY_CRC_LINE)
        check(b.clipboard() == f"sv_patcher_crc32={crc:08X}", f"clipboard: {b.clipboard()!r} for {crc:08X}")
        data = open(output, "rb").read()
        check(b"title=Yolculuk Sunucusu" in data, "the built patcher lacks the edited title")
        check(b"http://127.0.0.1:9/yolculuk.config.xml" in data, "the built patcher lacks the edited address")
        check(b"http://127.0.0.1:9/yolculuk-haber" in data, "the built patcher lacks the edited news page")

        # The same values built by the headless build give the same file.
        session = open(session_file(), "rb").read()
        check(b"gizli" not in session, "the password reached the session file after a build")
        check(b"title=Yolculuk Sunucusu\r\n" in session, "the session lacks the edited title")
        headless_dir = os.path.join(args.work, "headless")
        shutil.rmtree(headless_dir, ignore_errors=True)
        os.makedirs(headless_dir)
        copy = os.path.join(args.work, "journey-session.ini")
        open(copy, "wb").write(session)
        result = subprocess.run([pw.WINE_RUN, args.builder, "--build", win(copy), "--out",
                                 win(os.path.join(headless_dir, "Draskel.exe"))], stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=240)
        check(result.returncode == 0, "headless build of the window's session failed")
        check(open(os.path.join(headless_dir, "Draskel.exe"), "rb").read() == data,
              "the headless build of the same session wrote another patcher")

        # A skin whose skin.xml does not parse: the preview panel's failure text and the log line.
        b.section(0)
        b.click_command(CMD_PICK_ZIP)
        b.choose_in_dialog("Skin .zip dosyası seçin", win(sample_zip("bozuk.zip", broken=True)))
        time.sleep(1)
        pw.screenshot(os.path.join(args.artifacts, "builder-journey", "3-broken.png"))
        b.section(5)
        b.click_command(CMD_COPY_LOG)
        check("Önizleme hazırlanamadı: " in b.clipboard(), "no preview failure line in the log")
    finally:
        b.close()


def case_cancel_a_build_whose_signing_tool_never_ends():
    """The operator stops a build that would wait for its signing tool: the tool is ended, no file
    is written, the window is ready again."""
    tools = os.path.join(args.work, "pf", "Windows Kits", "10", "bin", "10.0.22621.0", "x86")
    os.makedirs(tools, exist_ok=True)
    shutil.copy(args.signtool, os.path.join(tools, "signtool.exe"))
    with open(os.path.join(tools, "behaviour.txt"), "w") as f:
        f.write("-1 -1")
    pfx = os.path.join(args.work, "iptal.pfx")
    shutil.copy(PFX, pfx)
    out_dir = os.path.join(args.work, "iptal")
    shutil.rmtree(out_dir, ignore_errors=True)
    os.makedirs(out_dir)
    output = os.path.join(out_dir, "Draskel.exe")
    fresh_session(session_text({"skin": win(sample_zip("iptal.zip")), "out_path": win(output), "sign": "1",
                                "sign_pfx": win(pfx), "sign_ts": "", "out_name": "Draskel.exe"}))
    b = Builder(windows_env={"ProgramFiles(x86)": win(os.path.join(args.work, "pf"))})
    try:
        b.wait_for(lambda: b.field(F_LINK) is not None, "the restored skin's link fields", 60)
        b.section(4)
        b.type_into(F_PASSWORD, PFX_PASSWORD)
        b.section(5)
        b.click_command(CMD_BUILD, wait=0.2)
        try:
            b.wait_for(lambda: b.probe("point", str(CMD_CANCEL)) is not None, "the cancel button", 30)
            time.sleep(3)  # the tool is running now
        finally:
            pw.screenshot(os.path.join(args.artifacts, "builder-journey", "5-cancel.png"))
        b.click_command(CMD_CANCEL, wait=0.2)
        b.wait_for(lambda: b.probe("point", str(CMD_BUILD)) is not None, "the build to end", 30)
        b.click_command(CMD_COPY_LOG)
        log = b.clipboard()
        check("Oluşturulamadı: Oluşturma iptal edildi." in log, "no cancel line in the log:\n" + log)
        check(not os.path.exists(output) and not os.path.exists(output + ".building"), "the cancelled build left a file")
        pw.screenshot(os.path.join(args.artifacts, "builder-journey", "6-cancelled.png"))
    finally:
        b.close()


def case_external_preview_twice():
    zip_path = sample_zip("onizleme.zip")
    out = win(os.path.join(args.work, "cikti", "Draskel.exe"))
    fresh_session(session_text({"skin": win(zip_path), "title": "Önizleme Testi", "out_path": out,
                                "out_name": "Draskel.exe"}))
    title = "Önizleme Testi - Önizleme"
    b = Builder()
    try:
        b.wait_for(lambda: b.probe("point", str(CMD_PREVIEW)) is not None, "the restored skin", 60)
        for attempt in (1, 2):
            b.click_command(CMD_PREVIEW, wait=0.2)
            check(pw.window_rect(title, timeout=60), f"attempt {attempt}: no preview window")
            time.sleep(1.5)
            count = (b.probe("count", title) or "").strip()
            check(count == "1", f"attempt {attempt}: {count} preview windows")
        field = b.field(F_OUT_PATH)
        check(field == out, f"output path changed: {field!r}")
        pw.screenshot(os.path.join(args.artifacts, "builder-journey", "4-preview.png"))
    finally:
        # Also after a failure: a preview left open would stand in the next window test's way.
        b.probe("closetitle", title, "10000")
        b.close()
    check(not os.path.exists(os.path.join(args.work, "cikti", "Draskel.exe")), "the preview wrote the output")


def main():
    global args
    ap = argparse.ArgumentParser()
    for name in ("builder", "probe", "skin", "work", "artifacts", "signtool"):
        ap.add_argument("--" + name, required=True)
    ap.add_argument("--only")
    ap.add_argument("--part", choices=("snapshots", "window"), required=True)
    args = ap.parse_args()
    os.makedirs(args.work, exist_ok=True)
    if args.part == "snapshots":
        cases = [case_snapshots_with_the_sample_skin, case_snapshots_without_a_skin]
    else:
        cases = [case_session_round_trip_byte_for_byte, case_session_rules_for_sign_conn_and_a_missing_skin,
                 case_operator_journey, case_cancel_a_build_whose_signing_tool_never_ends,
                 case_external_preview_twice]
    return run_cases("builder_" + args.part, "BuilderWindow", cases, only=args.only, expected=(AssertionError,))


if __name__ == "__main__":
    sys.exit(main())
