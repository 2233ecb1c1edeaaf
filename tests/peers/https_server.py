#!/usr/bin/python3
"""An HTTPS server on a free port of 127.0.0.1 with a fresh self-signed
certificate for "localhost", in its own temporary folder (removed on SIGTERM).
GET /status/NNN answers with status NNN, every other path with 200. Each
request line is printed as "REQUEST <line>".
Prints: READY port=<port> ca=<certificate file>"""
import http.server
import os
import shutil
import signal
import ssl
import sys
import tempfile

from test_cert import make_certificate

folder = tempfile.mkdtemp(prefix="velotext-https.")


def stop(*_):
    shutil.rmtree(folder, ignore_errors=True)
    os._exit(0)


signal.signal(signal.SIGTERM, stop)
signal.signal(signal.SIGINT, stop)

try:
    cert, key = make_certificate(folder)
except RuntimeError as e:
    print(e, flush=True)
    stop()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_GET(self):
        print("REQUEST " + self.requestline, flush=True)
        code = 200
        if self.path.startswith("/status/"):
            code = int(self.path[len("/status/"):len("/status/") + 3])
        body = b"OK"
        self.send_response(code)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(cert, key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print("READY port=%d ca=%s" % (server.server_address[1], cert), flush=True)
server.serve_forever()
