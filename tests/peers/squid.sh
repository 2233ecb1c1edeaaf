#!/usr/bin/env bash
# Runs squid in the foreground on a free port of 127.0.0.1 with Basic
# authentication (one user), memory cache only, in its own temporary folder
# removed on SIGTERM. Usage: squid.sh [USER PASS]   Prints: READY port=<port> user=<u> pass=<p>
set -u
here="$(cd "$(dirname "$0")" && pwd)"
user="${1:-squiduser}"
pass="${2:-squidpass}"
dir="$(mktemp -d "${TMPDIR:-/tmp}/velotext-squid.XXXXXX")"
pid=""
stop() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir"
    exit 0
}
trap stop TERM INT

port="$(/usr/bin/python3 "$here/free_ports.py" 1)"
printf '%s:%s\n' "$user" "$(openssl passwd -apr1 "$pass")" > "$dir/passwd"
cat > "$dir/squid.conf" <<CONF
http_port 127.0.0.1:$port
pid_filename $dir/squid.pid
cache_log $dir/cache.log
access_log none
cache_store_log none
coredump_dir $dir
cache deny all
netdb_filename none
visible_hostname velotext-test
shutdown_lifetime 1 seconds
strip_query_terms off
auth_param basic program /usr/lib/squid/basic_ncsa_auth $dir/passwd
auth_param basic realm velotext
auth_param basic children 2
acl authed proxy_auth REQUIRED
http_access allow localhost authed
http_access deny all
CONF
# As root squid runs as the user "proxy", which must be able to write here.
if [ "$(id -u)" -eq 0 ]; then
    chown -R proxy:proxy "$dir"
fi
/usr/sbin/squid -N -f "$dir/squid.conf" >"$dir/squid.out" 2>&1 &
pid=$!
for _ in $(seq 1 200); do
    /usr/bin/python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2).close()" 2>/dev/null && break
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "squid did not start:"; cat "$dir/squid.out" "$dir/cache.log" 2>/dev/null; pid=""; stop
    fi
    sleep 0.05
done
echo "READY port=$port user=$user pass=$pass"
while true; do
    sleep 1 &
    wait $!
done
