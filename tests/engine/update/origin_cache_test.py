#!/usr/bin/python3
"""Releases served through a caching nginx in front of the origin nginx, svupdate run natively:
what each patcher start still asks of the origin once one player has filled the cache.

  origin_cache_test.py --svupdate EXE --publish EXE --work DIR"""
import argparse
import os
import random
import shutil
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import update_test as ut  # noqa: E402
from update_test import check  # noqa: E402

import origin_cache  # noqa: E402
import sign_release  # noqa: E402
from release_tree import same_tree  # noqa: E402

CONFIG_PATH = "/" + origin_cache.CONFIG + "?t="


def write_client(folder, version):
    """A few small files; version 2 changes every third one and adds one."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "data"))
    for i in range(6 + version):
        seed = i * 10 + (version if i % 3 == 0 else 1)
        with open(os.path.join(folder, "data", f"f{i}.bin"), "wb") as f:
            f.write(random.Random(seed).randbytes(3000 + 500 * i))
    return folder


def run_cases(env, publish, case):
    old = write_client(os.path.join(env.work, "client-1"), 1)
    new = write_client(os.path.join(env.work, "client-2"), 2)

    def served(name, *extra, versions=True):
        work = os.path.join(env.work, name)
        shutil.rmtree(work, ignore_errors=True)
        root = os.path.join(work, "www")
        os.makedirs(root)
        cdn = origin_cache.CachedOrigin(root, work)
        env.servers.append(cdn)
        for version, client in (("v1", old), ("v2", new)):
            mode = ["--versioned", "--version", version] if versions else ["--flat"]
            origin_cache.publish(publish, client, root, cdn.url(), *mode, *extra)
        return cdn, root

    def start(cdn, name, *extra, ok=True):
        game = os.path.join(env.work, "game-" + name)
        origin_cache.fresh_copy(old, game)
        run = env.update(game, cdn.config_url(), *extra, timeout=300)
        if ok:
            check(run.rc == 0 and run.value("RESULT") == "ok", f"update failed\n{run}")
            check(same_tree(new, game) is None, f"{same_tree(new, game)}\n{run}")
        return run

    def second_start(cdn, name, *extra):
        """The origin's request lines for a player who comes after the first one."""
        start(cdn, name + "-first", *extra)
        cdn.forget_traffic()
        start(cdn, name + "-second", *extra)
        return cdn.traffic()[0]

    with case("VersionedReleaseAsksTheOriginOnlyForItsConfiguration"):
        cdn, _ = served("versioned")
        asked = second_start(cdn, "versioned")
        check(len(asked) == 1 and asked[0].startswith(CONFIG_PATH), f"origin asked for {asked}")

    with case("SignedVersionedReleaseAsksForConfigurationAndManifest"):
        key = sign_release.keygen(os.path.join(env.work, "release-key"))
        cdn, _ = served("signed", "--sign-key", key)
        asked = sorted(second_start(cdn, "signed", "--release-key", key + ".pub"))
        check(len(asked) == 2 and asked[0].startswith(CONFIG_PATH) and
              asked[1].startswith("/sarvik.release?t="), f"origin asked for {asked}")

    with case("ListsOfAPlainOrUnmarkedReleaseStayFresh"):
        cdn, _ = served("flat", versions=False)
        asked = second_start(cdn, "flat")
        check(any(a.startswith("/crclist?t=") for a in asked), f"origin asked for {asked}")
        cdn, root = served("unmarked")
        origin_cache.strip_immutable(root)
        asked = second_start(cdn, "unmarked")
        check(any(a.startswith("/v2/crclist?t=") for a in asked), f"origin asked for {asked}")

    with case("ADamagedListInTheCacheIsFetchedAgainPastIt"):
        cdn, root = served("damaged")
        good = open(os.path.join(root, "v2", "crclist"), "rb").read()
        with open(os.path.join(root, "v2", "crclist"), "wb") as f:
            f.write(b"<html>502 Bad Gateway</html>\n")
        run = start(cdn, "damaged-first", ok=False)
        check(run.rc != 0 or run.value("RESULT") != "ok", f"a damaged list was accepted\n{run}")
        with open(os.path.join(root, "v2", "crclist"), "wb") as f:
            f.write(good)
        cdn.forget_traffic()
        start(cdn, "damaged-second")
        asked = cdn.traffic()[0]
        check(any(a.startswith("/v2/crclist?r=") for a in asked), f"origin asked for {asked}")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--svupdate", required=True)
    ap.add_argument("--publish", required=True)
    ap.add_argument("--work", required=True)
    args = ap.parse_args()
    ut.NATIVE = True
    env = ut.Env(argparse.Namespace(svupdate=args.svupdate, holdfile=None, work=args.work))
    os.makedirs(env.work, exist_ok=True)
    return ut.run_suite(env, "update_origin_cache",
                        lambda e, case: run_cases(e, args.publish, case))


if __name__ == "__main__":
    sys.exit(main())
