#!/usr/bin/env python3
"""Kill trials of the queue on disk.

Starts a real Kannel gateway (tests/peers/kannel.sh) behind a web gate that
holds each answer a while (--delay), then runs the crash
driver (the main window driven as a user would, see CrashDriver.cpp) on one
data folder again and again, killing it with SIGKILL at a random moment of
each run. After every kill it reads the files as the next start will: every
message ever queued must be in the history or still owed by the queue's
journal (none lost), and none may be in the history twice. At the end one run
works the queue off, and then every message is in the history as sent, and a
message that reached Kannel more than once must have come back marked as cut
short ("Отправка была прервана") at some start.

    kill_trials.py --driver build/tests/crash_driver [--trials 50] [--seed N]
Prints the figures; exit 0 when every check held.
"""
import argparse
import collections
import http.server
import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.parse
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "..", "peers")


def start_kannel():
    proc = subprocess.Popen(["bash", os.path.join(PEERS, "kannel.sh")], stdout=subprocess.PIPE, text=True,
                            start_new_session=True)
    line = proc.stdout.readline()
    if not line.startswith("READY"):
        raise SystemExit("Kannel did not start: " + line)
    values = dict(item.split("=", 1) for item in line.split()[1:])
    return proc, values


class SlowGate(http.server.ThreadingHTTPServer):
    """A web gate in front of Kannel that hands each request on at once and
    answers only after a while: a kill then often falls between the message
    reaching the gateway and the program hearing so."""

    daemon_threads = True

    def __init__(self, kannel_port, delay):
        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                try:
                    with urllib.request.urlopen("http://127.0.0.1:%s%s" % (kannel_port, self.path), timeout=10) as r:
                        status, body = r.status, r.read()
                except urllib.error.HTTPError as e:
                    status, body = e.code, e.read()
                time.sleep(delay)
                try:
                    self.send_response(status)
                    self.send_header("Content-Length", str(len(body)))
                    self.end_headers()
                    self.wfile.write(body)
                except OSError:
                    pass  # the program was killed meanwhile

            def log_message(self, *args):
                pass

        super().__init__(("127.0.0.1", 0), Handler)
        threading.Thread(target=self.serve_forever, daemon=True).start()


def owed(journal_path):
    """The messages the journal owes, as the program reads it: {id: (phone, text, interrupted)}."""
    if not os.path.exists(journal_path):
        return {}
    data = open(journal_path, "rb").read()
    if not data:
        return {}
    lines = data.split(b"\n")
    assert lines[0] == b"VELOTEXT-QUEUE 1", lines[0]
    entries = collections.OrderedDict()
    in_flight = set()

    def unescape(field):
        return re.sub(rb"\\(.)", lambda m: {b"t": b"\t", b"r": b"\r", b"n": b"\n"}.get(m.group(1), m.group(1)),
                      field).decode("cp1251")

    for line in lines[1:-1]:  # the last piece has no LF: empty, or cut by the kill
        f = line.split(b"\t")
        kind, ident = f[0], int(f[1])
        if kind == b"+":
            entries[ident] = (unescape(f[8]), unescape(f[9]), f[4] == b"1")
        elif kind == b"B":
            in_flight.add(ident)
        elif kind == b"R":
            entries.move_to_end(ident)
            in_flight.discard(ident)
        elif kind == b"U":
            in_flight.discard(ident)
        elif kind == b"D":
            del entries[ident]
            in_flight.discard(ident)
        else:
            raise AssertionError(line)
    return {i: (p, t, m or i in in_flight) for i, (p, t, m) in entries.items()}


def history(path):
    """(phone, text, sent) of every record of the history file."""
    if not os.path.exists(path):
        return []
    text = open(path, "rb").read().decode("cp1251")
    records = []
    for block in text.split("=" * 80 + "\r\n")[1:]:
        head, _, body = block.partition("-" * 80 + "\r\n")
        phone = re.search(r"\(([^()]*)\)\r\n", head).group(1)
        records.append((phone, body[:-2], "Сообщение отправлено" in head))
    return records


def arrivals(log_path):
    """How often each (phone, text) reached the fake SMSC behind Kannel."""
    counts = collections.Counter()
    for line in open(log_path, encoding="latin-1"):
        m = re.search(r"<5555 (\S+) (?:text|ucs-2|[\w-]+) (.*)>\s*$", line)
        if m:
            counts[(m.group(1), urllib.parse.unquote(m.group(2)))] += 1
    return counts


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--driver", required=True)
    ap.add_argument("--trials", type=int, default=50)
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--seed", type=int, default=None)
    ap.add_argument("--delay", type=float, default=0.4, help="seconds the gate holds each answer")
    args = ap.parse_args()
    seed = args.seed if args.seed is not None else int(time.time())
    rng = random.Random(seed)
    kannel, peer = start_kannel()
    gate_server = SlowGate(peer["port"], args.delay)
    failures = []
    try:
        folder = tempfile.mkdtemp(prefix="velotext-kill-")
        log = os.path.join(folder, "driver.log")
        data = os.path.join(folder, "data")
        gate = ("http://127.0.0.1:%s/cgi-bin/sendsms?username=%s&password=%s&to={phone}&text={message}"
                % (gate_server.server_address[1], peer["user"], peer["pass"]))
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_CONFIG_HOME=os.path.join(folder, "config"))
        command = [args.driver, "--data-dir", data, "--gate", gate, "--log", log, "--rounds", str(args.rounds)]
        known = set()  # (phone, text) of every message seen owed so far
        killed_owing = 0
        for trial in range(args.trials):
            proc = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            time.sleep(rng.uniform(0.3, 4.0))
            if proc.poll() is not None:
                break  # every round is done
            proc.send_signal(signal.SIGKILL)
            proc.wait()
            queue = owed(os.path.join(data, "SmsQueue.journal"))
            done = history(os.path.join(data, "SmsHistory.txt"))
            in_history = collections.Counter((p, t) for p, t, _ in done)
            now_owed = {(p, t) for p, t, _ in queue.values()}
            killed_owing += 1 if queue else 0
            known |= now_owed | set(in_history)
            lost = [m for m in known if m not in now_owed and m not in in_history]
            twice = [m for m, n in in_history.items() if n > 1]
            if lost or twice:
                failures.append("trial %d: lost %s, in the history twice %s" % (trial + 1, lost, twice))
        trials = trial + 1
        # One run to the end.
        final = subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)
        done = history(os.path.join(data, "SmsHistory.txt"))
        sent = collections.Counter((p, t) for p, t, ok in done if ok)
        known |= set((p, t) for p, t, _ in done)
        if final.returncode != 0:
            failures.append("the final run ended with %d" % final.returncode)
        if owed(os.path.join(data, "SmsQueue.journal")):
            failures.append("the queue still owes messages after the final run")
        for m in known:
            if sent[m] != 1:
                failures.append("%s is in the history as sent %d times" % (m, sent[m]))
        marked = set()
        starts = 0
        for line in open(log, encoding="utf-8"):
            if line.startswith("start "):
                starts += 1
                listed = line.strip().partition("marked=")[2]
                marked |= {tuple(item.split("|", 1)) for item in listed.split(",") if item}
        # The fake SMSC logs what Kannel hands it a moment later.
        for _ in range(100):
            reached = arrivals(peer["log"])
            if all(reached[m] > 0 for m in known):
                break
            time.sleep(0.1)
        doubles = [m for m, n in reached.items() if n > 1]
        for m in doubles:
            if m not in marked:
                failures.append("%s reached the gateway %d times without the mark" % (m, reached[m]))
        missing = [m for m in known if reached[m] == 0]
        if missing:
            failures.append("never reached the gateway: %s" % missing)
        print("seed %d: %d kills (%d while messages were owed), %d starts, %d messages, %d reached the gateway "
              "twice (all marked: %s), %d came back marked"
              % (seed, trials, killed_owing, starts, len(known), len(doubles),
                 "yes" if all(m in marked for m in doubles) else "no", len(marked)))
    finally:
        gate_server.shutdown()
        os.killpg(kannel.pid, signal.SIGTERM)
        kannel.wait()
    for f in failures:
        print("FAILED:", f)
    print("kill trials: " + ("every check held" if not failures else "%d checks failed" % len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
