#!/bin/sh
# Runs a command on a private session bus with a GNOME Keyring whose login
# keyring is unlocked with a test password (packages dbus-daemon, gnome-keyring):
#   dbus-run-session -- tests/keyring/with-keyring.sh COMMAND...
# With VELOTEXT_UNCREATED_KEYRING set, the keyring runs as on a fresh account:
# no login keyring, so no default collection until one is created.
set -e
home=$(mktemp -d)
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if [ -n "$VELOTEXT_UNCREATED_KEYRING" ]; then
  gnome-keyring-daemon --start --components=secrets >/dev/null
else
  printf %s velotext-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
fi
# The daemon answers before it has taken its name on the bus: wait for the name (5 s at most).
for i in $(seq 50); do
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q 'boolean true' && break
  sleep 0.1
done
status=0
"$@" || status=$?
rm -rf "$home"
exit $status
