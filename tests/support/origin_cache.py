#!/usr/bin/python3
"""An origin nginx with a caching nginx in front of it, as a CDN stands before a game operator's
server, and releases published into the origin by the release tool. What reaches the origin is
read from its access log."""
import os
import re
import shutil
import subprocess

import nginx_server

CONFIG = "draskeltorrent.config.xml"
IMMUTABLE = "sv_version_immutable"


class CachedOrigin:
    """`root` served by the origin; url() is the cache's address, which patchers are given."""

    def __init__(self, root, work):
        self.root = root
        self.origin = nginx_server.Nginx(root, os.path.join(work, "origin")).start()
        empty = os.path.join(work, "cache-root")
        os.makedirs(empty, exist_ok=True)
        try:
            self.cache = nginx_server.Nginx(empty, os.path.join(work, "cache"),
                                            cache_of=self.origin.url()).start()
        except Exception:
            self.origin.stop()
            raise

    def url(self):
        return self.cache.url() + "/"

    def config_url(self):
        return self.url() + CONFIG

    def forget_traffic(self):
        open(self.origin.access_log, "w").close()

    def traffic(self):
        """The request lines that reached the origin and the body bytes it sent."""
        requests, sent = [], 0
        with open(self.origin.access_log) as f:
            for line in f:
                requests.append(line.split(" ", 2)[1])
                sent += int(line.rsplit(" ", 1)[1])
        return requests, sent

    def stop(self):
        self.cache.stop()
        self.origin.stop()


def publish(tool, client, out, base, *extra):
    """SarvikPublish build CLIENT OUT --base-url BASE EXTRA...; its output on success."""
    done = subprocess.run([tool, "build", client, out, "--base-url", base, "--level", "1", *extra],
                          capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise RuntimeError(f"SarvikPublish build failed\n{done.stdout}\n{done.stderr}")
    return done.stdout


def strip_immutable(out):
    """The configuration of `out` as a release tool before the mark wrote it."""
    path = os.path.join(out, CONFIG)
    text = open(path, encoding="utf-8").read()
    stripped = re.sub(r'\s+%s="[^"]*"' % IMMUTABLE, "", text)
    if stripped == text:
        raise RuntimeError(f"{path} has no {IMMUTABLE}")
    with open(path, "w", encoding="utf-8") as f:
        f.write(stripped)


def fresh_copy(old_game, game):
    shutil.rmtree(game, ignore_errors=True)
    shutil.copytree(old_game, game)
