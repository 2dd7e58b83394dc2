#!/usr/bin/python3
"""Shared by the window tests and scripts/demo: a sample game client published with SarvikPublish,
a patcher made from the sample skin pointing at a server, and the X-side helpers that look at and
drive the patcher's real window (ImageMagick's import, xdotool)."""
import hashlib
import os
import random
import re
import shutil
import subprocess
import time

SOURCE = os.environ.get("SV_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
SAMPLE_SKIN = os.path.join(SOURCE, "samples", "skin")
MIB = 1 << 20

GAME_PROGRAM = "Draskel.exe"
MARKER = "game-started.txt"


def wine_prefix():
    """The Wine prefix the tests run in (scripts/wine-env chooses it the same way)."""
    name = "wineprefix64" if os.environ.get("SV_WINE_BITS") == "64" else "wineprefix"
    return os.environ.get("SV_WINEPREFIX") or os.path.join(SOURCE, "build", name)


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


# ----------------------------------------------------------------------------- sample client

def client_data(name, size, seed=7):
    """Compressible but not trivial: text lines with numbers and words that vary, runs of
    pseudo-random bytes between them (about 40 % of the file)."""
    rng = random.Random(f"{seed}:{name}:{size}")
    words = [w.encode() for w in ("kale", "vadi", "ejder", "kılıç", "zindan", "büyü", "ork",
                                  "ok", "kalkan", "iksir", "harita", "köprü", "orman")]
    out = bytearray()
    while len(out) < size:
        if rng.random() < 0.4:
            out += rng.randbytes(rng.randint(256, 16384))
        else:
            for _ in range(rng.randint(20, 200)):
                out += b"%06d %s %s %d\n" % (rng.randint(0, 999999), rng.choice(words),
                                             rng.choice(words), rng.randint(0, 65535))
    return bytes(out[:size])


def make_client(folder, game_exe, big_mb=120):
    """A game client: the game program, files of several sizes (one of big_mb MiB), sub-folders
    and a name outside ASCII. Returns {relative path: size}."""
    shutil.rmtree(folder, ignore_errors=True)
    files = {
        "data/maps/kuzey_vadisi.pak": big_mb * MIB,
        "data/sound/müzik_açılış.ogg": 6 * MIB + 12345,
        "data/textures/kale_duvarı.dds": 3 * MIB,
        "data/locale/tr/metinler.txt": 180000,
        "Oyun Ayarları.ini": 2100,
        "readme.txt": 900,
        "empty.dat": 0,
    }
    for rel, size in files.items():
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(client_data(rel, size))
    shutil.copy(game_exe, os.path.join(folder, GAME_PROGRAM))
    shutil.copy(game_exe, os.path.join(folder, "config.exe"))
    files[GAME_PROGRAM] = os.path.getsize(game_exe)
    files["config.exe"] = os.path.getsize(game_exe)
    return files


def publish(publish_exe, client, www, level=1):
    """SarvikPublish build (the Windows build under Wine): crclist and .lz files."""
    os.makedirs(www, exist_ok=True)
    cmd = [WINE_RUN, publish_exe, "build", win_path(client), win_path(www), "--level", str(level)]
    result = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                            encoding="utf-8", errors="replace", timeout=900)
    if result.returncode != 0:
        raise RuntimeError("SarvikPublish failed:\n" + result.stdout + result.stderr)
    return result.stdout


def write_config(www, base_url, run_path=GAME_PROGRAM, extra=""):
    with open(os.path.join(www, "draskeltorrent.config.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\n'
                f'<torrent_config run_path="{run_path}"{extra}>\n'
                f'  <foreground_patch crcpatch_url="{base_url}" crcversion=""/>\n'
                '</torrent_config>\n')


def write_launcher_pages(www):
    """The feed document and the news page the sample skin shows."""
    launcher = os.path.join(www, "launcher")
    os.makedirs(launcher, exist_ok=True)
    with open(os.path.join(launcher, "feed.xml"), "w", encoding="utf-8") as f:
        f.write('<?xml version="1.0" encoding="utf-8"?>\n'
                '<patcher_feed status="online" online="1234" link="https://draskel.example.com/">\n'
                '  <banner type="etkinlik" tag="ETKİNLİK" date="12 Aralık 2026, 20:00"'
                ' title="Kuzey Vadisi kuşatması bu hafta sonu!"/>\n'
                '  <item type="guncelleme" tag="GÜNCELLEME" date="10.12.2026"'
                ' title="Yeni zindan: Kül Mahzeni"/>\n'
                '  <item type="duyuru" tag="DUYURU" date="08.12.2026"'
                ' title="Bakım çalışması tamamlandı"/>\n'
                '  <item type="etkinlik" tag="ETKİNLİK" date="05.12.2026"'
                ' title="Hafta sonu çifte tecrübe"/>\n'
                '</patcher_feed>\n')
    with open(os.path.join(launcher, "haberler.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html><html><head><meta charset='utf-8'><title>Haberler</title></head>"
                "<body style='background:#101218;color:#e8ebf2;font-family:sans-serif'>"
                "<h3>Draskel Online</h3><p>Kuzey Vadisi kuşatması bu hafta sonu!</p></body></html>\n")
    with open(os.path.join(launcher, "duyuru.html"), "w", encoding="utf-8") as f:
        f.write("<!DOCTYPE html><html><head><meta charset='utf-8'></head><body>"
                "<h2>Duyuru</h2><p>Sunucu bakımı tamamlandı.</p></body></html>\n")


# ----------------------------------------------------------------------------- patcher

def make_skin(folder, config_url, feed_url="", news_url="", settings=None, skin_edit=None):
    """The sample skin with its server addresses replaced; `settings` overrides sarvik.ini keys
    of [patcher]; `skin_edit` rewrites skin.xml's text."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(SAMPLE_SKIN, folder, ignore=shutil.ignore_patterns("art"))
    url_file = os.path.join(folder, "TorrentPatch.url.xml")
    text = open(url_file, encoding="utf-8").read()
    text = re.sub(r'remoteConfigPath="[^"]*"', f'remoteConfigPath="{config_url}"', text)
    open(url_file, "w", encoding="utf-8").write(text)
    skin_file = os.path.join(folder, "skin.xml")
    text = open(skin_file, encoding="utf-8").read()
    text = re.sub(r'feed_url="[^"]*"', f'feed_url="{feed_url}"', text)
    if skin_edit:
        text = skin_edit(text)
    open(skin_file, "w", encoding="utf-8").write(text)
    locale_file = os.path.join(folder, "TorrentPatch.locale.xml")
    text = open(locale_file, encoding="utf-8").read()
    text = re.sub(r"(<string key=\"LAUNCHER_IFRAME\">)[^<]*", lambda m: m.group(1) + news_url, text)
    open(locale_file, "w", encoding="utf-8").write(text)
    if settings:
        ini = os.path.join(folder, "sarvik.ini")
        lines = open(ini, encoding="utf-8").read().splitlines()
        for key, value in settings.items():
            lines = [l for l in lines if not l.startswith(key + "=")] + [f"{key}={value}"]
        open(ini, "w", encoding="utf-8", newline="\r\n").write("\n".join(lines) + "\n")
    return folder


def make_patcher(sarvik_exe, embed_exe, skin_folder, dest_exe):
    """A copy of the template with the skin package written into its resources."""
    os.makedirs(os.path.dirname(dest_exe), exist_ok=True)
    shutil.copy(sarvik_exe, dest_exe)
    result = subprocess.run([WINE_RUN, embed_exe, win_path(dest_exe), win_path(skin_folder)],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=120)
    if result.returncode != 0:
        raise RuntimeError("embed_skin failed: " + result.stdout + result.stderr)
    return dest_exe


def build_patcher(builder_exe, template_exe, work, skin, config_url, out, extra=()):
    """A patcher made by the builder's headless build (with `template_exe` beside it as its
    template) from a session naming `skin` and `config_url`; `extra`: more session (key, value)
    pairs, which override the defaults here."""
    folder = os.path.join(work, "builder")
    os.makedirs(folder, exist_ok=True)
    builder = os.path.join(folder, "SarvikBuilder.exe")
    shutil.copy(builder_exe, builder)
    shutil.copy(template_exe, os.path.join(folder, "Sarvik.Template.exe"))
    os.makedirs(os.path.dirname(out), exist_ok=True)
    values = dict([("skin", win_path(skin)), ("config_url", config_url),
                   ("title", "Draskel Online"), ("out_name", "Sarvik.exe"),
                   ("v_product", "Draskel"), ("v_company", "Draskel Oyun"), ("v_version", "2.5"),
                   ("v_copyright", "(C) 2026 Draskel")])
    values.update(extra)
    session = out + ".ini"
    with open(session, "wb") as f:
        f.write(("\r\n".join(f"{k}={v}" for k, v in values.items()) + "\r\n").encode("utf-8"))
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    result = subprocess.run([WINE_RUN, builder, "--build", win_path(session), "--out",
                             win_path(out)], env=env, stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=180)
    if result.returncode != 0:
        raise RuntimeError(f"builder failed: {result.stdout!r} {result.stderr!r}")
    return out


def start_patcher(exe, *switches, env=None):
    return subprocess.Popen([WINE_RUN, exe, *switches], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)


def read_log(folder):
    path = os.path.join(folder, "temp", "Sarvik.log")
    if not os.path.exists(path):
        return ""
    return open(path, encoding="utf-8", errors="replace").read()


def wait_log(folder, pattern, timeout):
    """Waits until the patcher's log holds the regular expression; returns the match or None."""
    deadline = time.monotonic() + timeout
    while True:
        m = re.search(pattern, read_log(folder))
        if m or time.monotonic() > deadline:
            return m
        time.sleep(0.2)


def folder_digest(folder, skip=("temp",), skip_files=()):
    """{relative path: (size, sha1)} of every file, leaving out the named top-level entries."""
    out = {}
    for root, dirs, files in os.walk(folder):
        rel_root = os.path.relpath(root, folder)
        if rel_root == ".":
            dirs[:] = [d for d in dirs if d not in skip]
        for name in files:
            rel = os.path.normpath(os.path.join(rel_root, name)).replace(os.sep, "/")
            if rel in skip_files:
                continue
            h = hashlib.sha1()
            with open(os.path.join(root, name), "rb") as f:
                for block in iter(lambda: f.read(MIB), b""):
                    h.update(block)
            out[rel] = (os.path.getsize(os.path.join(root, name)), h.hexdigest())
    return out


# ----------------------------------------------------------------------------- X display

def xdotool(*args, check=True, timeout=20):
    result = subprocess.run(["xdotool", *map(str, args)], stdin=subprocess.DEVNULL,
                            capture_output=True, text=True, timeout=timeout)
    if check and result.returncode != 0:
        raise RuntimeError(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
    return result.stdout.strip()


def _windows_named(title):
    pattern = "^" + re.escape(title) + "$"
    return xdotool("search", "--onlyvisible", "--name", pattern, check=False).split()


def _geometry(window_id):
    result = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window_id],
                            stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=20)
    if result.returncode != 0:
        return None
    values = dict(line.split("=", 1) for line in result.stdout.splitlines() if "=" in line)
    return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


def window_rect(title, timeout=30, size=None):
    """(x, y, width, height) of the visible top-level window with exactly this title (and this
    size when given), or None. Wine may replace the X window behind a Windows window, so callers
    look it up again for every action rather than keep an id."""
    deadline = time.monotonic() + timeout
    while True:
        for window_id in reversed(_windows_named(title)):
            rect = _geometry(window_id)
            if rect and (size is None or rect[2:] == tuple(size)):
                return rect
        if time.monotonic() > deadline:
            return None
        time.sleep(0.2)


def window_gone(title, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if not _windows_named(title):
            return True
        time.sleep(0.05)
    return False


def _origin(title):
    rect = window_rect(title, timeout=10)
    if not rect:
        raise RuntimeError(f"no window titled {title!r}")
    return rect[0], rect[1]


def click(title, x, y, button=1):
    """A click at skin coordinates (x, y) of the window."""
    ox, oy = _origin(title)
    xdotool("mousemove", ox + x, oy + y)
    time.sleep(0.15)
    xdotool("click", button)


def drag(title, x, y, dx, dy):
    ox, oy = _origin(title)
    xdotool("mousemove", ox + x, oy + y)
    time.sleep(0.2)
    xdotool("mousedown", 1)
    for i in range(1, 11):
        time.sleep(0.05)
        xdotool("mousemove", ox + x + dx * i // 10, oy + y + dy * i // 10)
    time.sleep(0.2)
    xdotool("mouseup", 1)
    time.sleep(0.3)


def press_key(key):
    """A key press for the window that has the focus."""
    xdotool("key", key)


def screenshot(path, crop=None):
    """A capture of the whole X display (the real window as the player sees it); `crop` is
    (x, y, width, height) of the part to keep."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    cmd = ["import", "-window", "root"]
    if crop:
        x, y, w, h = crop
        cmd += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    subprocess.run(cmd + [path], check=True, stdin=subprocess.DEVNULL, capture_output=True,
                   timeout=60)
    return path
