#!/bin/sh
# Log collection from a fleet of simulated routers with quellin, one device
# at a time and 32 at once; prints both times and their ratio.
#
# The run time of a collection is mostly waiting: each telnet dialogue waits
# its initial sleep and the router's silence (the receive timeout).  The
# console's own values are 2000 ms and 5000 ms; the defaults below are
# shorter so that the serial run stays bearable, and keep the same shape.
#   ROUTERS (100), INITIAL_SLEEP_MS (200), RECEIVE_TIMEOUT_MS (300),
#   JOBS (32), BIN (the folder holding quellin and tarnsim)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
routers=${ROUTERS:-100}
telnet_port=47023
ftp_port=47021
first=127.0.9.1

. "$here/fleet_setup.sh"
fleet_start "tech-support-bytes=4096"
fleet_register
names=$(cut -d, -f1 "$work/home/base.db" | tr '\n' ' ')

run() {
    start=$(now_ms)
    # shellcheck disable=SC2086
    "$bin/quellin" collect-log $names --home "$work/home" --jobs "$1" \
        --telnet-port "$telnet_port" --ftp-port "$ftp_port" \
        --initial-sleep-ms "$sleep_ms" --receive-timeout-ms "$timeout_ms" > "$work/run.out" || {
        echo "quellin failed:" >&2
        tail -5 "$work/run.out" >&2
        exit 1
    }
    echo $(($(now_ms) - start))
}

fleet_speed_up collect-log
