#!/usr/bin/env bash
# Runs tinyproxy in the foreground on a free port of 127.0.0.1 with Basic
# authentication, in its own temporary folder removed on SIGTERM.
# Usage: tinyproxy.sh [USER PASS]   Prints: READY port=<port> user=<u> pass=<p>
set -u
here="$(cd "$(dirname "$0")" && pwd)"
user="${1:-proxyuser}"
pass="${2:-proxypass}"
dir="$(mktemp -d "${TMPDIR:-/tmp}/velotext-tinyproxy.XXXXXX")"
pid=""
stop() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir"
    exit 0
}
trap stop TERM INT

port="$(/usr/bin/python3 "$here/free_ports.py" 1)"
cat > "$dir/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Timeout 60
Allow 127.0.0.1
BasicAuth $user $pass
DisableViaHeader Yes
LogLevel Info
LogFile "$dir/tinyproxy.log"
PidFile "$dir/tinyproxy.pid"
MaxClients 20
CONF
[ "$(id -u)" -eq 0 ] && printf 'User nobody\nGroup nogroup\n' >> "$dir/tinyproxy.conf" && chmod 755 "$dir" && chmod 666 "$dir"/* 2>/dev/null
: > "$dir/tinyproxy.log"; chmod 666 "$dir/tinyproxy.log"
/usr/bin/tinyproxy -d -c "$dir/tinyproxy.conf" >"$dir/tinyproxy.out" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
    /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "tinyproxy did not start:"; cat "$dir/tinyproxy.out" "$dir/tinyproxy.log"; pid=""; stop
    fi
    sleep 0.05
done
echo "READY port=$port user=$user pass=$pass"
while true; do
    sleep 1 &
    wait $!
done
