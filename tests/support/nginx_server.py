#!/usr/bin/python3
"""Runs Debian's nginx on 127.0.0.1 as a child process, with a configuration generated into a work
folder, serving one folder with byte ranges. Its access log has one line per request:
"<request line> "<Range header>" <status> <body bytes>".

As a program it prints "PORT <n>" once nginx answers and stops nginx after --time-limit seconds
or when its standard input closes."""
import argparse
import os
import select
import signal
import socket
import subprocess
import sys
import time

NGINX = "/usr/sbin/nginx"
START_TIMEOUT_S = 10

CONFIG = """daemon off;
master_process off;
worker_processes 1;
{user}
pid {work}/nginx.pid;
error_log {work}/error.log warn;
events {{ worker_connections 256; }}
http {{
    types {{ text/html html; text/xml xml; application/octet-stream bin lz; }}
    default_type application/octet-stream;
    log_format sv '$request "$http_range" $status $body_bytes_sent';
    log_format svtls '$request "$http_range" $status $body_bytes_sent $ssl_protocol';
    access_log {work}/access.log {log_format};
    client_body_temp_path {work}/tmp/body;
    proxy_temp_path {work}/tmp/proxy;
    fastcgi_temp_path {work}/tmp/fastcgi;
    uwsgi_temp_path {work}/tmp/uwsgi;
    scgi_temp_path {work}/tmp/scgi;
    sendfile on;
    keepalive_requests 100000;
    {cache_path}
    server {{
        listen 127.0.0.1:{port}{tls_listen};
        root {root};
        {tls}
        location / {{ }}
        {extra}
    }}
}}
"""


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def access_lines(path, needle):
    """The lines of an access log that contain `needle`."""
    with open(path) as f:
        return [line for line in f if needle in line]


class Nginx:
    """nginx serving `root`; files of its own (configuration, logs) go into `work`. `extra` is
    added to the server block (a location of its own, for example). `tls` = (certificate, key)
    serves HTTPS (TLS 1.2 and 1.3) instead, with the protocol at the end of each log line.
    `cache_of` = the URL of another server makes this one a caching proxy in front of it, as a CDN
    is: what it answered with 200 is kept, by the whole address with its query. `rate` (nginx's
    limit_rate, "256k") paces each answer; nginx lets the first second's worth out at once."""

    def __init__(self, root, work, extra="", tls=None, cache_of=None, rate=None):
        self.extra = extra
        self.cache_of = cache_of
        self.rate = rate
        self.tls = tls
        self.root = os.path.abspath(root)
        self.work = os.path.abspath(work)
        self.proc = None
        self.port = None
        self.access_log = os.path.join(self.work, "access.log")

    def start(self):
        os.makedirs(os.path.join(self.work, "tmp"), exist_ok=True)
        # A port picked here can be taken before nginx binds it: try a few.
        for _ in range(5):
            self.port = free_port()
            conf = os.path.join(self.work, "nginx.conf")
            with open(conf, "w") as f:
                f.write(self._config().format(
                    work=self.work, root=self.root, port=self.port, extra=self.extra,
                    user="user root;" if os.geteuid() == 0 else "", cache_path=self._cache_path(),
                    **self._tls_settings()))
            open(self.access_log, "w").close()
            self.proc = subprocess.Popen(
                [NGINX, "-p", self.work, "-e", os.path.join(self.work, "error.log"), "-c", conf],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.monotonic() + START_TIMEOUT_S
            while time.monotonic() < deadline and self.proc.poll() is None:
                if answers(self.port):
                    return self
                time.sleep(0.05)
            self.stop()
        raise RuntimeError("nginx did not start; see " + os.path.join(self.work, "error.log"))

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGQUIT)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def _cache_path(self):
        return f"proxy_cache_path {self.work}/cache keys_zone=sv:4m;" if self.cache_of else ""

    def _config(self):
        if self.rate:
            return CONFIG.replace("location / {{ }}", "location / {{ limit_rate %s; }}" % self.rate)
        if not self.cache_of:
            return CONFIG
        return CONFIG.replace("location / {{ }}", "location / {{ proxy_pass %s; proxy_cache sv; "
                              "proxy_cache_lock on; proxy_cache_valid 200 1h; }}" % self.cache_of)

    def _tls_settings(self):
        if not self.tls:
            return {"tls_listen": "", "tls": "", "log_format": "sv"}
        crt, key = self.tls
        return {"tls_listen": " ssl", "log_format": "svtls",
                "tls": f"ssl_certificate {crt}; ssl_certificate_key {key}; "
                       "ssl_protocols TLSv1.2 TLSv1.3;"}

    def url(self):
        return f"{'https' if self.tls else 'http'}://127.0.0.1:{self.port}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--time-limit", type=float, default=900)
    args = ap.parse_args()
    server = Nginx(args.root, args.work).start()
    print(f"PORT {server.port}", flush=True)
    deadline = time.monotonic() + args.time_limit
    try:
        while time.monotonic() < deadline and server.proc.poll() is None:
            ready, _, _ = select.select([sys.stdin], [], [], 0.5)
            if ready and not sys.stdin.read(1):
                break
    finally:
        server.stop()


if __name__ == "__main__":
    main()
