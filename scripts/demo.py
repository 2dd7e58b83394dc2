#!/usr/bin/python3
"""The demo behind scripts/demo: a sample game client published with SarvikPublish and served by
nginx on 127.0.0.1, a patcher made from the sample skin for that server by the builder's headless
build (SarvikBuilderCli.exe --build, as an operator's build server would run it), and one real update run
of Sarvik.exe under Wine in an empty game folder, with screenshots of its window, the START
button pressed at the end and a short summary. Exit 0 only when the game folder equals the
client.

  demo.py --build BUILD_DIR --out OUT_DIR [--big-mb N]"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import nginx_server  # noqa: E402
import patcher_window as pw  # noqa: E402
import skin_layout  # noqa: E402

TITLE = "Draskel Online"


def rate_text(rate):
    """nginx's "2m" as "2 MB/s"."""
    units = {"k": "KB/s", "m": "MB/s", "g": "GB/s"}
    return rate[:-1] + " " + units[rate[-1].lower()] if rate[-1:].lower() in units else rate + " B/s"


def step(text):
    print(f"[demo] {text}", flush=True)


def build_patcher(builder, session_path, skin, dest, values):
    """Writes a session file in the builder's own format and runs its headless build."""
    lines = ["; Sarvik Olusturucu - son oturum (parola kaydedilmez)", "skin=" + pw.win_path(skin)]
    lines += [f"{k}={v}" for k, v in values.items()]
    with open(session_path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("utf-8"))
    result = subprocess.run([pw.WINE_RUN, builder, "--build", pw.win_path(session_path),
                             "--out", pw.win_path(dest)], stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=300)
    text = result.stdout.decode("utf-8", "replace")
    if result.returncode != 0:
        raise RuntimeError("the headless build failed\n" + text + result.stderr.decode("utf-8", "replace"))
    return text


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--big-mb", type=int, default=120)
    # Per connection, like a fast home line: the run then lasts long enough to be watched.
    # "0" serves at full local speed.
    ap.add_argument("--rate", default="2m")
    args = ap.parse_args()
    build = os.path.abspath(args.build)
    out = os.path.abspath(args.out)
    exe = {
        "sarvik": os.path.join(build, "patcher", "app", "Sarvik.exe"),
        "builder": os.path.join(build, "builder", "SarvikBuilderCli.exe"),
        "game": os.path.join(build, "tests", "app", "fake_game.exe"),
        "publish": os.path.join(build, "publisher", "SarvikPublish.exe"),
    }
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    client = os.path.join(out, "client")
    www = os.path.join(out, "www")
    game = os.path.join(out, "game")
    shots = os.path.join(out, "screenshots")

    step(f"making a sample game client in {client}")
    sizes = pw.make_client(client, exe["game"], args.big_mb)
    step(f"  {len(sizes)} files, {sum(sizes.values()) / pw.MIB:.1f} MiB")
    step("publishing it with SarvikPublish")
    print(pw.publish(exe["publish"], client, os.path.join(www, "patch")).rstrip(), flush=True)

    saved = nginx_server.CONFIG
    if args.rate != "0":
        nginx_server.CONFIG = saved.replace("location / {{ }}",
                                            "location / {{ limit_rate %s; }}" % args.rate)
    try:
        server = nginx_server.Nginx(www, os.path.join(out, "nginx")).start()
    finally:
        nginx_server.CONFIG = saved
    proc = None
    try:
        base = server.url()
        step(f"nginx serves {www} at {base}"
             + (f" ({rate_text(args.rate)} per connection)" if args.rate != "0" else ""))
        pw.write_config(os.path.join(www, "patch"), base + "/patch/",
                        extra=f' notice_ver="1" notice_url="{base}/launcher/duyuru.html"')
        pw.write_launcher_pages(www)

        # The sample skin as an operator receives it; the builder writes the server addresses in.
        skin = pw.make_skin(os.path.join(out, "skin"), "")
        os.makedirs(game)
        patcher = os.path.join(game, "Sarvik.exe")
        step("making the patcher with SarvikBuilderCli.exe --build")
        print(build_patcher(exe["builder"], os.path.join(out, "olusturucu.ini"), skin, patcher, {
            "config_url": base + "/patch/draskeltorrent.config.xml",
            "feed_url": base + "/launcher/feed.xml",
            "iframe_url": base + "/launcher/haberler.html",
            "title": TITLE, "out_name": "Sarvik.exe", "v_product": "Draskel",
            "v_company": "Draskel Oyun", "v_version": "1.0"}).rstrip(), flush=True)
        layout = skin_layout.SkinLayout(skin)

        step(f"starting Sarvik.exe under Wine in the empty folder {game} (DISPLAY={os.environ.get('DISPLAY')})")
        began = time.monotonic()
        proc = pw.start_patcher(patcher)
        rect = pw.window_rect(TITLE, timeout=60, size=(layout.width, layout.height))
        if not rect:
            raise RuntimeError("the patcher window did not appear\n" + pw.read_log(game))
        crop = rect

        # The notice of the configuration: accepted as a player would, with Enter.
        if pw.wait_log(game, r"Duyuru gosteriliyor", 30):
            time.sleep(1.0)
            pw.xdotool("key", "Return")
        if not pw.wait_log(game, r"Indirme basliyor", 120):
            raise RuntimeError("the download did not start\n" + pw.read_log(game))
        download_began = time.monotonic()
        time.sleep(4.0)
        downloading = pw.screenshot(os.path.join(shots, "window-downloading.png"), crop)
        step(f"screenshot while downloading: {downloading}")

        if not pw.wait_log(game, r"Tamamlandi\.|HATA:", 900):
            raise RuntimeError("the run did not end\n" + pw.read_log(game))
        seconds = time.monotonic() - download_began
        total_seconds = time.monotonic() - began
        time.sleep(0.5)  # one status tick
        done = pw.screenshot(os.path.join(shots, "window-done.png"), crop)
        step(f"screenshot when done: {done}")
        log = pw.read_log(game)
        if "HATA:" in log:
            raise RuntimeError("the run failed\n" + log)

        step("pressing START")
        pw.click(TITLE, *layout.center("START"))
        marker = os.path.join(game, pw.MARKER)
        deadline = time.monotonic() + 20
        while not os.path.exists(marker) and time.monotonic() < deadline:
            time.sleep(0.2)
        started = os.path.exists(marker)
        closed = pw.window_gone(TITLE, 10) and proc.wait(timeout=20) == 0
        proc = None

        want = pw.folder_digest(client)
        got = pw.folder_digest(game, skip_files=("Sarvik.exe", pw.MARKER,
                                                 "draskeltorrent.config.xml"))
        same = want == got
        total = sum(sizes.values())
        print()
        print("Sarvik demo summary")
        print(f"  files installed : {len(got)} of {len(want)}"
              f" ({'identical to the client' if same else 'DIFFERENT from the client'})")
        print(f"  bytes           : {total} ({total / pw.MIB:.1f} MiB)")
        print(f"  download+install: {seconds:.1f} s, {total / pw.MIB / max(seconds, 0.001):.1f} MB/s"
              f" (whole run {total_seconds:.1f} s"
              + (f"; nginx limited to {rate_text(args.rate)} per connection)"
                 if args.rate != "0" else ")"))
        print(f"  game started    : {'yes' if started else 'NO'}"
              f"{', patcher closed' if closed else ', patcher still open'}")
        print(f"  screenshots     : {downloading}")
        print(f"                    {done}")
        if not same:
            for path in sorted(set(want) | set(got)):
                if want.get(path) != got.get(path):
                    print(f"  differs: {path}")
        return 0 if same and started else 1
    finally:
        if proc and proc.poll() is None:
            proc.kill()
            proc.wait()
        server.stop()


if __name__ == "__main__":
    sys.exit(main())
