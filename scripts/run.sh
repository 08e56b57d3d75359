#!/bin/sh
# The main job: installs what is missing, builds, makes the installation
# medium and installs it unattended into run/Quellin_server, then lays out a
# demonstration: a simulated router fleet on 127.0.88.x (tarnsim) registered
# with access IDs, firmware images in the software folder, the installed web
# server with Netprov on a loopback port, and the console.  Without a display
# the console runs under Xvfb.  Ctrl-C (or closing the console) stops
# everything this script started.  Run as root: the routers listen on ports
# 23 and 21 of their own addresses, as Netprov and the console expect, and
# Syslogd binds UDP port 514.  Without a display, the console runs on a
# virtual one (Xvfb) that a VNC viewer can show and work (x11vnc on
# 127.0.0.1).
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)

if [ "$(id -u)" != 0 ]; then
    echo "run.sh: run as root (routers on ports 23/21, Syslogd on UDP 514)." >&2
    exit 1
fi

headless=""
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    headless=yes
fi
# shellcheck disable=SC2046
./scripts/install-deps.sh $([ -n "$headless" ] && echo x11vnc)
cmake --preset default
cmake --build --preset default
cmake --build --preset default --target medium

bin="$top/build/bin"
demo="$top/run"
inst="$demo/Quellin_server"
httpd="$inst/httpd/bin/httpd"

# Everything this script starts, stopped again on the way out.
fleet_pid=""
console_pid=""
xvfb_pid=""
vnc_pid=""
httpd_started=""
cleanup() {
    trap - EXIT
    trap '' INT TERM
    set +e
    echo
    echo "Stopping the demonstration ..."
    [ -n "$console_pid" ] && kill "$console_pid" 2>/dev/null
    # Syslogd was started from the console's menu; find it by its full path.
    for pid in $(pgrep -x Syslogd 2>/dev/null); do
        if [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$inst/syslog/Syslogd" ]; then
            kill "$pid" 2>/dev/null
        fi
    done
    [ -n "$httpd_started" ] && "$httpd" -k stop >/dev/null 2>&1
    [ -n "$fleet_pid" ] && kill "$fleet_pid" 2>/dev/null
    [ -n "$vnc_pid" ] && kill "$vnc_pid" 2>/dev/null
    sleep 1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    echo "Stopped.  The installation stays in $inst."
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A fresh installation each time, made by Setup from the medium.
if [ -x "$httpd" ]; then
    "$httpd" -k stop >/dev/null 2>&1 || true # left over from a run that was killed
fi
rm -rf "$demo"
mkdir -p "$demo/desktop" "$demo/sim" "$demo/xdg-runtime"
chmod 700 "$demo/xdg-runtime"
XDG_DESKTOP_DIR="$demo/desktop" build/medium/Setup --folder "$inst" --accept-license

# Firmware in the software folder: newer versions for two of the models.
"$bin/tarnimage" --model Tarn-120 --version V06.02 "$inst/firmware/Tarn-120-V06.02.bin"
"$bin/tarnimage" --model Tarn-90 --version V30.05 "$inst/firmware/Tarn-90-V30.05.bin"
"$bin/tarnimage" --model Tarn-20B --version V10.02 "$inst/firmware/Tarn-20B-V10.02.bin"

# The fleet: one router that provisions itself over HTTP (no telnet
# password, as Netprov logs in without one) and three for the console.
cat >"$demo/fleet.txt" <<EOF
defaults telnet-port=23 ftp-port=21 reset-delay-ms=2000 syslog=127.0.0.1:514
router name=osaka    address=127.0.88.10 model=Tarn-120 version=V05.00
router name=kyoto    address=127.0.88.11 model=Tarn-90  version=V30.01 password=kyoto-pw
router name=nagoya   address=127.0.88.12 model=Tarn-20B version=V10.02 password=nagoya-pw
router name=sapporo  address=127.0.88.13 model=Tarn-60  version=V29.05 password=sapporo-pw
EOF
"$bin/tarnsim" --state "$demo/sim" --fleet "$demo/fleet.txt" >"$demo/sim/tarnsim.out" 2>&1 &
fleet_pid=$!
tries=0
until grep -q '^ready all' "$demo/sim/tarnsim.out" 2>/dev/null; do
    tries=$((tries + 1))
    if [ $tries -gt 100 ] || ! kill -0 "$fleet_pid" 2>/dev/null; then
        echo "run.sh: the router fleet did not start:" >&2
        cat "$demo/sim/tarnsim.out" >&2
        exit 1
    fi
    sleep 0.1
done

register() { # name address password access-id access-password
    printf 'hostname %s\r\ninterface lan0\r\n ip address %s/8\r\n' "$1" "$2" >"$inst/config/$1.txt"
    "$inst/quellin" register "$1" --address "$2" --password "$3" \
        --access-id "$4" --access-password "$5" --config "$inst/config/$1.txt"
}
register osaka 127.0.88.10 "" osaka-id osaka-secret
register kyoto 127.0.88.11 kyoto-pw kyoto-id kyoto-secret
register nagoya 127.0.88.12 nagoya-pw nagoya-id nagoya-secret
register sapporo 127.0.88.13 sapporo-pw sapporo-id sapporo-secret

# Syslogd writes what it receives to a log file.
printf '[SETUP]\r\nLogWriteFlag=1\r\nLogPath=%s\r\n' "$demo/syslogd.txt" >"$inst/syslog/Syslogd.ini"

# The web server serves as www-data, a member of the installation's group
# that Setup (run as root) arranged; it must pass through the folder above.
chmod a+rX "$demo"

# The web server on an unprivileged loopback port.
port=8080
while ss -ltn "sport = :$port" 2>/dev/null | grep -q LISTEN; do
    port=$((port + 1))
done
sed -i "s/^Listen 80\r\$/Listen 127.0.0.1:$port\r/" "$inst/httpd/conf/httpd.conf"
"$httpd" -k start
httpd_started=yes

export XDG_RUNTIME_DIR="$demo/xdg-runtime"
if [ -n "$headless" ]; then
    screen=77
    while [ -e "/tmp/.X11-unix/X$screen" ] || [ -e "/tmp/.X$screen-lock" ]; do
        screen=$((screen + 1))
    done
    export DISPLAY=":$screen"
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >"$demo/xvfb.out" 2>&1 &
    xvfb_pid=$!
    sleep 1
    vnc_port=5900
    while ss -ltn "sport = :$vnc_port" 2>/dev/null | grep -q LISTEN; do
        vnc_port=$((vnc_port + 1))
    done
    x11vnc -display "$DISPLAY" -localhost -rfbport "$vnc_port" -nopw -forever -shared \
        -quiet >"$demo/x11vnc.out" 2>&1 &
    vnc_pid=$!
fi

# A session of its own, so that nothing the console signals reaches this script.
setsid "$inst/Quellin_tool" >"$demo/console.out" 2>&1 &
console_pid=$!

url="http://127.0.0.1:$port/cgi-bin/Netprov"
cat <<EOF

Quellin Server demonstration
  installation   $inst
  routers        tarnsim (pid $fleet_pid): osaka 127.0.88.10 Tarn-120 V05.00,
                 kyoto 127.0.88.11 Tarn-90 V30.01, nagoya 127.0.88.12 Tarn-20B V10.02,
                 sapporo 127.0.88.13 Tarn-60 V29.05; journal $demo/sim/journal.jsonl
  web server     $url (Netprov; $httpd -k stop)
  console        Quellin_tool (pid $console_pid) on display $DISPLAY
EOF
if [ -n "$headless" ]; then
    cat <<EOF
  no display     the console runs on the virtual display $DISPLAY (Xvfb); see and
                 work it with a VNC viewer on 127.0.0.1:$vnc_port (x11vnc, pid $vnc_pid);
                 from another machine: ssh -L $vnc_port:127.0.0.1:$vnc_port root@<this host>,
                 then point the viewer at localhost:$vnc_port
EOF
fi
cat <<EOF

Try, from the console: select kyoto and update its firmware (V30.01 -> V30.05),
apply nagoya's configuration, collect sapporo's log; the menu starts Syslogd.
The same from the command line once the console is closed (while it runs,
it holds the installation folder and quellin answers "busy"):
  $inst/quellin apply-config nagoya
A router provisions itself over HTTP (firmware V05.00 -> V06.02, then its
configuration and a restart):
  $bin/tarnsim provision --from 127.0.88.10 --url $url \\
      --access-id osaka-id --access-password osaka-secret --state $demo/sim --name osaka
Syslog flowing into Syslogd (start it from the console's menu first; it logs
to $demo/syslogd.txt):
  $bin/tarnsim syslog --from 127.0.88.13 --to 127.0.0.1:514 "link up on lan0"
Operation logs: $inst/log/

Ctrl-C stops everything.
EOF

wait "$console_pid" || true
console_pid=""
