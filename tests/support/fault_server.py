#!/usr/bin/python3
"""A misbehaving HTTP server for tests, on 127.0.0.1 only.

The path picks the behaviour (a query string is ignored, so tests can make each URL unique):
  /file/N            N pattern bytes; honours one "bytes=a-b" range with a correct 206
  /norange/N         N pattern bytes, always 200, Range ignored
  /status/C          status C with a small HTML body
  /short/N           announces N bytes, sends half of them, closes
  /nolength/N        N bytes without Content-Length, end marked by closing
  /stall/S           reads the request, answers nothing for S seconds, closes
  /stallbody/N/S     announces N bytes, sends the first 64 KiB, then stalls S seconds
  /slow/N/MS         N bytes in 64 KiB pieces, MS milliseconds apart
  /badrange/N        answers a range with 206 and a Content-Range starting one byte late
  /norangeheader/N   answers a range with 206 and no Content-Range
  /slashless/N       answers a range with 206 and a Content-Range without "/total"
  /html              200 with an HTML error page (DOCTYPE first)
  /trickle/N         announces N bytes and sends them one a second
  /loop              302 back to itself, for ever
  /longheader/N      200 with one header line of N bytes
  /chunked/N         N bytes in chunked transfer encoding (64 KiB chunks), no Content-Length
  /endless[/NAME]    200 without Content-Length and a body that never ends (until the client goes
                     away, the server stops or 256 MiB went out); then logs "<target> sent <bytes>"
A request in proxy form (an absolute URL) gets the answer for its path, so the server can also play
a proxy. Every request is logged as one line "<target> <range or -> <status>" to the log file,
written before the answer, so tests can count attempts. The server prints "PORT <n>" when it
listens, and it stops by itself after --time-limit seconds or --max-requests requests.
"""
import argparse
import os
import re
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pattern import pattern  # noqa: E402

PIECE = 65536
MAX_STALL_S = 90          # no stall outlives this, whatever the URL asks
MAX_BODY = 256 << 20      # no body is larger
SOCKET_TIMEOUT_S = 60
MAX_HEADER_BYTES = 65536

HTML_PAGE = (b"<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head>"
             b"<body><h1>Not Found</h1></body></html>\n")
REASONS = {200: "OK", 206: "Partial Content", 302: "Found", 403: "Forbidden", 404: "Not Found",
           500: "Internal Server Error", 503: "Service Unavailable"}


class Server:
    def __init__(self, log_path, time_limit, max_requests):
        self.log_path = log_path
        self.deadline = time.monotonic() + time_limit
        self.requests_left = max_requests
        self.lock = threading.Lock()
        self.stop = threading.Event()

    def log(self, path, rng, status):
        self.log_line(f"{path} {rng or '-'} {status}")

    def log_line(self, text):
        with self.lock:
            with open(self.log_path, "a") as f:
                f.write(text + "\n")

    def take_request_slot(self):
        with self.lock:
            if self.requests_left <= 0:
                self.stop.set()
                return False
            self.requests_left -= 1
            return True

    def sleep(self, seconds):
        """Sleeps in small steps; gives up when the server is stopping."""
        end = time.monotonic() + min(seconds, MAX_STALL_S)
        while not self.stop.is_set() and time.monotonic() < min(end, self.deadline):
            time.sleep(0.05)


def read_request(conn):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(4096)
        if not chunk:
            return None
        data += chunk
        if len(data) > MAX_HEADER_BYTES:
            return None
    head = data.split(b"\r\n\r\n", 1)[0].decode("latin-1")
    lines = head.split("\r\n")
    parts = lines[0].split(" ")
    if len(parts) < 2:
        return None
    headers = {}
    for line in lines[1:]:
        if ":" in line:
            k, v = line.split(":", 1)
            headers[k.strip().lower()] = v.strip()
    return parts[1], headers


def parse_range(value, size):
    """(first, last) of a single "bytes=a-b" or "bytes=a-" range, clamped to the body; else None."""
    m = re.fullmatch(r"bytes=(\d+)-(\d*)", value or "")
    if not m:
        return None
    first = int(m.group(1))
    last = int(m.group(2)) if m.group(2) else size - 1
    if first >= size:
        return None
    return first, min(last, size - 1)


def head_bytes(status, headers):
    lines = [f"HTTP/1.1 {status} {REASONS.get(status, 'Status')}"]
    lines += [f"{k}: {v}" for k, v in headers]
    lines.append("Connection: close")
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def send_body(server, conn, offset, length, delay_s=0.0):
    done = 0
    while done < length and not server.stop.is_set():
        n = min(PIECE, length - done)
        conn.sendall(pattern(offset + done, n))
        done += n
        if delay_s and done < length:
            server.sleep(delay_s)


def number(text, limit):
    try:
        return max(0, min(int(text), limit))
    except ValueError:
        return 0


def handle(server, conn):
    req = read_request(conn)
    if req is None:
        return
    target, headers = req
    # A request through a proxy names the whole URL; behave by its path, log it as it came.
    path = re.sub(r"^[a-zA-Z]+://[^/]*", "", target).split("?", 1)[0]
    rng = headers.get("range")
    parts = [p for p in path.split("/") if p]
    kind = parts[0] if parts else ""
    arg1 = number(parts[1], MAX_BODY) if len(parts) > 1 else 0
    arg2 = number(parts[2], 600000) if len(parts) > 2 else 0

    def answer(status, extra, body=b""):
        server.log(target, rng, status)
        conn.sendall(head_bytes(status, extra) + body)

    if kind in ("file", "badrange", "norangeheader", "slashless"):
        size = arg1
        r = parse_range(rng, size)
        if r is None:
            answer(200, [("Content-Length", size)])
            send_body(server, conn, 0, size)
            return
        first, last = r
        length = last - first + 1
        cr = {"file": f"bytes {first}-{last}/{size}",
              "badrange": f"bytes {first + 1}-{last}/{size}",
              "slashless": f"bytes {first}-{last}"}.get(kind)
        extra = [("Content-Length", length)]
        if cr:
            extra.append(("Content-Range", cr))
        answer(206, extra)
        send_body(server, conn, first, length)
    elif kind == "norange":
        answer(200, [("Content-Length", arg1)])
        send_body(server, conn, 0, arg1)
    elif kind == "status":
        code = number(parts[1], 999) if len(parts) > 1 else 500
        answer(code, [("Content-Type", "text/html"), ("Content-Length", len(HTML_PAGE))],
               HTML_PAGE)
    elif kind == "short":
        answer(200, [("Content-Length", arg1)])
        send_body(server, conn, 0, arg1 // 2)
    elif kind == "nolength":
        answer(200, [])
        send_body(server, conn, 0, arg1)
    elif kind == "stall":
        server.log(target, rng, 0)
        server.sleep(arg1)
    elif kind == "stallbody":
        answer(200, [("Content-Length", arg1)])
        send_body(server, conn, 0, min(PIECE, arg1))
        server.sleep(arg2)
    elif kind == "slow":
        answer(200, [("Content-Length", arg1)])
        send_body(server, conn, 0, arg1, arg2 / 1000.0)
    elif kind == "html":
        answer(200, [("Content-Type", "text/html"), ("Content-Length", len(HTML_PAGE))],
               HTML_PAGE)
    elif kind == "trickle":
        answer(200, [("Content-Length", arg1)])
        for i in range(min(arg1, MAX_STALL_S)):
            if server.stop.is_set():
                break
            conn.sendall(pattern(i, 1))
            server.sleep(1.0)
    elif kind == "loop":
        answer(302, [("Location", f"http://{headers.get('host', '127.0.0.1')}{path}"),
                     ("Content-Length", 0)])
    elif kind == "longheader":
        answer(200, [("X-Filler", "a" * min(arg1, MAX_BODY)), ("Content-Length", 0)])
    elif kind == "chunked":
        answer(200, [("Transfer-Encoding", "chunked")])
        done = 0
        while done < arg1 and not server.stop.is_set():
            n = min(PIECE, arg1 - done)
            conn.sendall(b"%x\r\n" % n + pattern(done, n) + b"\r\n")
            done += n
        conn.sendall(b"0\r\n\r\n")
    elif kind == "endless":
        answer(200, [("Content-Type", "text/html")])
        sent = 0
        try:
            while sent < MAX_BODY and not server.stop.is_set():
                conn.sendall(pattern(sent, PIECE))
                sent += PIECE
        finally:
            # How far the client read before it let go: what a bound let through.
            server.log_line(f"{target} sent {sent}")
    else:
        answer(404, [("Content-Length", 0)])


def serve_connection(server, conn):
    try:
        conn.settimeout(SOCKET_TIMEOUT_S)
        handle(server, conn)
    except OSError:
        pass  # the client went away: nothing to tell
    finally:
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--log", required=True)
    ap.add_argument("--time-limit", type=float, default=900)
    ap.add_argument("--max-requests", type=int, default=20000)
    args = ap.parse_args()
    server = Server(args.log, args.time_limit, args.max_requests)
    open(args.log, "w").close()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    listener.settimeout(0.2)
    print(f"PORT {listener.getsockname()[1]}", flush=True)
    while not server.stop.is_set() and time.monotonic() < server.deadline:
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        if not server.take_request_slot():
            conn.close()
            break
        threading.Thread(target=serve_connection, args=(server, conn), daemon=True).start()
    server.stop.set()
    listener.close()


if __name__ == "__main__":
    main()
