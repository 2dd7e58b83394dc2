#!/usr/bin/python3
"""Certificates for the HTTPS tests, made fresh by each run: a test CA that the test trusts, and
server certificates for 127.0.0.1 signed by it (valid, expired, for another host), plus one signed
by a CA nobody trusts. The server name is put in the DNS names as well as the IP addresses: some
TLS stacks match an address only against the one, some only against the other."""
import datetime
import ipaddress
import os

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import ExtendedKeyUsageOID, NameOID

HOST = "127.0.0.1"
KINDS = ("good", "expired", "wronghost", "untrusted")


def _name(common):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common)])


def _write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def _ca(common, now):
    key = ec.generate_private_key(ec.SECP256R1())
    cert = (x509.CertificateBuilder().subject_name(_name(common)).issuer_name(_name(common))
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(now - datetime.timedelta(days=1))
            .not_valid_after(now + datetime.timedelta(days=30))
            .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
            .add_extension(x509.KeyUsage(False, False, False, False, False, True, True, False,
                                         False), critical=True)
            .sign(key, hashes.SHA256()))
    return key, cert


def _server(ca_key, ca_cert, host, not_before, not_after):
    key = ec.generate_private_key(ec.SECP256R1())
    alt = [x509.DNSName(host)]
    try:
        alt.append(x509.IPAddress(ipaddress.ip_address(host)))
    except ValueError:
        pass
    cert = (x509.CertificateBuilder().subject_name(_name(host)).issuer_name(ca_cert.subject)
            .public_key(key.public_key()).serial_number(x509.random_serial_number())
            .not_valid_before(not_before).not_valid_after(not_after)
            .add_extension(x509.SubjectAlternativeName(alt), critical=False)
            .add_extension(x509.BasicConstraints(ca=False, path_length=None), critical=True)
            .add_extension(x509.ExtendedKeyUsage([ExtendedKeyUsageOID.SERVER_AUTH]),
                           critical=False)
            .sign(ca_key, hashes.SHA256()))
    return key, cert


def make(folder):
    """Writes ca.pem/ca.der and KIND.crt/KIND.key for every kind into `folder`; returns
    {kind: (crt, key)} with the CA under "ca" as (pem, der)."""
    os.makedirs(folder, exist_ok=True)
    now = datetime.datetime.now(datetime.timezone.utc)
    day = datetime.timedelta(days=1)
    ca_key, ca_cert = _ca("Sarvik Test CA", now)
    stranger_key, stranger_cert = _ca("Sarvik Untrusted CA", now)
    made = {
        "good": _server(ca_key, ca_cert, HOST, now - day, now + 30 * day),
        "expired": _server(ca_key, ca_cert, HOST, now - 60 * day, now - 30 * day),
        "wronghost": _server(ca_key, ca_cert, "wrong.example", now - day, now + 30 * day),
        "untrusted": _server(stranger_key, stranger_cert, HOST, now - day, now + 30 * day),
    }
    out = {"ca": (os.path.join(folder, "ca.pem"), os.path.join(folder, "ca.der"))}
    _write(out["ca"][0], ca_cert.public_bytes(serialization.Encoding.PEM))
    _write(out["ca"][1], ca_cert.public_bytes(serialization.Encoding.DER))
    for kind, (key, cert) in made.items():
        crt, pem_key = os.path.join(folder, kind + ".crt"), os.path.join(folder, kind + ".key")
        _write(crt, cert.public_bytes(serialization.Encoding.PEM))
        _write(pem_key, key.private_bytes(serialization.Encoding.PEM,
                                          serialization.PrivateFormat.PKCS8,
                                          serialization.NoEncryption()))
        out[kind] = (crt, pem_key)
    return out
