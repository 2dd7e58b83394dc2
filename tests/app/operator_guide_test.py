#!/usr/bin/python3
"""The README's operator guide, followed literally: its command blocks are taken from README.md
and run with bash in an empty folder, with only the two lines that name the server (URL and WEB)
pointed at an nginx on 127.0.0.1. The programs the guide names are the build's, under Wine. The
patcher the guide builds is then started in an empty game folder and must install the client;
after the guide's update block (a changed, a new and a removed file) it must bring the update.
A README whose commands no longer work with the programs fails here.

  operator_guide_test.py --readme README.md --publish EXE --builder-cli EXE --game EXE
                         --skin DIR --work DIR

Results are written in GoogleTest's XML format to $SV_RESULTS_DIR/operator_guide.xml."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import nginx_server  # noqa: E402
import patcher_window as pw  # noqa: E402
import skin_layout  # noqa: E402
from gtest_results import Failure, check, run_cases, stop_processes  # noqa: E402

TITLE = "Draskel Online"  # the guide's session sets it
args = None
started = []
servers = []


def guide_block(readme, name):
    """The shell block after the marker <!-- guide: NAME -->."""
    m = re.search(r"<!-- guide: %s -->\s*```sh\n(.*?)```" % re.escape(name), readme, re.S)
    check(m is not None, f"README.md has no block marked guide: {name}")
    return m.group(1)


def point_at(script, url, web):
    """The block with its URL= and WEB= lines (each must be there once) set to this server."""
    for var, value in (("URL", url), ("WEB", web)):
        pattern = re.compile(r"^%s=.*$" % var, re.M)
        check(len(pattern.findall(script)) == 1, f"the guide's first block sets {var} once")
        script = pattern.sub(lambda _m, v=value, n=var: f"{n}={v}", script)
    return script


def program_wrappers(folder):
    """SarvikPublish and SarvikBuilderCli.exe on the PATH, as the guide calls them."""
    os.makedirs(folder, exist_ok=True)
    for name, exe in (("SarvikPublish", args.publish), ("SarvikBuilderCli.exe", args.builder_cli)):
        path = os.path.join(folder, name)
        with open(path, "w") as f:
            f.write(f'#!/bin/sh\nexec "{pw.WINE_RUN}" "{exe}" "$@"\n')
        os.chmod(path, 0o755)


def run_block(work, script, bin_dir):
    env = dict(os.environ)
    env["PATH"] = bin_dir + os.pathsep + env["PATH"]
    env.pop("DISPLAY", None)  # the programs of the guide need none
    p = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=work, env=env,
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, encoding="utf-8",
                       errors="replace", timeout=900)
    check(p.returncode == 0, f"the guide's commands failed ({p.returncode})\n{p.stdout[-3000:]}\n"
                             f"{p.stderr[-3000:]}")
    return p.stdout + p.stderr


def run_patcher(game, patcher):
    """Starts the patcher the guide built in the game folder and waits for its run to end. The
    log of a run before is moved to Sarvik.log.1 as the patcher starts: only then is Sarvik.log
    this run's."""
    before = pw.read_log(game)
    proc = pw.start_patcher(patcher)
    started.append(proc)
    if before:
        kept = os.path.join(game, "temp", "Sarvik.log.1")
        deadline = time.monotonic() + 60
        while not (os.path.exists(kept) and open(kept, encoding="utf-8", errors="replace").read() == before):
            check(time.monotonic() < deadline, "the previous run's log was not kept as Sarvik.log.1")
            time.sleep(0.1)
    m = pw.wait_log(game, r"Tamamlandi\.|HATA: [^\r\n]*", 180)
    check(m is not None and m.group(0) == "Tamamlandi.",
          f"the patcher's run: {m and m.group(0)}\n{pw.read_log(game)[-3000:]}")
    # Closed as a player closes it: a killed Wine process can leave the next one waiting.
    layout = skin_layout.SkinLayout(args.skin)
    check(pw.window_rect(TITLE, timeout=30, size=(layout.width, layout.height)) is not None, "no window")
    pw.click(TITLE, *layout.center("EXIT"))
    check(pw.window_gone(TITLE, 10), "EXIT did not close the patcher")
    proc.wait(timeout=30)
    return pw.read_log(game)


def case_first_release_and_an_update_from_an_empty_folder():
    work = os.path.join(args.work, "operator")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    readme = open(args.readme, encoding="utf-8").read()
    first, update = guide_block(readme, "first-release"), guide_block(readme, "update")
    client = os.path.join(work, "client")
    pw.make_client(client, args.game, big_mb=2)
    shutil.copytree(args.skin, os.path.join(work, "skin"))
    www = os.path.join(args.work, "operator-www")
    shutil.rmtree(www, ignore_errors=True)
    os.makedirs(www)
    server = nginx_server.Nginx(www, os.path.join(args.work, "operator-nginx")).start()
    servers.append(server)
    bin_dir = os.path.join(args.work, "operator-bin")
    program_wrappers(bin_dir)
    setup = point_at(first, server.url() + "/draskel/", os.path.join(www, "draskel"))
    out = run_block(work, setup, bin_dir)
    check("checked " in out and " 0 bad" in out, f"verify after the first upload:\n{out[-2000:]}")

    game = os.path.join(args.work, "operator-game")
    shutil.rmtree(game, ignore_errors=True)
    os.makedirs(game)
    # The test client's game program is called Draskel.exe too: the player keeps the patcher the
    # guide built under another name beside it.
    shutil.copy(os.path.join(work, "Draskel.exe"), os.path.join(game, "Oyun Yama.exe"))
    run_patcher(game, os.path.join(game, "Oyun Yama.exe"))
    skip = ("Oyun Yama.exe",)
    check(pw.folder_digest(game, skip_files=skip) == pw.folder_digest(client), "first install differs")

    gone = "readme.txt"
    os.remove(os.path.join(client, gone))
    with open(os.path.join(client, "data", "yeni.txt"), "w") as f:
        f.write("yeni dosya")
    with open(os.path.join(client, "Oyun Ayarları.ini"), "a") as f:
        f.write("\n[yeni]\n")
    with open(os.path.join(game, "oyuncunun.txt"), "w") as f:
        f.write("a file the player made")
    # The update block runs in the same shell state as the first: URL and WEB carried over.
    server_lines = [line for line in setup.splitlines() if line.startswith(("URL=", "WEB="))]
    out = run_block(work, "\n".join(server_lines) + "\n" + update, bin_dir)
    for line in ("removed " + gone, "new data/yeni.txt", "changed Oyun Ayarları.ini",
                 "update: players download 2 file(s)"):
        check(line in out, f"the update's build did not print {line!r}:\n{out[-2000:]}")
    fetched_before = len(nginx_server.access_lines(server.access_log, ".lz?v="))
    log = run_patcher(game, os.path.join(game, "Oyun Yama.exe"))
    fetched = nginx_server.access_lines(server.access_log, ".lz?v=")[fetched_before:]
    check(len({line.split()[1] for line in fetched}) == 2, f"the player fetched other files: {fetched}")
    check("Kaldirilan dosya silindi: " + gone in log, log[-2000:])
    check(pw.folder_digest(game, skip_files=skip + ("oyuncunun.txt",)) == pw.folder_digest(client),
          "the update did not bring the game folder to the new client")
    check(os.path.exists(os.path.join(game, "oyuncunun.txt")), "the player's file was deleted")


def stop_started():
    stop_processes(started)
    for server in servers:
        server.stop()
    servers.clear()


CASES = [case_first_release_and_an_update_from_an_empty_folder]


def main():
    global args
    parser = argparse.ArgumentParser()
    for name in ("readme", "publish", "builder-cli", "game", "skin", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    check(os.environ.get("DISPLAY"), "the patcher needs an X display (source scripts/test-env)")
    return run_cases("operator_guide", "OperatorGuide", CASES, args.only, Failure, stop_started)


if __name__ == "__main__":
    sys.exit(main())
