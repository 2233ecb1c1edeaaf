#!/usr/bin/python3
"""Prints N distinct free TCP ports on 127.0.0.1, separated by blanks."""
import socket
import sys

count = int(sys.argv[1]) if len(sys.argv) > 1 else 1
socks = []
for _ in range(count):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    socks.append(s)
print(" ".join(str(s.getsockname()[1]) for s in socks))
for s in socks:
    s.close()
