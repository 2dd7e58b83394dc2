#!/usr/bin/python3
"""A small HTTP server for update tests that serves a release folder with one misbehaviour, chosen
by the first path component (the rest is the file inside the folder; queries are ignored):

  /plain/...     correct 206 answers to one "bytes=a-b" range
  /norange/...   always 200 with the whole file (ranges ignored)
  /seg200/...    a range starting at 0 gets a correct 206; any other range gets 200 with the
                 whole file, as a server does that honours only the first request of a file
  /trickle/...   files other than ".lz" as /plain; a ".lz" body goes out one byte a second
                 (for at most a minute)
  /liar/...      as /plain, but a range not starting at 0 gets a Content-Range that starts one
                 byte late (the body is the one asked for)

Each request is logged as "<path> <range or -> <status>". Prints "PORT <n>" when listening; stops
after --time-limit seconds."""
import argparse
import http.server
import os
import re
import socketserver
import sys
import threading
import time

MODES = ("plain", "norange", "seg200", "trickle", "liar")
TRICKLE_LIMIT_S = 60


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, rng, status):
        with self.server.log_lock:
            with open(self.server.log_path, "a") as f:
                f.write(f"{self.path} {rng or '-'} {status}\n")

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        parts = path.lstrip("/").split("/", 1)
        rng = self.headers.get("Range")
        if len(parts) != 2 or parts[0] not in MODES:
            return self.fail(rng, 404)
        mode, rel = parts
        full = os.path.realpath(os.path.join(self.server.root, rel))
        if not full.startswith(self.server.root + os.sep) or not os.path.isfile(full):
            return self.fail(rng, 404)
        with open(full, "rb") as f:
            data = f.read()
        m = re.fullmatch(r"bytes=(\d+)-(\d*)", rng or "")
        ranged = m is not None and mode != "norange"
        if ranged and mode == "seg200" and int(m.group(1)) != 0:
            ranged = False
        if ranged:
            first = int(m.group(1))
            last = int(m.group(2)) if m.group(2) else len(data) - 1
            last = min(last, len(data) - 1)
            if first >= len(data):
                return self.fail(rng, 416)
            body = data[first:last + 1]
            self.record(rng, 206)
            self.send_response(206)
            shown = first + 1 if mode == "liar" and first > 0 else first
            self.send_header("Content-Range", f"bytes {shown}-{last}/{len(data)}")
        else:
            body = data
            self.record(rng, 200)
            self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Content-Type", "application/octet-stream")
        self.end_headers()
        try:
            if mode == "trickle" and rel.endswith(".lz"):
                for i in range(min(len(body), TRICKLE_LIMIT_S)):
                    self.wfile.write(body[i:i + 1])
                    self.wfile.flush()
                    time.sleep(1.0)
                return
            self.wfile.write(body)
        except OSError:
            pass

    def fail(self, rng, status):
        self.record(rng, status)
        body = b"<html><body>error</body></html>"
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--time-limit", type=float, default=600)
    args = ap.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    server.root = os.path.realpath(args.root)
    server.log_path = args.log
    server.log_lock = threading.Lock()
    open(args.log, "w").close()
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(f"PORT {server.server_address[1]}", flush=True)
    deadline = time.monotonic() + args.time_limit
    while time.monotonic() < deadline:
        time.sleep(0.5)
    server.shutdown()


if __name__ == "__main__":
    sys.exit(main())
