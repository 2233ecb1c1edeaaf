"""A fresh self-signed certificate for "localhost", made at test time: it is
its own certificate authority, so a client trusts it only when told to."""
import os
import subprocess


def make_certificate(folder):
    """Writes cert.pem and key.pem into folder; returns their paths, or raises
    RuntimeError with openssl's complaint."""
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    made = subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                           "-days", "2", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost"],
                          capture_output=True)
    if made.returncode != 0:
        raise RuntimeError("openssl failed: " + made.stderr.decode(errors="replace"))
    return cert, key
