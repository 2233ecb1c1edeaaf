#!/bin/sh
# A picture of a failure notification as a desktop shows it. Run on an X server
# (xvfb-run) inside a private session bus (dbus-run-session with
# tests/notify/session-bus.conf):
#   notification.sh PROGRAM OUTDIR
# openbox manages the windows and dunst is the notification service. The program
# runs on a scratch data folder whose one operator's web gate is a closed port on
# 127.0.0.1 and whose options allow one attempt and ask for failure
# notifications; a message handed to it by a second start fails at once, dunst
# shows the notification, and the whole screen goes to OUTDIR/Notification.png.
set -eu
program=$1
out=$2
mkdir -p "$out"

home=$(mktemp -d)
pids=""
cleanup() {
    for pid in $pids; do kill "$pid" 2>/dev/null || true; done
    for pid in $pids; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$home"
}
trap cleanup EXIT
export HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/share" XDG_RUNTIME_DIR="$home/run"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME/Velotext" "$home/data"
chmod 700 "$XDG_RUNTIME_DIR"

# Waits up to $1 tenths of a second for the command after it to succeed.
wait_for() {
    n=$1
    shift
    while ! "$@" >/dev/null 2>&1; do
        n=$((n - 1))
        [ "$n" -gt 0 ] || return 1
        sleep 0.1
    done
}

# A port nobody listens on: taken from the system, then closed again.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')

# The data files are CP1251 with CRLF line ends, as the program writes them.
cp1251() { iconv -f UTF-8 -t CP1251 | sed 's/$/\r/' > "$1"; }
cp1251 "$home/data/SmsGates.ini" <<INI
[SmsSender:TStdSmsSender:Северная связь]
Name=Северная связь
SenderId=1
MaxSmsLen=160
Charset=CP1251
WebGate=http://127.0.0.1:$port/send?to={phone}&text={message}
GateType=0
INI
cp1251 "$home/data/SmsAddressBook.ini" <<INI
[Contact:TContact:Анна Петрова]
ContactId=1
Name=Анна Петрова
PhoneNumber=+7 916 123-45-67
SmsSenderName=Северная связь
INI
cp1251 "$home/data/SmsOptions.ini" <<INI
[SMS]
MaxTryCount=1
HistoryFlag=1
AlertOnErrorsFlag=1
INI
# A settings store that is not empty: no first-run options dialog.
printf '[Test]\nStarted=1\n' > "$XDG_CONFIG_HOME/Velotext/Velotext.ini"

cat > "$home/dunstrc" <<'RC'
[global]
    font = DejaVu Sans 11
    width = 420
    origin = top-right
    offset = 16x16
    frame_width = 2
    frame_color = "#8a1c1c"
    padding = 10
    horizontal_padding = 12
    format = "<b>%s</b>\n%b"
    show_indicators = no
[urgency_low]
    timeout = 0
[urgency_normal]
    timeout = 0
[urgency_critical]
    timeout = 0
RC

openbox >/dev/null 2>&1 &
pids="$pids $!"
dunst -config "$home/dunstrc" >"$home/dunst.log" 2>&1 &
pids="$pids $!"
wait_for 100 sh -c 'dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.NameHasOwner string:org.freedesktop.Notifications | grep -q true' ||
    { echo "dunst did not take the notification service" >&2; cat "$home/dunst.log" >&2; exit 1; }

"$program" --data-dir "$home/data" >"$home/program.log" 2>&1 &
pids="$pids $!"
wait_for 300 xdotool search --onlyvisible --name Velotext ||
    { echo "the program's window did not show" >&2; cat "$home/program.log" >&2; exit 1; }

# The second start hands the message to the running program and exits.
"$program" --data-dir "$home/data" send --to "Анна Петрова" --text "Встреча переносится на 15:00" ||
    { echo "the send was not handed over" >&2; exit 1; }

wait_for 300 xdotool search --onlyvisible --class Dunst ||
    { echo "no notification was shown" >&2; cat "$home/dunst.log" >&2; exit 1; }
sleep 1 # dunst draws its window once it is mapped
import -window root "$out/Notification.png"
echo "$out/Notification.png"
