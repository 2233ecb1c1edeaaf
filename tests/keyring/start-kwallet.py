#!/usr/bin/env python3
"""Starts KWallet's daemon (kwalletd5, package libkf5wallet-bin) on the session
bus with its wallet created and opened the way a login opens it: the wallet
password's hash comes through a pipe and the session's environment through a
socket, as the PAM module hands them over. Then it waits until the daemon
serves the Secret Service (org.freedesktop.secrets). Needs HOME,
XDG_CONFIG_HOME, XDG_DATA_HOME and a session bus; prints the daemon's pid."""
import hashlib
import os
import socket
import subprocess
import sys
import time

PASSWORD = b"velotext-test"

config = os.environ["XDG_CONFIG_HOME"]
data = os.environ["XDG_DATA_HOME"]
os.makedirs(config, exist_ok=True)
os.makedirs(os.path.join(data, "kwalletd"), exist_ok=True)
with open(os.path.join(config, "kwalletrc"), "w") as rc:
    rc.write("[Wallet]\nEnabled=true\nFirst Use=false\n\n[org.freedesktop.secrets]\napiEnabled=true\n")
salt = os.urandom(56)
with open(os.path.join(data, "kwalletd", "kdewallet.salt"), "wb") as f:
    f.write(salt)
key = hashlib.pbkdf2_hmac("sha512", PASSWORD, salt, 50000, 56)
LOG = os.path.join(data, "kwalletd5.log")


def start_daemon():
    """kwalletd5 as the PAM module starts it: it opens the wallet with the hash,
    creating it when it is not there."""
    hash_read, hash_write = os.pipe()
    listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    path = os.path.join(data, "kwallet5.socket")
    if os.path.exists(path):
        os.unlink(path)
    listener.bind(path)
    listener.listen(1)
    env = dict(os.environ, PAM_KWALLET5_LOGIN="1", QT_QPA_PLATFORM="offscreen",
               QT_LOGGING_RULES="kf.wallet.kwalletd=true")
    daemon = subprocess.Popen(["kwalletd5", "--pam-login", str(hash_read), str(listener.fileno())],
                              pass_fds=(hash_read, listener.fileno()), env=env, stdout=subprocess.DEVNULL,
                              stderr=open(LOG, "a"))
    os.close(hash_read)
    os.write(hash_write, key)
    os.close(hash_write)
    client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    client.connect(path)
    client.close()  # no environment to add
    listener.close()
    return daemon


def wait_for_name(daemon, name):
    """Until `name` belongs to this daemon (not to one that ended a moment ago)."""
    for _ in range(300):
        if daemon.poll() is not None:
            sys.exit("kwalletd5 ended with %s" % daemon.returncode)
        owner = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                "org.freedesktop.DBus.GetConnectionUnixProcessID", "string:" + name],
                               capture_output=True, text=True)
        if owner.returncode == 0 and owner.stdout.split()[-1] == str(daemon.pid):
            return
        time.sleep(0.1)
    daemon.kill()
    sys.exit("kwalletd5 did not take " + name)


def wait_for_pam_open(daemon, count):
    """Until the daemon's log says that the PAM way opened the wallet, for the `count`th time."""
    for _ in range(300):
        with open(LOG, errors="replace") as log:
            text = log.read()
        if text.count("Wallet opened by PAM") >= count:
            return
        if "Wallet failed to get opened by PAM" in text or daemon.poll() is not None:
            break
        time.sleep(0.1)
    daemon.kill()
    sys.exit("kwalletd5 did not open its wallet; its log: " + LOG)


# The first start creates the wallet (once it says it opened it, the file is
# whole); its Secret Service lists the wallets it found when it started, so a
# second start serves the new one.
daemon = start_daemon()
wait_for_pam_open(daemon, 1)
daemon.terminate()
daemon.wait()
daemon = start_daemon()
wait_for_pam_open(daemon, 2)
wait_for_name(daemon, "org.freedesktop.secrets")
print(daemon.pid)
