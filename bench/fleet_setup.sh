# shellcheck shell=sh disable=SC2154,SC2034  # variables the benchmark sets and reads
# The set-up the fleet benchmarks share, sourced (". fleet_setup.sh") after
# they set here (their folder), routers, telnet_port, ftp_port and first
# (the first router's address).
#
# Sourcing it reads the settings they all take from the environment (BIN,
# INITIAL_SLEEP_MS, RECEIVE_TIMEOUT_MS, JOBS) into bin, sleep_ms,
# timeout_ms and jobs, and makes a work folder, removed at the end together
# with the simulated fleet, and an installation folder $work/home with its
# software and log folders and a NEXORA.INI for that many rows.  Then the
# benchmark calls:
#   fleet_images MODEL:VERSION...   firmware images in the software folder
#   fleet_start [DEFAULTS [ROUTER]] tarnsim playing `routers` routers from
#                                   `first` (with the password "secret"),
#                                   the words added to its defaults and
#                                   router lines; returns once all are ready
#   fleet_register                  the registry, written the way base.db
#                                   holds it: one row per router
# and times its runs with now_ms (milliseconds).  A benchmark whose
# run JOBS prints the milliseconds of one run with that many jobs ends with
#   fleet_speed_up LABEL            runs it with 1 and with $jobs jobs and
#                                   prints both times and their ratio

bin=${BIN:-$here/../bin}
sleep_ms=${INITIAL_SLEEP_MS:-200}
timeout_ms=${RECEIVE_TIMEOUT_MS:-300}
jobs=${JOBS:-32}

work=$(mktemp -d)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

mkdir -p "$work/home/log" "$work/home/firmware" "$work/sim"
printf '[Config]\r\nFIRMDIR=%s\r\nLOGDIR=%s\r\nMAXROWS=%s\r\n' \
    "$work/home/firmware" "$work/home/log" "$routers" > "$work/home/NEXORA.INI"

fleet_images() {
    for image in "$@"; do
        "$bin/tarnimage" --model "${image%%:*}" --version "${image#*:}" \
            "$work/home/firmware/$(echo "$image" | tr ':' '-').bin" > /dev/null
    done
}

fleet_start() {
    printf 'defaults password=secret telnet-port=%s ftp-port=%s%s\n' \
        "$telnet_port" "$ftp_port" "${1:+ $1}" > "$work/fleet.txt"
    printf 'router name=r%%d address=%s count=%s%s\n' \
        "$first" "$routers" "${2:+ $2}" >> "$work/fleet.txt"

    "$bin/tarnsim" --state "$work/sim" --fleet "$work/fleet.txt" > "$work/sim.out" 2>&1 &
    sim_pid=$!
    tries=0
    until grep -q '^ready all' "$work/sim.out" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt 100 ]; then
            echo "tarnsim did not get ready:" >&2
            cat "$work/sim.out" >&2
            exit 1
        fi
        sleep 0.1
    done
}

fleet_register() {
    grep '^ready r' "$work/sim.out" | while read -r _ name address _; do
        printf '%s,%s,secret,,,,0,0,0,0,0,0\r\n' "$name" "$address"
    done > "$work/home/base.db"
}

now_ms() { date +%s%3N; }

fleet_speed_up() {
    serial=$(run 1)
    parallel=$(run "$jobs")
    echo "routers: $routers (initial sleep ${sleep_ms} ms, receive timeout ${timeout_ms} ms)"
    echo "$1 --jobs 1:  ${serial} ms"
    echo "$1 --jobs $jobs: ${parallel} ms"
    awk -v s="$serial" -v p="$parallel" 'BEGIN { printf "speed-up: %.1fx\n", s / (p > 0 ? p : 1) }'
}
