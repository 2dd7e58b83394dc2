#!/usr/bin/python3
"""The release tool as a program: its exit codes and help, verifying a release over HTTP from
nginx, and (on the Windows build) a release installed by the update engine's console tool
(svupdate.exe) into an empty folder, then updated after two files changed, and a release
published while that tool is updating from the one before.

  publish_tool_test.py --tool EXE --work DIR [--wine] [--svupdate EXE]

Writes its cases to $SV_RESULTS_DIR/publish_tool.xml in GoogleTest's format."""
import argparse
import hashlib
import os
import random
import shutil
import signal
import subprocess
import sys
import time
import traceback
import zlib

SOURCE = os.environ.get("SV_SOURCE_DIR") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(SOURCE, "tests", "support"))
import nginx_server  # noqa: E402
from gtest_results import Failure, check, write_results  # noqa: E402
from nginx_server import access_lines  # noqa: E402
from release_tree import same_tree  # noqa: E402

WINE_RUN = os.path.join(SOURCE, "scripts", "wine-run")
FINISHED = "Güncelleme tamamlandı!"


class Tool:
    def __init__(self, args):
        self.exe = args.tool
        self.wine = args.wine

    def path(self, p):
        return "Z:" + os.path.abspath(p) if self.wine else p

    def run(self, *args, timeout=600):
        cmd = ([WINE_RUN] if self.wine else []) + [self.exe, *args]
        p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                           encoding="utf-8", errors="replace", stdin=subprocess.DEVNULL,
                           timeout=timeout)
        return p.returncode, p.stdout, p.stderr


def make_client(folder, seed=5):
    """A small game client: programs, data packs, text, an empty file, spaces, non-ASCII."""
    shutil.rmtree(folder, ignore_errors=True)
    rng = random.Random(seed)
    files = {
        "game.exe": rng.randbytes(3000) * 20,
        "config.exe": b"options",
        "pack/item_proto.bin": bytes(rng.randrange(8) for _ in range(200000)),
        "pack/map/zeros.bin": bytes(300000),
        "pack/noise.bin": rng.randbytes(150000),
        "locale/tr/strings.txt": ("anahtar=değer\n" * 4000).encode(),
        "with space/read me.txt": b"hello",
        "empty.bin": b"",
    }
    for rel, data in files.items():
        full = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(data)
    return files


def digest_tree(folder):
    out = {}
    for base, _, names in os.walk(folder):
        for n in names:
            full = os.path.join(base, n)
            with open(full, "rb") as f:
                out[os.path.relpath(full, folder)] = (hashlib.sha1(f.read()).hexdigest(),
                                                       os.stat(full).st_mtime_ns)
    return out


def case_command_line(tool, work):
    rc, out, err = tool.run("--help")
    check(rc == 0 and "Usage: SarvikPublish" in out, f"--help: {rc}\n{out}{err}")
    for sub in ("build", "verify", "lz", "size"):
        rc, out, _ = tool.run(sub, "--help")
        check(rc == 0 and f"SarvikPublish {sub}" in out, f"{sub} --help: {rc}\n{out}")
    for args in ([], ["publish"], ["build", "only-one"], ["build", "a", "b", "--level", "10"],
                 ["build", "a", "b", "--bogus"], ["build", "a", "b", "--base-url", "ftp://x"],
                 ["lz", "compress", "a"], ["lz", "decompress", "a", "b", "--level", "3"],
                 ["size", "only-one"], ["build", "a", "b", "--chunks=yes"]):
        rc, out, err = tool.run(*args)
        check(rc == 2 and "error:" in err, f"{args}: want 2, got {rc}\n{out}{err}")
    rc, _, err = tool.run("build", tool.path(os.path.join(work, "none")),
                          tool.path(os.path.join(work, "out-none")))
    check(rc == 1 and "error:" in err, f"missing client: {rc}\n{err}")
    src = os.path.join(work, "lz-in.bin")
    with open(src, "wb") as f:
        f.write(b"SarvikPublish " * 5000 + bytes(range(256)))
    patcher = os.path.join(work, "Sarvik.exe")
    with open(patcher, "wb") as f:
        f.write(b"a patcher signed after its build")
    rc, out, err = tool.run("crc", tool.path(patcher))
    check(rc == 0 and out == "sv_patcher_crc32=%08X\n" % zlib.crc32(b"a patcher signed after its build"),
          f"crc: {rc}\n{out}{err}")
    rc, out, err = tool.run("build", "a", "b", "--flat", "--versioned")
    check(rc == 2 and "--flat and --versioned exclude each other" in err, f"flat+versioned: {rc}\n{err}")
    rc, out, err = tool.run("lz", "compress", tool.path(src), tool.path(src + ".lz"), "--level=1")
    check(rc == 0, f"compress: {rc}\n{out}{err}")
    rc, out, err = tool.run("lz", "decompress", tool.path(src + ".lz"), tool.path(src + ".back"))
    check(rc == 0, f"decompress: {rc}\n{out}{err}")
    check(open(src, "rb").read() == open(src + ".back", "rb").read(), "lz round trip differs")
    rc, _, err = tool.run("lz", "decompress", tool.path(src), tool.path(src + ".x"))
    check(rc == 1 and not os.path.exists(src + ".x"), f"decompressing a non-.lz: {rc}\n{err}")


def case_stopped_by_a_signal(tool, work):
    """A build killed by Ctrl+C's SIGINT the moment it has replaced a.bin.lz, and by SIGKILL once
    it has gone on to the next file's .lz; the operator restores a.bin with its times (cp -p)
    and builds again: the rebuild must not keep the replaced .lz, and cleans the partial .lz."""
    for sig in (signal.SIGINT, signal.SIGKILL):
        client = os.path.join(work, "client-signal")
        rel = os.path.join(work, "out-signal")
        shutil.rmtree(client, ignore_errors=True)
        shutil.rmtree(rel, ignore_errors=True)
        os.makedirs(client)
        rng = random.Random(9)
        a = os.path.join(client, "a.bin")
        big = os.path.join(client, "z.bin")
        with open(a, "wb") as f:
            f.write(b"a" * 50000)  # "b" * 50000 packs to the same size
        with open(big, "wb") as f:
            f.write(bytes(rng.randrange(16) for _ in range(12 << 20)))
        rc, out, err = tool.run("build", client, rel)
        check(rc == 0, f"first build: {rc}\n{out}{err}")
        saved = os.path.join(work, "a.bin.saved")
        shutil.copy2(a, saved)
        with open(a, "wb") as f:
            f.write(b"b" * 50000)
        with open(big, "ab") as f:
            f.write(b"more")
        lz = os.path.join(rel, "a.bin.lz")
        first = os.stat(lz).st_ino
        p = subprocess.Popen([tool.exe, "build", client, rel], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 120
        while os.stat(lz).st_ino == first and p.poll() is None and time.monotonic() < deadline:
            time.sleep(0.001)
        replaced = os.stat(lz).st_ino != first
        partial = os.path.join(rel, "z.bin.lz.svtmp")
        if sig == signal.SIGKILL:
            # This one stops it half way through the next file, leaving its partial .lz.
            while not os.path.exists(partial) and p.poll() is None:
                time.sleep(0.001)
        left_partial = os.path.exists(partial)
        p.send_signal(sig)
        rc = p.wait()
        check(replaced and rc == -sig, f"{sig.name}: replaced {replaced}, exit {rc}")
        shutil.copy2(saved, a)
        rc, out, err = tool.run("build", client, rel)
        check(rc == 0 and "0 unchanged" in out, f"rebuild after {sig.name}: {rc}\n{out}{err}")
        check(("removed 1 partly written" in out) == left_partial,
              f"partial z.bin.lz ({left_partial}): {out}")
        rc, out, err = tool.run("verify", rel)
        check(rc == 0, f"verify after {sig.name}: {rc}\n{out}{err}")
        check(not [n for n in os.listdir(rel) if n.endswith(".svtmp")], os.listdir(rel))


def serve(work, root, name):
    server = nginx_server.Nginx(root, os.path.join(work, "nginx-" + name)).start()
    return server


def case_verify_over_http(tool, work):
    root = os.path.join(work, "www")
    shutil.rmtree(root, ignore_errors=True)
    client = os.path.join(work, "client-verify")
    make_client(client)
    rel = os.path.join(root, "patch")
    rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--level", "1")
    check(rc == 0, f"build: {rc}\n{out}{err}")
    server = serve(work, root, "verify")
    try:
        url = server.url() + "/patch/"
        rc, out, err = tool.run("verify", url)
        check(rc == 0 and "checked 8 files: 0 bad" in out, f"good release: {rc}\n{out}{err}")
        with open(os.path.join(rel, "pack", "noise.bin.lz"), "r+b") as f:
            f.truncate(1000)
        os.remove(os.path.join(rel, "with space", "read me.txt.lz"))
        rc, out, err = tool.run("verify", url)
        check(rc == 1, f"damaged release: {rc}\n{out}{err}")
        check("BAD pack/noise.bin: pack/noise.bin.lz cannot be unpacked" in out, out)
        check("BAD with space/read me.txt: with space/read me.txt.lz missing" in out, out)
        check("checked 8 files: 2 bad" in out, out)
        rc, out, err = tool.run("verify", server.url() + "/nothing/")
        check(rc == 1 and "crclist" in err, f"no list: {rc}\n{out}{err}")
    finally:
        server.stop()


def case_install_with_update_engine(tool, work, svupdate):
    root = os.path.join(work, "www-install")
    shutil.rmtree(root, ignore_errors=True)
    client = os.path.join(work, "client-install")
    files = make_client(client)
    rel = os.path.join(root, "patch")
    server = serve(work, root, "install")
    try:
        base = server.url() + "/patch/"
        rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--base-url", base)
        check(rc == 0, f"build: {rc}\n{out}{err}")
        game = os.path.join(work, "game")

        def update():
            shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
            os.makedirs(game, exist_ok=True)
            p = subprocess.run([WINE_RUN, svupdate, "--folder", "Z:" + os.path.abspath(game),
                                "--config", base + "draskeltorrent.config.xml"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                               encoding="utf-8", errors="replace", stdin=subprocess.DEVNULL,
                               timeout=600)
            check(p.returncode == 0 and "RESULT ok" in p.stdout and FINISHED in p.stdout,
                  f"svupdate: {p.returncode}\n{p.stdout[-3000:]}")
            shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
            diff = same_tree(client, game)
            check(diff is None, f"installed folder differs: {diff}")

        shutil.rmtree(game, ignore_errors=True)
        update()

        before = digest_tree(rel)
        time.sleep(1.1)  # a new time stamp on every file system
        with open(os.path.join(client, "pack", "item_proto.bin"), "ab") as f:
            f.write(b"new items")
        with open(os.path.join(client, "locale", "tr", "strings.txt"), "wb") as f:
            f.write(files["locale/tr/strings.txt"].replace("değer".encode(), "DEĞER".encode()))
        rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--base-url", base, "--flat")
        check(rc == 0 and "2 compressed, 6 unchanged" in out, f"rebuild: {rc}\n{out}{err}")
        after = digest_tree(rel)
        rewritten = sorted(k for k in after if after[k] != before.get(k))
        expected = sorted([os.path.join("pack", "item_proto.bin.lz"),
                           os.path.join("locale", "tr", "strings.txt.lz"), "crclist",
                           "sarvikpublish.manifest"])
        check(rewritten == expected, f"rewritten: {rewritten}")
        update()
    finally:
        server.stop()

def case_signed_release(tool, work, svupdate):
    """keygen, a signed versioned build served by nginx, verify --key as a patcher checks, the
    engine installing it with the key, and sign after a hand edit."""
    root = os.path.join(work, "www-signed")
    keys = os.path.join(work, "keys")
    for d in (root, keys):
        shutil.rmtree(d, ignore_errors=True)
    os.makedirs(keys)
    client = os.path.join(work, "client-signed")
    make_client(client)
    key, other = os.path.join(keys, "op"), os.path.join(keys, "other")
    for k in (key, other):
        rc, out, err = tool.run("keygen", k)
        check(rc == 0 and os.path.exists(k + ".pub"), f"keygen: {rc}\n{out}{err}")
    check(os.stat(key).st_mode & 0o777 == 0o600, "the private key is readable by others")
    rc, out, err = tool.run("keygen", key)
    check(rc == 1 and "never overwritten" in err, f"keygen over a key: {rc}\n{err}")
    server = serve(work, root, "signed")
    try:
        base = server.url() + "/patch/"
        rel = os.path.join(root, "patch")
        rc, out, err = tool.run("build", client, rel, "--base-url", base, "--versioned",
                                "--sign-key", key, "--jobs", "2")
        check(rc == 0 and "signed release 1 with key" in out, f"build: {rc}\n{out}{err}")
        rc, out, err = tool.run("verify", base, "--key", key + ".pub")
        check(rc == 0 and "checked 8 files: 0 bad" in out, f"verify: {rc}\n{out}{err}")
        rc, out, err = tool.run("verify", base, "--key", other + ".pub")
        check(rc == 1 and "BAD sarvik.release: not signed by key" in out, f"other key\n{out}")
        # The removal lines are signed with the list: one added on the server is refused.
        version = [n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n))][0]
        listing = os.path.join(rel, version, "crclist")
        signed_list = open(listing, "rb").read()
        with open(listing, "ab") as f:
            f.write(b"#removed game.exe\n")
        rc, out, err = tool.run("verify", base, "--key", key + ".pub")
        check(rc == 1 and "crclist does not match the hash" in out, f"unsigned removal\n{out}")
        with open(listing, "wb") as f:
            f.write(signed_list)

        game = os.path.join(work, "game-signed")
        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        p = subprocess.run([svupdate, "--folder", game, "--config",
                            base + "draskeltorrent.config.xml", "--release-key", key + ".pub"],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           encoding="utf-8", errors="replace", timeout=300)
        check(p.returncode == 0 and "RESULT ok" in p.stdout, f"svupdate\n{p.stdout[-3000:]}")
        shutil.rmtree(os.path.join(game, "temp"))
        check(same_tree(client, game) is None, "the signed release did not install the client")

        config = os.path.join(rel, "draskeltorrent.config.xml")
        with open(config, "a") as f:
            f.write("<!-- edited by hand -->\n")
        rc, out, err = tool.run("verify", base, "--key", key + ".pub")
        check(rc == 1 and "BAD draskeltorrent.config.xml: does not match" in out, out)
        rc, out, err = tool.run("sign", rel, "--sign-key", key, "--release", "1")
        check(rc == 1 and "is not above release 1" in err, f"sign lower\n{err}")
        rc, out, err = tool.run("sign", rel, "--sign-key", key, "--expires", "1s")
        check(rc == 0 and "signed release 2" in out, f"sign: {rc}\n{out}{err}")
        time.sleep(2.1)
        rc, out, err = tool.run("verify", base, "--key", key + ".pub")
        check(rc == 1 and "BAD sarvik.release: expired" in out, f"expired\n{out}")
        rc, out, err = tool.run("sign", rel, "--sign-key", key)
        check(rc == 0, err)
        version = [n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n))][0]
        with open(os.path.join(rel, version, "pack", "noise.bin.lz"), "r+b") as f:
            f.seek(100)
            f.write(b"\xff" * 8)
        rc, out, err = tool.run("verify", base, "--key", key + ".pub")
        check(rc == 1 and "BAD pack/noise.bin: pack/noise.bin.lz does not match the SHA-256" in out,
              out)
    finally:
        server.stop()


def run_svupdate(svupdate, native, game, config):
    os.makedirs(game, exist_ok=True)
    cmd = ([] if native else [WINE_RUN]) + [svupdate, "--folder", game if native else
                                            "Z:" + os.path.abspath(game), "--config", config]
    p = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                       encoding="utf-8", errors="replace", stdin=subprocess.DEVNULL, timeout=600)
    log_path = os.path.join(game, "temp", "Sarvik.log")
    log = open(log_path, encoding="utf-8", errors="replace").read() if os.path.exists(log_path) else ""
    check(p.returncode == 0 and "RESULT ok" in p.stdout, f"svupdate: {p.returncode}\n{p.stdout[-3000:]}")
    return log


def case_removed_files(tool, work, svupdate, native):
    """A file taken out of the client is deleted from players' folders by the next release;
    a file the player put into the same folder, a file no release listed and a listed file the
    player changed stay. The second build goes into a version by itself (the output folder holds
    a configuration), prints what changed and what players download; --keep-removed leaves a
    later removal on players' disks while the earlier one stays announced."""
    root = os.path.join(work, "www-removed")
    shutil.rmtree(root, ignore_errors=True)
    client = os.path.join(work, "client-removed")
    make_client(client)
    rel = os.path.join(root, "patch")
    game = os.path.join(work, "game-removed")
    shutil.rmtree(game, ignore_errors=True)
    server = serve(work, root, "removed")
    try:
        base = server.url() + "/patch/"
        config = base + "draskeltorrent.config.xml"
        rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--base-url", base)
        check(rc == 0 and "update: players download 8 file(s)" in out, f"first build: {rc}\n{out}{err}")
        check(not [n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n)) and n[0].isdigit()],
              "a first build into an empty folder made a version")
        run_svupdate(svupdate, native, game, config)
        player_files = {"pack/mine.cfg": b"the player's own file", "screenshots/a.png": b"png"}
        for name, data in player_files.items():
            os.makedirs(os.path.dirname(os.path.join(game, name)), exist_ok=True)
            with open(os.path.join(game, name), "wb") as f:
                f.write(data)
        with open(os.path.join(game, "with space", "read me.txt"), "wb") as f:
            f.write(b"the player edited this")

        for gone in ("pack/noise.bin", "with space/read me.txt"):
            os.remove(os.path.join(client, gone))
        with open(os.path.join(client, "pack", "item_proto.bin"), "ab") as f:
            f.write(b"new items")
        rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--level", "1")
        check(rc == 0, f"second build: {rc}\n{out}{err}")
        for line in ("changed pack/item_proto.bin", "removed pack/noise.bin",
                     "removed with space/read me.txt", "update: players download 1 file(s)"):
            check(line in out, f"no {line!r} in\n{out}")
        versions = [n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n)) and n[0].isdigit()]
        check(len(versions) == 1, f"the rebuild was not versioned: {os.listdir(rel)}")
        listing = open(os.path.join(rel, versions[0], "crclist"), encoding="utf-8").read()
        check("#removed pack/noise.bin\n" in listing and "#removed with space/read me.txt\n" in listing,
              listing)
        log = run_svupdate(svupdate, native, game, config)
        check(not os.path.exists(os.path.join(game, "pack", "noise.bin")), "the removed file stayed")
        check("Kaldirilan dosya silindi: pack" in log, log[-2000:])
        for name, data in player_files.items():
            check(open(os.path.join(game, name), "rb").read() == data, f"{name} changed")
        check(open(os.path.join(game, "with space", "read me.txt"), "rb").read() == b"the player edited this",
              "a listed file the player changed was deleted")

        time.sleep(1.1)
        os.remove(os.path.join(client, "config.exe"))
        rc, out, err = tool.run("build", tool.path(client), tool.path(rel), "--level", "1",
                                "--keep-removed")
        check(rc == 0 and "removed config.exe (players keep their copy)" in out, f"{rc}\n{out}{err}")
        newest = sorted(n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n)) and n[0].isdigit())[-1]
        listing = open(os.path.join(rel, newest, "crclist"), encoding="utf-8").read()
        check("#removed pack/noise.bin\n" in listing and "config.exe" not in listing, listing)
        run_svupdate(svupdate, native, game, config)
        check(os.path.exists(os.path.join(game, "config.exe")), "--keep-removed deleted the file")
    finally:
        server.stop()


def case_verify_from_configuration(tool, work):
    """verify given the address the patcher is built with names what would fail every player:
    a crcversion naming no published folder, an empty run_path, two sources whose lists name
    different patcher builds; a good configuration passes."""
    root = os.path.join(work, "www-verify-config")
    shutil.rmtree(root, ignore_errors=True)
    client = os.path.join(work, "client-verify-config")
    make_client(client)
    for name, data in (("a", b"patcher build A"), ("b", b"patcher build B")):
        with open(os.path.join(client, "Sarvik.exe"), "wb") as f:
            f.write(data)
        rc, out, err = tool.run("build", tool.path(client), tool.path(os.path.join(root, name)), "--level", "1")
        check(rc == 0, f"build {name}: {rc}\n{out}{err}")
    os.remove(os.path.join(client, "game.exe"))
    os.remove(os.path.join(client, "Sarvik.exe"))
    rc, out, err = tool.run("build", tool.path(client), tool.path(os.path.join(root, "c")), "--level", "1",
                            "--base-url", "http://127.0.0.1:1/c/")
    check(rc == 0 and "warning: run_path in draskeltorrent.config.xml is empty" in err,
          f"no program to guess: {rc}\n{err}")
    server = serve(work, root, "verify-config")
    try:
        base = server.url()

        def verify(name, body):
            with open(os.path.join(root, name), "w") as f:
                f.write(body)
            return tool.run("verify", base + "/" + name)

        rc, out, err = verify("good.xml", f'<torrent_config run_path="game.exe">'
                                          f'<foreground_patch crcpatch_url="{base}/a/"/></torrent_config>')
        check(rc == 0 and "checked 9 files: 0 bad" in out, f"good: {rc}\n{out}{err}")
        rc, out, err = verify("version.xml", f'<torrent_config run_path="game.exe"><foreground_patch '
                                             f'crcpatch_url="{base}" crcversion="20261201-000000"/></torrent_config>')
        check(rc == 1 and 'the version folder crcversion="20261201-000000" does not exist on the server' in out,
              f"missing version: {rc}\n{out}{err}")
        rc, out, err = verify("norun.xml", f'<torrent_config><foreground_patch crcpatch_url="{base}/a/"/>'
                                           f'</torrent_config>')
        check(rc == 1 and "BAD run_path is empty: players' START has no program to start" in out,
              f"empty run_path: {rc}\n{out}{err}")
        rc, out, err = verify("two.xml", f'<torrent_config run_path="game.exe"><foreground_patch '
                                         f'crcpatch_url="{base}/a/"/><foreground_patch crcpatch_url="{base}/b/"/>'
                                         f'</torrent_config>')
        check(rc == 1 and "BAD sources disagree about the patcher: source 1" in out,
              f"two patchers: {rc}\n{out}{err}")
        rc, out, err = tool.run("verify", base + "/none.xml")
        check(rc == 1 and "none.xml" in err, f"no configuration: {rc}\n{out}{err}")
    finally:
        server.stop()


CRC_MISMATCH = "CRC uyusmadi"


def live_client(folder, generation):
    """Six data files of the same size in every generation (so only the CRC tells releases apart)
    and a text that stays the same."""
    shutil.rmtree(folder, ignore_errors=True)
    rng = random.Random(100 + generation)
    for i in range(6):
        full = os.path.join(folder, "data", f"part{i}.bin")
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(rng.randbytes(96 * 1024))
    with open(os.path.join(folder, "readme.txt"), "wb") as f:
        f.write(b"same in every release\n" * 100)


def case_live_publish(tool, work, svupdate, versioned):
    """A patcher updates from release N while release N+1 is published into the folder nginx
    serves. The order is made certain, not left to timing: the patcher runs in a process group
    of its own, is stopped (SIGSTOP) as soon as nginx logs its crclist request, stays stopped
    while the build of N+1 runs to its end, and goes on after. It fetches one file at a time and
    nginx sends .lz files slowly, so at most one download can have begun before the stop; the
    other changed files are all fetched after N+1 is in place. With --versioned the game folder
    ends as exactly N (and a second run brings exactly N+1); in place, the patcher meets new
    bytes for the CRCs of its old list."""
    tag = "versioned" if versioned else "in-place"
    root = os.path.join(work, "www-live-" + tag)
    shutil.rmtree(root, ignore_errors=True)
    rel = os.path.join(root, "patch")
    client = os.path.join(work, "client-live")
    release_n = os.path.join(work, "release-n")
    game = os.path.join(work, "game-live")
    server = nginx_server.Nginx(root, os.path.join(work, "nginx-live-" + tag),
                                extra="location ~ \\.lz$ { limit_rate 96k; }").start()
    patcher = None
    try:
        base = server.url() + "/patch/"
        build = ["build", tool.path(client), tool.path(rel), "--level", "1", "--base-url", base]
        build += ["--versioned", "--keep", "1"] if versioned else ["--flat"]
        live_client(client, 1)
        rc, out, err = tool.run(*build)
        check(rc == 0, f"release N: {rc}\n{out}{err}")
        shutil.rmtree(release_n, ignore_errors=True)
        shutil.copytree(client, release_n)
        live_client(client, 2)

        shutil.rmtree(game, ignore_errors=True)
        os.makedirs(game)
        command = [WINE_RUN, svupdate, "--folder", "Z:" + os.path.abspath(game), "--config",
                   base + "draskeltorrent.config.xml", "--connections", "1"]
        patcher = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   stdin=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 120
        while not access_lines(server.access_log, "crclist"):
            check(patcher.poll() is None and time.monotonic() < deadline,
                  "the patcher never asked for the crclist")
            time.sleep(0.002)
        os.killpg(patcher.pid, signal.SIGSTOP)
        started = access_lines(server.access_log, ".lz")
        rc, out, err = tool.run(*build)
        os.killpg(patcher.pid, signal.SIGCONT)
        check(rc == 0, f"release N+1: {rc}\n{out}{err}")
        output = patcher.communicate(timeout=300)[0].decode("utf-8", "replace")
        code = patcher.returncode
        patcher = None
        with open(os.path.join(game, "temp", "Sarvik.log"), encoding="utf-8", errors="replace") as f:
            log = f.read()
        # nginx logs a request when it ends: none but the one under way can have ended.
        check(len(started) <= 1, f"downloads before the stop: {started}")
        if not versioned:
            check(CRC_MISMATCH in log, f"in place, no CRC mismatch was met: {code}\n{output[-2000:]}")
            return
        check(code == 0 and "RESULT ok" in output and CRC_MISMATCH not in log,
              f"svupdate during the publish: {code}\n{output[-3000:]}\n{log[-3000:]}")
        shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
        diff = same_tree(release_n, game)
        check(diff is None, f"the game folder is not release N: {diff}")
        p = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                           encoding="utf-8", errors="replace", stdin=subprocess.DEVNULL,
                           timeout=300)
        check(p.returncode == 0 and "RESULT ok" in p.stdout, f"second run: {p.stdout[-3000:]}")
        shutil.rmtree(os.path.join(game, "temp"), ignore_errors=True)
        diff = same_tree(client, game)
        check(diff is None, f"the second run did not bring release N+1: {diff}")
        # --keep 1 still left release N: the configuration named it until this build.
        versions = sorted(n for n in os.listdir(rel) if os.path.isdir(os.path.join(rel, n)))
        check(len(versions) == 2, f"versions: {versions}")
    finally:
        if patcher is not None:
            os.killpg(patcher.pid, signal.SIGCONT)
            os.killpg(patcher.pid, signal.SIGKILL)
            patcher.wait()
        server.stop()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--tool", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--wine", action="store_true")
    ap.add_argument("--svupdate")
    ap.add_argument("--native-svupdate", help="the host build's svupdate, for signed releases")
    ap.add_argument("--only", help="run the cases whose name contains this")
    args = ap.parse_args()
    tool = Tool(args)
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    for var in ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"):
        os.environ.pop(var, None)
    cases = [("CommandLine", lambda: case_command_line(tool, work)),
             ("VerifyOverHttp", lambda: case_verify_over_http(tool, work)),
             ("VerifyFromTheConfiguration", lambda: case_verify_from_configuration(tool, work))]
    if args.svupdate or args.native_svupdate:
        cases.append(("RemovedFilesLeavePlayersFolders",
                      lambda: case_removed_files(tool, work, args.svupdate or args.native_svupdate,
                                                 not args.svupdate)))
    if not args.wine:
        # A signal reaches the program itself only when it runs natively.
        cases.append(("StoppedBySignal", lambda: case_stopped_by_a_signal(tool, work)))
    if args.native_svupdate:
        cases.append(("SignedRelease",
                      lambda: case_signed_release(tool, work, args.native_svupdate)))
    if args.svupdate:
        cases.append(("InstallAndUpdateWithTheEngine",
                      lambda: case_install_with_update_engine(tool, work, args.svupdate)))
        cases.append(("LivePublishVersioned",
                      lambda: case_live_publish(tool, work, args.svupdate, True)))
        cases.append(("LivePublishInPlaceMeetsMismatches",
                      lambda: case_live_publish(tool, work, args.svupdate, False)))
    results = []
    cases = [c for c in cases if not args.only or args.only in c[0]]
    for name, body in cases:
        start = time.monotonic()
        print(f"[ RUN      ] {name}", flush=True)
        try:
            body()
            results.append((name, None, time.monotonic() - start))
            print(f"[       OK ] {name}", flush=True)
        except Exception as e:  # noqa: BLE001 - every failure becomes a failed case
            text = str(e) if isinstance(e, Failure) else traceback.format_exc()
            results.append((name, text, time.monotonic() - start))
            print(f"[  FAILED  ] {name}\n{text}", flush=True)
    write_results("publish_tool", "publish_tool",
                  [(name, took, failure) for name, failure, took in results])
    failed = [r for r in results if r[1]]
    print(f"{len(results) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
