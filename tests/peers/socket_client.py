#!/usr/bin/python3
"""Clients that misbehave towards a program's local socket.

    socket_client.py hold PATH COUNT SECONDS   # COUNT connections held open, then closed
    socket_client.py half PATH SECONDS         # half a command sent; waits for the program to cut it

"hold" prints "held=N" (the connections made); "half" prints "cut=1" when
the program closed the connection within SECONDS, else "cut=0".
"""
import resource
import socket
import sys
import time

mode, path = sys.argv[1], sys.argv[2]
if mode == "hold":
    count, seconds = int(sys.argv[3]), float(sys.argv[4])
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, count + 64)), hard))
    held = []
    for _ in range(count):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(0.5)
        try:
            s.connect(path)
            held.append(s)
        except OSError:
            s.close()
    time.sleep(seconds)
    for s in held:
        s.close()
    print("held=%d" % len(held), flush=True)
elif mode == "half":
    seconds = float(sys.argv[3])
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    s.sendall((100).to_bytes(4, "big") + b"send\0--to")  # a frame of 100 bytes, 9 of them sent
    s.settimeout(seconds)
    try:
        cut = s.recv(1) == b""
    except ConnectionResetError:
        cut = True
    except OSError:  # the time ran out
        cut = False
    print("cut=%d" % int(cut), flush=True)
