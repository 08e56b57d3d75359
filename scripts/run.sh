#!/bin/sh
# The main job: installs what is missing, builds, lays out a working
# installation folder in run/ and starts the console there.  Without a
# display the console runs under Xvfb.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default

inst="$top/run/Quellin_server"
mkdir -p "$inst/firmware" "$inst/log" "$inst/syslog"
cp build/bin/Quellin_tool build/bin/Quellin_tool.html build/bin/quellin "$inst/"
cp build/bin/Syslogd "$inst/syslog/"
[ -f build/bin/syslogd.html ] && cp build/bin/syslogd.html "$inst/syslog/"
[ -f "$inst/NEXORA.INI" ] || cp dist/NEXORA.INI "$inst/"
[ -f "$inst/firmifconvert.db" ] || cp dist/firmifconvert.db "$inst/"

xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT INT TERM

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    export DISPLAY=:77
    Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    sleep 1
    echo "No display found: the console runs on the virtual display $DISPLAY."
    echo "Look at it with, for example: DISPLAY=$DISPLAY import -window root screen.png"
fi

echo "Installation folder: $inst"
echo "Starting the console (Quellin_tool). Close it with 終了 or Ctrl-C."
echo "From the console: ツール > システムログ起動 starts the syslog server (UDP 514)."
echo "From another terminal: $inst/quellin devices   lists the registered routers."
"$inst/Quellin_tool"
