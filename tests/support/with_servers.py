#!/usr/bin/python3
"""Starts nginx and the fault server on 127.0.0.1, runs one command with their addresses in its
environment, stops both and exits with the command's status.

  with_servers.py --work DIR [--file NAME:SIZE ...] [--time-limit S] [--tls [--trust CMD]]
                  -- COMMAND ...

nginx serves DIR/www, where each --file NAME:SIZE is made from the shared test pattern and an
index.html always exists. The command sees:
  SV_NGINX_URL, SV_NGINX_LOG, SV_NGINX_ROOT   nginx's base URL, access log and served folder
  SV_FAULT_URL, SV_FAULT_LOG                  the fault server's base URL and request log
With --tls, four more nginx serve the same folder over HTTPS with certificates made for this run
(tests/support/test_tls.py): SV_TLS_<KIND>_URL and SV_TLS_<KIND>_LOG for GOOD, EXPIRED,
WRONGHOST and UNTRUSTED. The test CA is trusted for the command: SV_CA_FILE names it for the host
transport, and --trust CMD (split at spaces) is run with "add CA.der" before and "remove CA.der"
after, to trust it in a Wine prefix.
Log and folder paths are Unix paths; a Windows test program reads them through drive Z:."""
import argparse
import os
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nginx_server import Nginx  # noqa: E402
from pattern import write_pattern_file  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
PROXY_VARS = ("http_proxy", "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY")


def start_fault_server(work, time_limit):
    log = os.path.join(work, "fault.log")
    proc = subprocess.Popen(
        [sys.executable, os.path.join(HERE, "fault_server.py"), "--log", log,
         "--time-limit", str(time_limit)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
    line = proc.stdout.readline().split()
    if len(line) != 2 or line[0] != "PORT":
        proc.kill()
        raise RuntimeError("fault server did not start")
    return proc, f"http://127.0.0.1:{line[1]}", log


def start_tls(work, root, servers, env, trust):
    """The HTTPS servers of --tls; returns the trust command to undo, if one was run."""
    import test_tls
    made = test_tls.make(os.path.join(work, "tls"))
    for kind in test_tls.KINDS:
        server = Nginx(root, os.path.join(work, "nginx-" + kind), tls=made[kind]).start()
        servers.append(server)
        env["SV_TLS_%s_URL" % kind.upper()] = server.url()
        env["SV_TLS_%s_LOG" % kind.upper()] = server.access_log
    pem, der = made["ca"]
    env["SV_CA_FILE"] = pem
    if not trust:
        return None
    subprocess.run(shlex.split(trust) + ["add", der], check=True, timeout=120)
    return shlex.split(trust) + ["remove", der]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--file", action="append", default=[])
    ap.add_argument("--time-limit", type=float, default=900)
    ap.add_argument("--tls", action="store_true")
    ap.add_argument("--trust")
    ap.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        ap.error("no command")

    work = os.path.abspath(args.work)
    root = os.path.join(work, "www")
    os.makedirs(root, exist_ok=True)
    with open(os.path.join(root, "index.html"), "w") as f:
        f.write("<html><body>index</body></html>\n")
    for item in args.file:
        name, size = item.rsplit(":", 1)
        write_pattern_file(os.path.join(root, name), int(size))

    nginx = Nginx(root, os.path.join(work, "nginx")).start()
    servers = [nginx]
    fault, fault_url, fault_log = None, None, None
    trusted = None
    try:
        fault, fault_url, fault_log = start_fault_server(work, args.time_limit)
        env = {k: v for k, v in os.environ.items() if k not in PROXY_VARS}
        env.update(SV_NGINX_URL=nginx.url(), SV_NGINX_LOG=nginx.access_log, SV_NGINX_ROOT=root,
                   SV_FAULT_URL=fault_url, SV_FAULT_LOG=fault_log)
        if args.tls:
            trusted = start_tls(work, root, servers, env, args.trust)
        try:
            return subprocess.run(command, env=env, timeout=args.time_limit).returncode
        except subprocess.TimeoutExpired:
            print("with_servers: command timed out", file=sys.stderr)
            return 1
    finally:
        if trusted:
            subprocess.run(trusted, timeout=120)
        if fault:
            fault.kill()
            fault.wait()
        for server in servers:
            server.stop()


if __name__ == "__main__":
    sys.exit(main())
