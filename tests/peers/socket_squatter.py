#!/usr/bin/python3
"""Another user's process lying in wait for a program's local socket.

    socket_squatter.py LOG PATH...

Listens on each PATH (making the missing folders, open to everyone), writes
"CONNECT" and then every byte each connection sends into LOG and answers as a running program
would: exit code 0, nothing to print. Prints "READY" once it listens.
"""
import os
import select
import socket
import sys

log_path, paths = sys.argv[1], sys.argv[2:]
servers = []
for path in paths:
    folder = os.path.dirname(path)
    if not os.path.isdir(folder):
        os.makedirs(folder)
        os.chmod(folder, 0o777)
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.bind(path)
    os.chmod(path, 0o777)
    s.listen(16)
    servers.append(s)
open(log_path, "wb").close()
print("READY", flush=True)

answer = b"0\0\0"
answer = len(answer).to_bytes(4, "big") + answer
while True:
    ready, _, _ = select.select(servers, [], [])
    for server in ready:
        conn, _ = server.accept()
        with open(log_path, "ab") as log:
            log.write(b"CONNECT\n")
        conn.settimeout(2)
        received = b""
        try:
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                received += chunk
                if len(received) >= 4 and len(received) >= 4 + int.from_bytes(received[:4], "big"):
                    break
            conn.sendall(answer)
        except OSError:
            pass
        conn.close()
        with open(log_path, "ab") as log:
            log.write(received)
