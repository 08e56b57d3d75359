#!/bin/sh
# Configuration backup of simulated routers whose configuration has not
# changed since the last backup, against the inventory of the same routers
# (which identifies each of them once): prints both times, and checks that
# the unchanged backup committed nothing.
#   ROUTERS (300), INITIAL_SLEEP_MS (200), RECEIVE_TIMEOUT_MS (300),
#   JOBS (32), BIN (the folder holding quellin and tarnsim)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
routers=${ROUTERS:-300}
telnet_port=47223
ftp_port=47221
first=127.0.12.1

. "$here/fleet_setup.sh"
fleet_start "" ""
fleet_register

quellin() {
    "$bin/quellin" "$@" --home "$work/home" --jobs "$jobs" --telnet-port "$telnet_port" \
        --initial-sleep-ms "$sleep_ms" --receive-timeout-ms "$timeout_ms"
}
timed() {
    start=$(now_ms)
    quellin "$@" > "$work/run.out" || {
        echo "quellin $1 failed:" >&2
        tail -5 "$work/run.out" >&2
        exit 1
    }
    echo $(($(now_ms) - start))
}

commits() { git -C "$work/home/history" rev-list --count HEAD 2>/dev/null || echo "?"; }
first_backup=$(timed backup --all)
stored=$(grep -c ': stored' "$work/run.out" || true)
after_first=$(commits)
unchanged_backup=$(timed backup --all)
unchanged=$(grep -c ': unchanged' "$work/run.out" || true)
after_second=$(commits)
inventory=$(timed inventory)
if [ "$stored" -ne "$routers" ] || [ "$unchanged" -ne "$routers" ]; then
    echo "expected $routers stored and $routers unchanged, got $stored and $unchanged" >&2
    exit 1
fi
echo "routers: $routers, --jobs $jobs (initial sleep ${sleep_ms} ms, receive timeout ${timeout_ms} ms)"
echo "first backup (every router stored):  ${first_backup} ms"
echo "backup of unchanged routers:         ${unchanged_backup} ms"
echo "inventory (identification):          ${inventory} ms"
echo "commits after the first backup: $after_first, after the unchanged one: $after_second"
awk -v b="$unchanged_backup" -v i="$inventory" \
    'BEGIN { printf "unchanged backup / inventory: %.2f\n", b / (i > 0 ? i : 1) }'
