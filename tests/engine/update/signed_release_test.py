#!/usr/bin/python3
"""Signed releases against an attacker on the path: svupdate with --release-key (the patcher's
embedded key) against nginx, natively and under Wine. Releases come from the independent
compressor and are signed with openssl (tests/support/sign_release.py), not by the release tool.

Every attack row starts from a game folder that holds release 2 and has accepted it, serves what
an attacker would, and requires: the run fails with the refusal for the player, the log names the
reason, and the game folder is byte-identical to before.

  signed_release_test.py [--native] --svupdate EXE --work DIR"""
import os
import shutil
import subprocess
import sys
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test as ut  # noqa: E402
from update_test import check, win  # noqa: E402

import make_release  # noqa: E402
import sign_release  # noqa: E402
import test_tls  # noqa: E402
from release_tree import same_tree, tree  # noqa: E402

REFUSED = "Güncelleme reddedildi"
FILES = [("game.exe", 40000), ("data/map one.bin", 700000), ("data/sound.bin", 90000)]
FILES3 = [("game.exe", 40000), ("data/map one.bin", 700123), ("data/new.bin", 5000)]


class Releases:
    def __init__(self, env):
        self.env = env
        self.keys = os.path.join(env.work, "keys")
        shutil.rmtree(self.keys, ignore_errors=True)
        os.makedirs(self.keys)
        self.key = sign_release.keygen(os.path.join(self.keys, "k1"))
        self.next = sign_release.keygen(os.path.join(self.keys, "k2"))
        self.other = sign_release.keygen(os.path.join(self.keys, "other"))
        self.serve = os.path.join(env.work, "serve")
        os.makedirs(self.serve, exist_ok=True)
        self.server = env.nginx(self.serve, "signed")
        self.config = self.server.url() + "/config.xml"
        self.source = self.server.url() + "/"

    def make(self, name, files, seed, attrs, **signing):
        _, rel = ut.release(self.env, name, files, seed, attrs)
        www = os.path.join(rel, "www")
        sign_release.sign(www, signing.pop("key", self.key), {self.source: www}, **signing)
        return rel

    def publish(self, rel):
        """What the server serves from now on: the release's www folder, as it is."""
        shutil.rmtree(self.serve)
        shutil.copytree(os.path.join(rel, "www"), self.serve)

    def update(self, game, key=None):
        extra = ["--release-key", win(key + ".pub")] if key else []
        return self.env.update(game, self.config, *extra, timeout=300)


def https_case(env, args, case):
    """A signed release from nginx over TLS with a certificate of a CA made for this run (trusted
    through SV_CA_FILE natively, in the Wine prefix's root store under Wine) installs; a server
    whose certificate comes from a CA nobody trusts is refused with its own text, and nothing is
    asked over plain HTTP instead."""
    with case("SignedReleaseOverHttpsAndAnUntrustedServerRefused"):
        certs = test_tls.make(os.path.join(env.work, "tls"))
        pem, der = certs["ca"]
        trust = None if ut.NATIVE else [ut.WINE_RUN, args.trust_ca]
        if trust:
            subprocess.run(trust + ["add", ut.win(der)], check=True, timeout=120)
        os.environ["SV_CA_FILE"] = pem
        try:
            serve = os.path.join(env.work, "serve-tls")
            shutil.rmtree(serve, ignore_errors=True)
            os.makedirs(serve)
            good = env.nginx(serve, "tls-good", tls=certs["good"])
            stranger = env.nginx(serve, "tls-untrusted", tls=certs["untrusted"])
            keys = os.path.join(env.work, "keys")
            _, rel = ut.release(env, "signed-tls", FILES, 7)
            www = os.path.join(rel, "www")
            sign_release.sign(www, os.path.join(keys, "k1"), {good.url() + "/": www})
            shutil.rmtree(serve)
            shutil.copytree(www, serve)
            game = os.path.join(env.work, "game-tls")
            shutil.rmtree(game, ignore_errors=True)
            key = ["--release-key", win(os.path.join(keys, "k1.pub"))]
            run = env.update(game, good.url() + "/config.xml", *key, timeout=300)
            check(run.rc == 0 and same_tree(os.path.join(rel, "src"), game) is None, f"{run}")
            check(" TLSv1." in open(good.access_log).read(), "not served over TLS")

            other = os.path.join(env.work, "game-tls-untrusted")
            shutil.rmtree(other, ignore_errors=True)
            run = env.update(other, stranger.url() + "/config.xml", *key, timeout=300)
            error = run.value("ERROR") or ""
            check(run.rc != 0 and ("güvenilmiyor" in error or "sertifika" in error),
                  f"untrusted server\n{run}")
            check(open(stranger.access_log).read() == "", "a request reached the server")
            check(set(os.listdir(other)) <= {"temp"}, "files installed from an untrusted server")
        finally:
            del os.environ["SV_CA_FILE"]
            if trust:
                subprocess.run(trust + ["remove", ut.win(der)], timeout=120)


def run_cases(env, case):
    r = Releases(env)
    rel1 = r.make("signed-r1", FILES, 1, "", release=1)
    rel2 = r.make("signed-r2", FILES, 2, ' sv_connections="4"', release=2)
    rel3 = r.make("signed-r3", FILES3, 3, ' sv_connections="3"', release=3)
    base = os.path.join(env.work, "game-r2")

    with case("SignedReleaseInstallsAndUpdatesAsAnUnsignedOne"):
        shutil.rmtree(base, ignore_errors=True)
        r.publish(rel1)
        run = r.update(base, r.key)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"release 1\n{run}")
        check(same_tree(os.path.join(rel1, "src"), base) is None, same_tree(os.path.join(rel1, "src"), base))
        check("Imzali surum 1 kabul edildi" in run.log, f"log\n{run}")
        r.publish(rel2)
        run = r.update(base, r.key)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"release 2\n{run}")
        check(same_tree(os.path.join(rel2, "src"), base) is None, "release 2 not installed")

    with case("PatcherWithoutKeyUpdatesFromSignedReleaseUnchanged"):
        game = os.path.join(env.work, "game-nokey")
        shutil.rmtree(game, ignore_errors=True)
        run = r.update(game)
        check(run.rc == 0 and same_tree(os.path.join(rel2, "src"), game) is None, f"{run}")

    def attack(name, prepare, reason, key=None, remove=None):
        """Serves what `prepare(www)` makes of a copy of release 3, starting from release 2."""
        with case(name):
            game = os.path.join(env.work, "game-" + name)
            shutil.rmtree(game, ignore_errors=True)
            shutil.copytree(base, game)
            if remove:
                os.remove(os.path.join(game, remove))
            before = tree(game)
            attacked = os.path.join(env.work, "attack-" + name)
            shutil.rmtree(attacked, ignore_errors=True)
            shutil.copytree(rel3, attacked)
            prepare(os.path.join(attacked, "www"))
            r.publish(attacked)
            run = r.update(game, key or r.key)
            check(run.rc != 0 and run.value("RESULT") == "failed", f"not refused\n{run}")
            check(reason in run.log, f"log does not name '{reason}'\n{run}")
            check(tree(game) == before, f"the game folder changed\n{run}")
            return run

    def rewrite(path, transform):
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(transform(data))

    original = open(os.path.join(rel2, "src", "data", "sound.bin"), "rb").read()
    fake_lz = make_release.lz_file(sign_release.forge_same_crc(original, b"MZ attacker's program"))
    genuine_size = os.path.getsize(os.path.join(rel2, "www", "data", "sound.bin.lz"))

    def forged(www, exact_size):
        # Release 2 as it was signed, with one .lz swapped for bytes of the same decoded size and
        # CRC-32. Cut or padded to the genuine object's size, only its hash can tell.
        shutil.rmtree(www)
        shutil.copytree(os.path.join(rel2, "www"), www)
        data = fake_lz
        if exact_size:
            data = data[:genuine_size].ljust(genuine_size, b"\0")
        with open(os.path.join(www, "data", "sound.bin.lz"), "wb") as f:
            f.write(data)

    run = attack("ForgedObjectOfTheSignedSizeIsNeverInstalled", lambda w: forged(w, True),
                 "SHA-256 uyusmadi", remove="data/sound.bin")
    check(run is None or "İmzalı sürümle uyuşmayan dosya" in (run.value("ERROR") or ""),
          f"player's text\n{run}")
    attack("ForgedObjectLongerThanSignedIsNeverInstalled", lambda w: forged(w, False),
           "yanıt beklenenden büyük" if len(fake_lz) > genuine_size else "SHA-256 uyusmadi",
           remove="data/sound.bin")
    with case("ForgedObjectIsInstalledWithoutAKey"):
        # The attack is real: without a key nothing stops the attacker from serving the list
        # without its hashes, and the patcher takes the forged file.
        game = os.path.join(env.work, "game-ForgedObjectLongerThanSignedIsNeverInstalled")
        rewrite(os.path.join(r.serve, "crclist"), lambda d: b"".join(
            b" ".join(l.split(b" ")[:2] + [b"- -"] + l.split(b" ")[4:]) + b"\n"
            for l in d.splitlines()))
        run = r.update(game)
        check(run.rc == 0, f"{run}")
        check(open(os.path.join(game, "data", "sound.bin"), "rb").read().startswith(b"MZ attacker"),
              "the forged file was not installed without a key: the row proves nothing")

    def planted_dll(www):
        dll = b"MZ" * 500
        with open(os.path.join(www, "winhttp.dll.lz"), "wb") as f:
            f.write(make_release.lz_file(dll))
        line = f"{zlib.crc32(dll):08x} {len(dll)} winhttp.dll\n".encode()
        rewrite(os.path.join(www, "crclist"), lambda d: d + line)

    attack("ListLineForWinhttpDllIsRefused", planted_dll, "list mismatch")

    def rollback(www):
        shutil.rmtree(www)
        shutil.copytree(os.path.join(rel1, "www"), www)

    attack("OlderSignedReleaseIsRefused", rollback, "rollback")
    attack("ExpiredManifestIsRefused",
           lambda www: sign_release.sign(www, r.key, {r.source: www}, release=3, expires=-3600,
                                         lists_signed=True), "expired")

    def mix(www):
        # Release 3's configuration and manifest with release 2's lists and objects.
        for name in ("crclist", "data"):
            target = os.path.join(www, name)
            shutil.rmtree(target) if os.path.isdir(target) else os.remove(target)
        shutil.copy(os.path.join(rel2, "www", "crclist"), www)
        shutil.copytree(os.path.join(rel2, "www", "data"), os.path.join(www, "data"))

    attack("ConfigurationOfOneReleaseWithListsOfAnotherIsRefused", mix, "list mismatch")
    attack("ManifestSignedWithAnotherKeyIsRefused",
           lambda www: sign_release.sign(www, r.other, {r.source: www}, release=3,
                                         lists_signed=True), "wrong key")
    attack("TruncatedSignatureIsRefused",
           lambda www: rewrite(os.path.join(www, "sarvik.release"), lambda d: d[:-20] + b"\n"),
           "garbled")
    attack("GarbledManifestIsRefused",
           lambda www: rewrite(os.path.join(www, "sarvik.release"),
                               lambda d: d.replace(b"release 3", b"release 9")), "wrong key")
    attack("MissingManifestIsRefused", lambda www: os.remove(os.path.join(www, "sarvik.release")),
           "missing manifest")
    attack("EndlessManifestIsRefused",
           lambda www: rewrite(os.path.join(www, "sarvik.release"),
                               lambda d: d + b"#" * (3 << 20)), "missing manifest")

    with case("PublishBetweenConfigurationAndManifestIsReadAgain"):
        # The patcher reads release 3's configuration while the manifest is still release 2's,
        # as during a publish; the new manifest lands before its next attempt.
        game = os.path.join(env.work, "game-pair")
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(base, game)
        r.publish(rel3)
        shutil.copy(os.path.join(rel2, "www", "sarvik.release"), r.serve)
        mark = os.path.getsize(r.server.access_log)
        proc = ut.start_update(env, game, r.config, "--release-key", win(r.key + ".pub"))
        seen = ut.wait_for(lambda: "sarvik.release" in open(r.server.access_log).read()[mark:], 60)
        shutil.copy(os.path.join(rel3, "www", "sarvik.release"), r.serve)
        out, _ = proc.communicate(timeout=300)
        check(seen and proc.returncode == 0 and "RESULT ok" in out, f"run\n{out[-3000:]}")
        installed = tree(game)
        check(all(installed.get(k) == v for k, v in tree(os.path.join(rel3, "src")).items()),
              "release 3 not installed")
        log = open(os.path.join(game, "temp", "Sarvik.log"), encoding="utf-8").read()
        check("tekrar okunuyor" in log, "the pair was not read again")

    with case("KeyRotationEndToEnd"):
        game = os.path.join(env.work, "game-rotation")
        fresh = os.path.join(env.work, "game-rotation-fresh")
        for g in (game, fresh):
            shutil.rmtree(g, ignore_errors=True)
        r.publish(r.make("rot-r1", FILES, 1, "", release=10, next_key=r.next + ".pub"))
        run = r.update(game, r.key)
        check(run.rc == 0 and "Sonraki anahtar" in run.log, f"announcing release\n{run}")
        rel = r.make("rot-r2", FILES, 2, ' sv_connections="4"', release=11, key=r.next)
        r.publish(rel)
        run = r.update(game, r.key)
        check(run.rc == 0 and same_tree(os.path.join(rel, "src"), game) is None,
              f"release signed by the announced key\n{run}")
        run = r.update(fresh, r.key)
        check(run.rc != 0 and "wrong key" in run.log,
              f"a folder that never saw the announcement took the new key\n{run}")
        check(set(os.listdir(fresh)) <= {"temp"}, "files installed in the fresh folder")


def main():
    env, args = ut.script_env()

    def cases(env, case):
        run_cases(env, case)
        if ut.NATIVE or args.trust_ca:
            https_case(env, args, case)
    return ut.run_suite(env, "update_signed", cases)


if __name__ == "__main__":
    sys.exit(main())
