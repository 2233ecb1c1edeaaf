#!/usr/bin/env bash
# Runs a real SMS gateway for the web-gate tests: Kannel's bearerbox with a fake
# SMSC, the fake SMSC client that logs every message it receives, and smsbox
# with its HTTP sendsms interface. Everything listens on 127.0.0.1 on free ports
# and lives in its own temporary folder, removed on SIGTERM.
# Prints: READY port=<sendsms port> admin=<admin port> user=<u> pass=<p> log=<fake SMSC log>
set -u
here="$(cd "$(dirname "$0")" && pwd)"
dir="$(mktemp -d "${TMPDIR:-/tmp}/velotext-kannel.XXXXXX")"
pids=()

stop() {
    # smsbox first, then the fake SMSC, then bearerbox.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    rm -rf "$dir"
    exit 0
}
trap stop TERM INT

read -r admin boxport smscport sendport < <(/usr/bin/python3 "$here/free_ports.py" 4)
user=velotext
pass=secret7
cat > "$dir/kannel.conf" <<CONF
group = core
admin-port = $admin
admin-interface = 127.0.0.1
admin-password = adm1n
admin-allow-ip = 127.0.0.1
smsbox-port = $boxport
smsbox-interface = 127.0.0.1
box-allow-ip = 127.0.0.1
log-file = "$dir/bearerbox.log"
log-level = 0

group = smsc
smsc = fake
smsc-id = fake
host = 127.0.0.1
port = $smscport
connect-allow-ip = 127.0.0.1

group = smsbox
bearerbox-host = 127.0.0.1
bearerbox-port = $boxport
sendsms-port = $sendport
sendsms-interface = 127.0.0.1
log-file = "$dir/smsbox.log"
log-level = 0

group = sendsms-user
username = $user
password = $pass
max-messages = 10
concatenation = true
default-sender = 5555
CONF

/usr/sbin/bearerbox "$dir/kannel.conf" >"$dir/bearerbox.out" 2>&1 &
pids+=($!)
# Wait for the admin interface before the clients connect.
status() { /usr/bin/python3 - "$admin" <<'PY'
import sys, urllib.request
try:
    with urllib.request.urlopen("http://127.0.0.1:%s/status.txt?password=adm1n" % sys.argv[1], timeout=1) as r:
        print(r.read().decode("latin-1"))
except Exception:
    pass
PY
}
for _ in $(seq 1 100); do
    [ -n "$(status)" ] && break
    sleep 0.1
done
/usr/lib/kannel/test/fakesmsc -H 127.0.0.1 -r "$smscport" -m 0 "1 2 text unused" >"$dir/fakesmsc.log" 2>&1 &
pids+=($!)
/usr/sbin/smsbox "$dir/kannel.conf" >"$dir/smsbox.out" 2>&1 &
pids+=($!)

ready=0
for _ in $(seq 1 200); do
    s="$(status)"
    if grep -q "smsbox:(none)" <<<"$s" && grep -q "fake.*online" <<<"$s"; then
        ready=1
        break
    fi
    sleep 0.1
done
if [ "$ready" != 1 ]; then
    echo "Kannel did not come up:"
    status
    tail -n 20 "$dir/bearerbox.log" "$dir/smsbox.log" "$dir/fakesmsc.log" 2>/dev/null
    stop
fi
echo "READY port=$sendport admin=$admin user=$user pass=$pass log=$dir/fakesmsc.log"
while true; do
    sleep 1 &
    wait $!
done
