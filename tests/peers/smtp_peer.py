#!/usr/bin/python3
"""A real SMTP server (aiosmtpd) for the integration tests, on 127.0.0.1.

Offers AUTH LOGIN, PLAIN and CRAM-MD5 over plain TCP for one fixed account and,
with --require-auth, refuses MAIL before a successful login (530). With
--tls=starttls it offers STARTTLS and requires it before anything else; with
--tls=implicit it speaks TLS from the first byte; both use a fresh self-signed
certificate for "localhost" kept in --dir (named by ca= in the READY line). Every
accepted message is stored in --dir as message-NNN.eml (the raw content as
received, CR LF kept, leading dots already removed) with message-NNN.json
beside it (envelope sender, recipients, the mechanism that logged in, whether
the message came over TLS).
Prints "READY port=P dir=D" once it serves; stops on SIGTERM or SIGINT.
"""
import argparse
import asyncio
import base64
import hashlib
import hmac
import json
import os
import secrets
import signal
import socket
import ssl
import sys
import tempfile
import threading
import time

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword

from test_cert import make_certificate


def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Handler:
    def __init__(self, folder, user, password):
        self.folder = folder
        self.user = user.encode()
        self.password = password.encode()
        self.count = 0
        self.lock = threading.Lock()

    async def auth_CRAM__MD5(self, server, args):
        challenge = f"<{secrets.token_hex(8)}.{int(time.time())}@127.0.0.1>".encode()
        answer = await server.challenge_auth(challenge)
        if not isinstance(answer, bytes):
            return AuthResult(success=False, handled=True)
        user, _, digest = answer.rpartition(b" ")
        expected = hmac.new(self.password, challenge, hashlib.md5).hexdigest().encode()
        if user == self.user and hmac.compare_digest(digest, expected):
            server.session.velotext_mechanism = "CRAM-MD5"
            return AuthResult(success=True, auth_data=LoginPassword(user, b""))
        return AuthResult(success=False, handled=False)

    def authenticate(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        if ok:
            session.velotext_mechanism = mechanism
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            base = os.path.join(self.folder, f"message-{self.count:03d}")
        meta = {
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "mail_options": envelope.mail_options,
            "authenticated": bool(session.authenticated),
            "mechanism": getattr(session, "velotext_mechanism", ""),
            "host_name": session.host_name,
            "tls": bool(server.transport.get_extra_info("ssl_object")),
        }
        # Meta first, the message last and by rename: a reader that sees the
        # .eml file sees both complete.
        for suffix, data in ((".json", json.dumps(meta).encode()), (".eml", envelope.original_content)):
            fd, tmp = tempfile.mkstemp(dir=self.folder, prefix=".part-")
            with os.fdopen(fd, "wb") as f:
                f.write(data)
            os.rename(tmp, base + suffix)
        return "250 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--user", required=True)
    parser.add_argument("--password", required=True)
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--require-auth", action="store_true")
    parser.add_argument("--exclude", action="append", default=[],
                        help="an AUTH mechanism not to offer (repeatable)")
    parser.add_argument("--tls", choices=["none", "starttls", "implicit"], default="none")
    args = parser.parse_args()

    os.makedirs(args.dir, exist_ok=True)
    port = args.port or free_port()
    handler = Handler(args.dir, args.user, args.password)
    tls = {}
    ready = ""
    if args.tls != "none":
        folder = os.path.join(args.dir, "tls")  # not where the messages go
        os.makedirs(folder, exist_ok=True)
        cert, key = make_certificate(folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(cert, key)
        if args.tls == "starttls":
            tls = {"tls_context": context, "require_starttls": True}
        else:
            tls = {"ssl_context": context}
        ready = f" ca={cert}"
    controller = Controller(
        handler,
        hostname="127.0.0.1",
        port=port,
        authenticator=handler.authenticate,
        auth_require_tls=False,
        auth_required=args.require_auth,
        auth_exclude_mechanism=args.exclude,
        **tls,
    )
    controller.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    print(f"READY port={port} dir={args.dir}{ready}", flush=True)
    while not stop.wait(0.5):
        pass
    controller.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
