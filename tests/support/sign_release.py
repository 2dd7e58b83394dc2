#!/usr/bin/python3
"""Signs a release made by make_release.py the way docs/signed-releases.md describes, with
openssl and hashlib rather than the release tool: every crclist line gets its .lz object's SHA-256
and size, and sarvik.release names the configuration and the list of each source.

  sign(www, key, sources, release=1, expires=None, next_key=None)"""
import base64
import datetime
import hashlib
import os
import subprocess
import tempfile

from make_release_key_samples import der_to_raw


def keygen(path):
    """A P-256 key pair by openssl: PATH (private) and PATH.pub."""
    subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt",
                    "ec_paramgen_curve:P-256", "-out", path], check=True, capture_output=True)
    subprocess.run(["openssl", "pkey", "-in", path, "-pubout", "-out", path + ".pub"],
                   check=True, capture_output=True)
    return path


def key_text(pub_path):
    """The one-line form: base64 of the DER SubjectPublicKeyInfo."""
    pem = open(pub_path).read().split("\n")
    return "".join(l for l in pem if l and not l.startswith("-----"))


def object_of(data):
    return f"{hashlib.sha256(data).hexdigest()} {len(data)}"


def sign_list(www):
    """Rewrites crclist with each .lz object's hash and size in the fields older patchers skip."""
    path = os.path.join(www, "crclist")
    lines = []
    for line in open(path, encoding="utf-8").read().splitlines():
        fields = line.split(" ")
        crc, size = fields[0], fields[1]
        name = " ".join(fields[4:]) if len(fields) >= 5 else fields[2]
        data = open(os.path.join(www, name + ".lz"), "rb").read()
        lines.append(f"{crc} {size} {object_of(data)} {name}\n")
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("".join(lines))


def utc(seconds_from_now):
    t = datetime.datetime.now(datetime.timezone.utc) + datetime.timedelta(seconds=seconds_from_now)
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def signature(key, body):
    with tempfile.NamedTemporaryFile(delete=False) as f:
        f.write(body.encode())
    try:
        der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, f.name], check=True,
                             capture_output=True).stdout
    finally:
        os.unlink(f.name)
    return base64.b64encode(der_to_raw(der)).decode()


def sign(www, key, sources, release=1, expires=30 * 86400, next_key=None, config="config.xml",
         lists_signed=False):
    """sources: {source base URL: folder of its crclist}. Writes www/sarvik.release."""
    for folder in set(sources.values()):
        if not lists_signed:
            sign_list(folder)
    body = f"sarvik-release 1\nrelease {release}\nexpires {utc(expires)}\n"
    if next_key:
        body += f"next-key {key_text(next_key)}\n"
    body += f"config {object_of(open(os.path.join(www, config), 'rb').read())}\n"
    for url, folder in sorted(sources.items()):
        body += f"list {object_of(open(os.path.join(folder, 'crclist'), 'rb').read())} {url}\n"
    text = body + f"signature {signature(key, body)}\n"
    with open(os.path.join(www, "sarvik.release"), "w", newline="") as f:
        f.write(text)
    return text


def forge_same_crc(data, payload):
    """Other bytes of the same length and CRC-32: `payload` at the start, the last four bytes
    chosen to bring the CRC back (CRC-32 is affine over GF(2), so four bytes always suffice)."""
    import zlib
    assert len(data) >= len(payload) + 4
    n = len(data)
    forged = bytearray(data)
    forged[:len(payload)] = payload
    zero = zlib.crc32(bytes(n))

    def linear(delta):
        return zlib.crc32(bytes(delta)) ^ zero

    need = zlib.crc32(bytes(forged)) ^ zlib.crc32(data)
    # Columns: the CRC change of each single bit of the last four bytes.
    rows = []
    for bit in range(32):
        delta = bytearray(n)
        delta[n - 4 + bit // 8] = 1 << (bit % 8)
        rows.append((linear(delta), 1 << bit))
    # Gaussian elimination over GF(2) to write `need` as a sum of the columns.
    basis = []
    for value, mask in rows:
        for b_value, b_mask in basis:
            if value ^ b_value < value:
                value, mask = value ^ b_value, mask ^ b_mask
        if value:
            basis.append((value, mask))
            basis.sort(reverse=True)
    flip = 0
    for b_value, b_mask in basis:
        if need ^ b_value < need:
            need, flip = need ^ b_value, flip ^ b_mask
    assert need == 0
    for bit in range(32):
        if flip >> bit & 1:
            forged[n - 4 + bit // 8] ^= 1 << (bit % 8)
    assert zlib.crc32(bytes(forged)) == zlib.crc32(data) and bytes(forged) != data
    return bytes(forged)
