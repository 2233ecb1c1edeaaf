#!/bin/sh
# Runs a command on a private session bus with KWallet serving the Secret
# Service (packages libkf5wallet-bin, libqca-qt5-2-plugins): its wallet created
# and opened with a test password the way a login opens it, no KDE session:
#   dbus-run-session -- tests/keyring/with-kwallet.sh COMMAND...
set -e
home=$(mktemp -d)
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
daemon=$(python3 "$(dirname "$0")/start-kwallet.py")
status=0
"$@" || status=$?
kill "$daemon" 2>/dev/null || true
rm -rf "$home"
exit $status
