#!/bin/sh
# The fleet inventory of simulated routers with quellin, one device at a
# time and 32 at once; prints both times and their ratio.
#
# Each row costs one identification (a telnet dialogue that waits its
# initial sleep and the router's silence) and the image choice over the
# software folder.  The console's waits are 2000 ms and 5000 ms; the
# defaults below are shorter so that the serial run stays bearable, and
# keep the same shape.
#   ROUTERS (300), INITIAL_SLEEP_MS (200), RECEIVE_TIMEOUT_MS (300),
#   JOBS (32), BIN (the folder holding quellin, tarnsim and tarnimage)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
routers=${ROUTERS:-300}
telnet_port=47123
ftp_port=47121
first=127.0.10.1

. "$here/fleet_setup.sh"
# A software folder as a site keeps it: images for several models and
# versions, so that every row's image choice reads them all.
fleet_images Tarn-90:V30.10 Tarn-90:V30.01 Tarn-60:V30.02 Tarn-20B:V29.08 BRKX30:V31.05
fleet_start "" "model=Tarn-90 version=V30.01"
fleet_register

run() {
    start=$(now_ms)
    "$bin/quellin" inventory --home "$work/home" --jobs "$1" \
        --telnet-port "$telnet_port" \
        --initial-sleep-ms "$sleep_ms" --receive-timeout-ms "$timeout_ms" > "$work/run.out" || {
        echo "quellin failed:" >&2
        tail -5 "$work/run.out" >&2
        exit 1
    }
    rows=$(grep -c 'update-available' "$work/run.out" || true)
    if [ "$rows" -ne "$routers" ]; then
        echo "quellin found $rows of $routers routers with their update:" >&2
        grep -v 'update-available' "$work/run.out" | head -5 >&2
        exit 1
    fi
    echo $(($(now_ms) - start))
}

fleet_speed_up inventory
