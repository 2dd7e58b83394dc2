#!/usr/bin/python3
"""Authenticode samples for the signer rule, made at test time: two test certificates made with
openssl, and programs signed with osslsigncode.

  make_signed_samples.py OUT_DIR PROGRAM_A PROGRAM_B

OUT_DIR receives: unsigned.exe (PROGRAM_A as built), a1.exe (PROGRAM_A signed by A), a2.exe
(PROGRAM_B signed by A: another build, same signer), b1.exe (PROGRAM_A signed by B),
a1_modified.exe (a1.exe with one byte of its code changed after signing), a1_badsig.exe (a1.exe
with one byte of its signature value changed)."""
import os
import shutil
import struct
import subprocess
import sys


def run(*cmd):
    result = subprocess.run(cmd, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{cmd[0]} failed: {result.stdout}{result.stderr}")


def make_cert(out, name):
    key, crt = os.path.join(out, name + ".key"), os.path.join(out, name + ".crt")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
        "-days", "30", "-subj", f"/CN=Sarvik Test Signer {name}",
        "-addext", "extendedKeyUsage=codeSigning")
    return key, crt


def sign(key, crt, src, dest):
    if os.path.exists(dest):
        os.remove(dest)
    run("osslsigncode", "sign", "-certs", crt, "-key", key, "-n", "Sarvik", "-h", "sha256",
        "-in", src, "-out", dest)


def main():
    out, program_a, program_b = sys.argv[1:4]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    key_a, crt_a = make_cert(out, "A")
    key_b, crt_b = make_cert(out, "B")
    shutil.copy(program_a, os.path.join(out, "unsigned.exe"))
    sign(key_a, crt_a, program_a, os.path.join(out, "a1.exe"))
    sign(key_a, crt_a, program_b, os.path.join(out, "a2.exe"))
    sign(key_b, crt_b, program_a, os.path.join(out, "b1.exe"))
    data = bytearray(open(os.path.join(out, "a1.exe"), "rb").read())
    data[0x600] ^= 0xFF  # inside the first section, covered by the signed digest
    open(os.path.join(out, "a1_modified.exe"), "wb").write(bytes(data))
    # The file untouched, the signature value itself changed: only a check of the signature over
    # the signed attributes can see it.
    data = bytearray(open(os.path.join(out, "a1.exe"), "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    # The security entry is the fifth data directory, after 96 bytes of a PE32 optional header or
    # 112 of a PE32+ one.
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    directories = pe + 24 + (112 if magic == 0x20B else 96)
    table, size = struct.unpack_from("<II", data, directories + 4 * 8)
    length = struct.unpack_from("<I", data, table)[0]
    data[table + length - 40] ^= 0xFF  # inside the RSA signature at the end of the PKCS#7 blob
    open(os.path.join(out, "a1_badsig.exe"), "wb").write(bytes(data))
    # The check that osslsigncode sees what the test expects of each file.
    for name, ok in (("a1.exe", True), ("a1_modified.exe", False), ("a1_badsig.exe", False)):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", crt_a,
                            os.path.join(out, name)], capture_output=True, text=True)
        if (r.returncode == 0) != ok:
            sys.exit(f"osslsigncode verify {name}: {r.returncode}\n{r.stdout}{r.stderr}")


if __name__ == "__main__":
    main()
