#!/usr/bin/python3
"""Authenticode samples for the signer rule, made at test time: two test certificates made with
openssl, and programs signed with osslsigncode.

  make_signed_samples.py OUT_DIR PROGRAM_A PROGRAM_B [V25 V26 V27]

OUT_DIR receives: unsigned.exe (PROGRAM_A as built), a1.exe (PROGRAM_A signed by A), a2.exe
(PROGRAM_B signed by A: another build, same signer), b1.exe (PROGRAM_A signed by B),
a1_modified.exe (a1.exe with one byte of its code changed after signing), a1_badsig.exe (a1.exe
with one byte of its signature value changed).

With the three builds of version_target (file versions 2.5, 2.6 and 2.7) it also makes a test
root CA (CA.crt) and, issued by it for code signing: S1 (subject "Sarvik Test Operator"), its
renewal S2 (same subject, a new key), its renewal S1r (same subject, same key) and T1 (subject
"Sarvik Test Other"). Signed with them: v26_s1.exe (the running patcher), v27_s2.exe, v27_s1r.exe,
v27_t1.exe and v25_s1.exe (a lower version by the same certificate)."""
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


def sign(key, crt, src, dest, chain=None):
    if os.path.exists(dest):
        os.remove(dest)
    extra = ["-ac", chain] if chain else []
    run("osslsigncode", "sign", "-certs", crt, "-key", key, "-n", "Sarvik", "-h", "sha256",
        *extra, "-in", src, "-out", dest)


def make_ca(out):
    key, crt = os.path.join(out, "CA.key"), os.path.join(out, "CA.crt")
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", crt,
        "-days", "30", "-subj", "/CN=Sarvik Test Root", "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return key, crt


def issue(out, ca, name, subject, serial, key=None):
    """A code-signing certificate issued by the test CA; `key` reuses an existing key (a renewal
    that keeps it)."""
    ca_key, ca_crt = ca
    csr, crt = os.path.join(out, name + ".csr"), os.path.join(out, name + ".crt")
    if key is None:
        key = os.path.join(out, name + ".key")
        run("openssl", "req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr,
            "-subj", subject)
    else:
        run("openssl", "req", "-new", "-key", key, "-out", csr, "-subj", subject)
    ext = os.path.join(out, name + ".ext")
    with open(ext, "w") as f:
        f.write("basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                "extendedKeyUsage=codeSigning\n")
    run("openssl", "x509", "-req", "-in", csr, "-CA", ca_crt, "-CAkey", ca_key, "-set_serial",
        str(serial), "-days", "30", "-out", crt, "-extfile", ext)
    return key, crt


def versioned_samples(out, v25, v26, v27):
    ca = make_ca(out)
    operator = "/CN=Sarvik Test Operator/O=Draskel Oyun"
    s1 = issue(out, ca, "S1", operator, 1)
    s2 = issue(out, ca, "S2", operator, 2)
    s1r = issue(out, ca, "S1r", operator, 3, key=s1[0])
    t1 = issue(out, ca, "T1", "/CN=Sarvik Test Other/O=Draskel Oyun", 4)
    chain = ca[1]
    sign(*s1, v26, os.path.join(out, "v26_s1.exe"), chain)
    sign(*s2, v27, os.path.join(out, "v27_s2.exe"), chain)
    sign(*s1r, v27, os.path.join(out, "v27_s1r.exe"), chain)
    sign(*t1, v27, os.path.join(out, "v27_t1.exe"), chain)
    sign(*s1, v25, os.path.join(out, "v25_s1.exe"), chain)
    for name in ("v26_s1.exe", "v27_s2.exe", "v27_s1r.exe", "v27_t1.exe", "v25_s1.exe"):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", ca[1], os.path.join(out, name)],
                           capture_output=True, text=True)
        if r.returncode != 0:
            sys.exit(f"osslsigncode verify {name}: {r.returncode}\n{r.stdout}{r.stderr}")


def main():
    out, program_a, program_b = sys.argv[1:4]
    versions = sys.argv[4:7]
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
    if len(versions) == 3:
        versioned_samples(out, *versions)


if __name__ == "__main__":
    main()
