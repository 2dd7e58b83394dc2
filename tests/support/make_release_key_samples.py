#!/usr/bin/python3
"""Release-key samples made by openssl itself, not by our code: a P-256 key pair, a second
public key, and a signature over message.txt made with `openssl dgst -sha256 -sign`, stored as
the 64 bytes r‖s that the platform verifiers take.

  make_release_key_samples.py OUT_DIR"""
import os
import shutil
import subprocess
import sys


def run(*cmd):
    result = subprocess.run(cmd, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(cmd)} failed: {result.stderr.decode(errors='replace')}")
    return result.stdout


def der_to_raw(der):
    """ECDSA-Sig-Value ::= SEQUENCE { r INTEGER, s INTEGER } to r‖s, 32 bytes each."""
    assert der[0] == 0x30
    pos = 2
    out = b""
    for _ in range(2):
        assert der[pos] == 0x02
        length = der[pos + 1]
        value = der[pos + 2:pos + 2 + length].lstrip(b"\0")
        out += value.rjust(32, b"\0")
        pos += 2 + length
    return out


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    p = lambda name: os.path.join(out, name)  # noqa: E731
    for name in ("key", "other"):
        run("openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256",
            "-out", p(name + ".pem"))
        run("openssl", "pkey", "-in", p(name + ".pem"), "-pubout", "-out", p(name + ".pub"))
    with open(p("message.txt"), "wb") as f:
        f.write(b"sarvik-release 1\nrelease 7\n")
    der = run("openssl", "dgst", "-sha256", "-sign", p("key.pem"), p("message.txt"))
    with open(p("message.sig"), "wb") as f:
        f.write(der_to_raw(der))


if __name__ == "__main__":
    main()
