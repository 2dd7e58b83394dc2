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

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test as ut  # noqa: E402
from update_test import check, win  # noqa: E402

import sign_release  # noqa: E402
import test_tls  # noqa: E402
from signed_threats import FILES, Releases, rewrite, threats  # noqa: E402
from release_tree import same_tree, tree  # noqa: E402


def r_update(r, game, key=None):
    extra = ["--release-key", win(key + ".pub")] if key else []
    return r.env.update(game, r.config, *extra, timeout=300)


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
    rel1, rel2, rel3 = r.rel1, r.rel2, r.rel3
    base = os.path.join(env.work, "game-r2")

    with case("SignedReleaseInstallsAndUpdatesAsAnUnsignedOne"):
        shutil.rmtree(base, ignore_errors=True)
        r.publish(rel1)
        run = r_update(r, base, r.key)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"release 1\n{run}")
        check(same_tree(os.path.join(rel1, "src"), base) is None, same_tree(os.path.join(rel1, "src"), base))
        check("Imzali surum 1 kabul edildi" in run.log, f"log\n{run}")
        r.publish(rel2)
        run = r_update(r, base, r.key)
        check(run.rc == 0 and run.value("RESULT") == "ok", f"release 2\n{run}")
        check(same_tree(os.path.join(rel2, "src"), base) is None, "release 2 not installed")

    with case("PatcherWithoutKeyUpdatesFromSignedReleaseUnchanged"):
        game = os.path.join(env.work, "game-nokey")
        shutil.rmtree(game, ignore_errors=True)
        run = r_update(r, game)
        check(run.rc == 0 and same_tree(os.path.join(rel2, "src"), game) is None, f"{run}")

    for threat in threats(r):
        with case(threat.name):
            game = os.path.join(env.work, "game-" + threat.name)
            shutil.rmtree(game, ignore_errors=True)
            shutil.copytree(base, game)
            if threat.remove:
                os.remove(os.path.join(game, threat.remove))
            before = tree(game)
            r.serve_attack(threat)
            run = r_update(r, game, r.key)
            check(run.rc != 0 and run.value("RESULT") == "failed", f"not refused\n{run}")
            check(threat.reason in run.log, f"log does not name '{threat.reason}'\n{run}")
            check(tree(game) == before, f"the game folder changed\n{run}")
            if threat.reason == "SHA-256 uyusmadi":
                check("İmzalı sürümle uyuşmayan dosya" in (run.value("ERROR") or ""),
                      f"player's text\n{run}")

    with case("ForgedObjectIsInstalledWithoutAKey"):
        # The attack is real: without a key nothing stops the attacker from serving the list
        # without its hashes, and the patcher takes the forged file.
        game = os.path.join(env.work, "game-nokey-forged")
        shutil.rmtree(game, ignore_errors=True)
        shutil.copytree(base, game)
        os.remove(os.path.join(game, "data", "sound.bin"))
        r.serve_attack(threats(r)[1])
        rewrite(os.path.join(r.serve, "crclist"), lambda d: b"".join(
            b" ".join(l.split(b" ")[:2] + [b"- -"] + l.split(b" ")[4:]) + b"\n"
            for l in d.splitlines()))
        run = r_update(r, game)
        check(run.rc == 0, f"{run}")
        check(open(os.path.join(game, "data", "sound.bin"), "rb").read().startswith(b"MZ attacker"),
              "the forged file was not installed without a key: the row proves nothing")

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
        run = r_update(r, game, r.key)
        check(run.rc == 0 and "Sonraki anahtar" in run.log, f"announcing release\n{run}")
        rel = r.make("rot-r2", FILES, 2, ' sv_connections="4"', release=11, key=r.next)
        r.publish(rel)
        run = r_update(r, game, r.key)
        check(run.rc == 0 and same_tree(os.path.join(rel, "src"), game) is None,
              f"release signed by the announced key\n{run}")
        run = r_update(r, fresh, r.key)
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
