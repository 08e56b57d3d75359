#!/bin/sh
# Syslog reception side by side with rsyslog: for each receiver, loggen sends
# UDP datagrams to 127.0.0.1 at rising rates for a fixed time, and a rate
# counts as sustained when every message sent became one line of the
# receiver's log file.  Rising stops after the first rate with loss.
#
# Syslogd runs four times: logging only; logging and writing the syslog
# store (StoreFlag=1, beside the log file; the rows stored are counted
# against the lines logged, and the bytes of both compared); with a search
# table of 20 entries (none matching), the display running and logging on;
# and at ALERT_RATE
# with an entry that matches every message, a popup and a 2-second wave
# file for each match.  Then once for each protocol of FORWARD ("udp tcp"):
# logging and forwarding every message to a second rsyslog on loopback (the
# central collector), which shows what forwarding costs reception and how
# much of what was logged reached the collector.  Prints the highest
# lossless rate of each run, their ratio to rsyslog's, and Syslogd's peak
# resident memory in each.
#
# Syslogd always listens on UDP 514, so its half needs root; without root it
# is skipped with a message.  rsyslog and loggen run from Debian packages
# unpacked into PEERS (fetched with apt-get download when missing), so the
# machine's own syslog set-up is never touched.  Their libraries must be
# installed: libestr0 libfastjson4 liblognorm5 libivykis0 libnet1 libwrap0
# libjson-c5.
# Then, unless TCP is empty, TCP reception side by side: rsyslog's imtcp and
# Syslogd (TcpFlag=1, both on high ports, so no root is needed) each take
# loggen's stream mode (RFC 5424 with octet counting) over 1 and over 16
# connections for SECONDS_PER_RATE at TCP_RATE messages/s in all; TCP holds
# the sender back instead of losing, so the figure is the rate logged, and
# every message sent must have been logged.
#   RATES ("5000 10000 20000 50000 100000 150000 200000 250000"),
#   SECONDS_PER_RATE (5), MESSAGE_SIZE (200), ALERT_RATE (1000),
#   RSYSLOG_PORT (45514), COLLECTOR_PORT (45515), FORWARD ("udp tcp"; empty:
#   no forwarding runs), TCP ("1 16": connection counts; empty: no TCP runs),
#   TCP_RATE (300000), TCP_PORT (45516), BIN (the folder holding Syslogd), PEERS (the
#   folder for the unpacked packages)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# Copied into build/bench/ the build folder is the parent; run from the
# source tree it is build/.
if [ -d "$here/../bin" ]; then build=$here/..; else build=$here/../build; fi
bin=${BIN:-$build/bin}
peers=${PEERS:-$build/bench-peers}
rates=${RATES:-5000 10000 20000 50000 100000 150000 200000 250000}
seconds=${SECONDS_PER_RATE:-5}
alert_rate=${ALERT_RATE:-1000}
size=${MESSAGE_SIZE:-200}
rsyslog_port=${RSYSLOG_PORT:-45514}
collector_port=${COLLECTOR_PORT:-45515}
forward=${FORWARD-udp tcp}
tcp_connections=${TCP-1 16}
tcp_rate=${TCP_RATE:-300000}
tcp_port=${TCP_PORT:-45516}
syslogd_port=514

work=
loggen_pid=
receiver_pid=
collector_pid=
stop_process() { # pid: TERM, then KILL when it has not ended within 10 s
    [ -n "$1" ] || return 0
    kill -TERM "$1" 2>/dev/null || return 0
    n=0
    while kill -0 "$1" 2>/dev/null && [ "$n" -lt 100 ]; do
        sleep 0.1
        n=$((n + 1))
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}
cleanup() {
    stop_process "$loggen_pid"
    loggen_pid=
    stop_process "$receiver_pid"
    receiver_pid=
    stop_process "$collector_pid"
    collector_pid=
    if [ -n "$work" ]; then rm -rf "$work"; fi
    work=
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# --- peers -----------------------------------------------------------------
root=$peers/root
rsyslogd=$root/usr/sbin/rsyslogd
loggen=$root/usr/bin/loggen
if ! "$here/syslog_peers.sh" "$peers"; then
    echo "syslog bench skipped: rsyslog and loggen cannot be had (see above)"
    exit 0
fi
run_loggen() {
    LD_LIBRARY_PATH=$root/usr/lib/syslog-ng SYSLOGNG_PREFIX=$root/usr "$loggen" "$@"
}

work=$(mktemp -d)

# --- measuring -------------------------------------------------------------
lines_in() { # file
    if [ -f "$1" ]; then wc -l < "$1"; else echo 0; fi
}
# The line count once the receiver has written its backlog: unchanged for
# 2 s, or after 60 s at most.
settled_lines() { # file
    last=$(lines_in "$1")
    still=0
    n=0
    while [ "$still" -lt 20 ] && [ "$n" -lt 600 ]; do
        sleep 0.1
        now=$(lines_in "$1")
        if [ "$now" -eq "$last" ]; then still=$((still + 1)); else still=0; fi
        last=$now
        n=$((n + 1))
    done
    echo "$last"
}
# The kernel's count of datagrams dropped for a full receive buffer.
rcvbuf_errors() {
    awk '$1 == "Udp:" { if (!seen) { for (i = 2; i <= NF; i++) if ($i == "RcvbufErrors") col = i; seen = 1 }
                        else { print $col; exit } }' /proc/net/snmp
}
# Bytes waiting unread in the receive queue of the socket bound to port: a
# receiver that has stopped reading leaves its backlog there.
unread_bytes() { # port
    awk -v port="$(printf '%04X' "$1")" '
        function hex(text,  n, i) {
            n = 0
            for (i = 1; i <= length(text); i++) n = n * 16 + index("0123456789ABCDEF", substr(text, i, 1)) - 1
            return n
        }
        { split($2, local, ":"); if (local[2] == port) { split($5, q, ":"); print hex(q[2]); exit } }
    ' /proc/net/udp
}
# Sends probes until the receiver logs one; false when it never does.
wait_until_listening() { # port file
    n=0
    while [ "$n" -lt 50 ]; do
        kill -0 "$receiver_pid" 2>/dev/null || return 1
        logger -d -n 127.0.0.1 -P "$1" -p user.notice -t bench probe 2>/dev/null || true
        sleep 0.2
        [ "$(lines_in "$2")" -gt 0 ] && return 0
        n=$((n + 1))
    done
    return 1
}

# Runs every rate of $2 against one receiver already listening on port and
# writing file; prints one line per rate and leaves the highest lossless
# rate in $sustained and the rate loggen really reached there in $reached.
measure() { # name rates port file
    name=$1
    these_rates=$2
    shift 2
    set -- "$name" "$@"
    sustained=0
    reached=0
    for rate in $these_rates; do
        before=$(settled_lines "$3")
        dropped_before=$(rcvbuf_errors)
        timeout -s KILL $((seconds + 30)) env \
            LD_LIBRARY_PATH="$root/usr/lib/syslog-ng" SYSLOGNG_PREFIX="$root/usr" \
            "$loggen" -i -D -r "$rate" -I "$seconds" -s "$size" 127.0.0.1 "$2" \
            > "$work/loggen.out" 2>&1 &
        loggen_pid=$!
        wait "$loggen_pid" || true
        loggen_pid=
        sent=$(sed -n 's/^average rate.*count=\([0-9]*\).*/\1/p' "$work/loggen.out" | tail -1)
        if [ -z "$sent" ]; then
            echo "$1: loggen gave no count at $rate msg/s:" >&2
            tail -5 "$work/loggen.out" >&2
            return 1
        fi
        after=$(settled_lines "$3")
        if ! kill -0 "$receiver_pid" 2>/dev/null; then
            echo "$1: the receiver ended during the $rate msg/s run (another program on its port?)"
            return 0
        fi
        dropped=$(($(rcvbuf_errors) - dropped_before))
        logged=$((after - before))
        lost=$((sent - logged))
        unread=$(unread_bytes "$2")
        # The generator falls short of high rates on a busy machine.
        achieved=$((sent / seconds))
        printf '%s %7s msg/s for %s s: sent %s (%s msg/s), logged %s, lost %s (kernel buffer drops %s, left unread %s bytes)\n' \
            "$1" "$rate" "$seconds" "$sent" "$achieved" "$logged" "$lost" "$dropped" "${unread:-0}"
        # More lines than loggen counted (its count can fall a few short
        # at the end of a run) is no loss.
        if [ "$lost" -gt 0 ]; then return 0; fi
        sustained=$rate
        reached=$achieved
    done
}

report() { # name sustained reached
    if [ "$2" -eq 0 ]; then
        echo "$1: lost messages already at the lowest rate tried"
    else
        echo "$1: $2 msg/s sustained without loss (loggen reached $3 msg/s)"
    fi
}

# --- rsyslog ---------------------------------------------------------------
mkdir -p "$work/rsyslog"
cat > "$work/rsyslog/rsyslog.conf" <<EOF
global(workDirectory="$work/rsyslog")
module(load="imudp")
input(type="imudp" address="127.0.0.1" port="$rsyslog_port" rcvbufSize="16m" ruleset="bench")
ruleset(name="bench") {
    action(type="omfile" file="$work/rsyslog/messages.txt" template="RSYSLOG_FileFormat")
}
EOF
"$rsyslogd" -n -f "$work/rsyslog/rsyslog.conf" -i "$work/rsyslog/rsyslogd.pid" \
    -M "$root/usr/lib/x86_64-linux-gnu/rsyslog" > "$work/rsyslog/rsyslogd.out" 2>&1 &
receiver_pid=$!
if ! wait_until_listening "$rsyslog_port" "$work/rsyslog/messages.txt"; then
    echo "rsyslogd did not start listening on 127.0.0.1:$rsyslog_port:" >&2
    tail -5 "$work/rsyslog/rsyslogd.out" >&2
    exit 1
fi
measure rsyslog "$rates" "$rsyslog_port" "$work/rsyslog/messages.txt"
rsyslog_rate=$sustained
rsyslog_reached=$reached
stop_process "$receiver_pid"
receiver_pid=

# --- Syslogd ---------------------------------------------------------------
# Peak resident memory of a process, in MiB.
peak_mib() { # pid
    awk '$1 == "VmHWM:" { printf "%.1f", $2 / 1024 }' "/proc/$1/status" 2>/dev/null || echo "?"
}
# A 2-second wave file of silence, 8 kHz mono 8-bit.
write_wave() { # file
    python3 - "$1" <<'PY'
import sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1)
    w.setsampwidth(1)
    w.setframerate(8000)
    w.writeframes(b"\x80" * 16000)
PY
}
# Runs Syslogd with the extra settings lines over the rates; leaves the
# results in $sustained, $reached and $peak.
run_syslogd() { # name rates extra-settings
    # An installation folder of its own: the program reads Syslogd.ini
    # beside itself, and its single-instance lock lives in XDG_RUNTIME_DIR.
    install=$work/$1
    mkdir -p "$install/run"
    chmod 700 "$install/run"
    # Under a name of its own: a console being tested on the same machine
    # stops every process named Syslogd.
    cp "$bin/Syslogd" "$install/Syslogd-bench"
    printf '[SETUP]\r\nLogWriteFlag=1\r\nLogPath=%s\r\nMailSendFlag=0\r\n%b' \
        "$install/syslogd.txt" "$3" > "$install/Syslogd.ini"
    env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$install/run" LC_ALL=C \
        "$install/Syslogd-bench" > "$install/Syslogd.out" 2>&1 &
    receiver_pid=$!
    if ! wait_until_listening "$syslogd_port" "$install/syslogd.txt"; then
        echo "Syslogd did not start listening on UDP 514:" >&2
        tail -5 "$install/Syslogd.out" >&2
        exit 1
    fi
    measure "$1" "$2" "$syslogd_port" "$install/syslogd.txt"
    peak=$(peak_mib "$receiver_pid")
    stop_process "$receiver_pid"
    receiver_pid=
}

syslogd_rate=
if [ "$(id -u)" -ne 0 ]; then
    echo "syslogd: skipped, it listens on UDP port 514, which needs root"
elif [ ! -x "$bin/Syslogd" ]; then
    echo "syslogd: skipped, $bin/Syslogd is not built (configure with QUELLIN_BUILD_GUI=ON)"
elif grep -qi '^ *[0-9]*: [0-9A-F]*:0202 ' /proc/net/udp /proc/net/udp6 2>/dev/null; then
    echo "syslogd: skipped, UDP port 514 is already in use"
else
    run_syslogd syslogd "$rates" 'SoundType=1\r\n'
    syslogd_rate=$sustained
    syslogd_reached=$reached
    syslogd_peak=$peak

    # The store written beside the log: its rows after Syslogd ended (it
    # writes what waits before it exits) against the lines logged.
    run_syslogd syslogd+store "$rates" 'SoundType=1\r\nStoreFlag=1\r\n'
    store_rate=$sustained
    store_reached=$reached
    store_peak=$peak
    store_logged=$(lines_in "$work/syslogd+store/syslogd.txt")
    store_rows=$(sqlite3 -readonly "$work/syslogd+store/syslogd-store.db" \
        'SELECT count(*) FROM message' 2>/dev/null || echo "?")
    store_bytes=$(du -cb "$work/syslogd+store/syslogd-store.db"* | tail -1 | cut -f1)
    log_bytes=$(wc -c < "$work/syslogd+store/syslogd.txt")

    # Twenty search strings that loggen's messages never contain: every
    # message is held against all of them.
    table='SoundType=1\r\nSearchMaxKensu=20\r\n'
    i=1
    while [ "$i" -le 20 ]; do
        table="${table}KeyStr$i=LINK-DOWN-$i\r\nDispStr$i=link $i down\r\n"
        i=$((i + 1))
    done
    run_syslogd syslogd+search "$rates" "$table"
    search_rate=$sustained
    search_reached=$reached
    search_peak=$peak

    # Every message matches: a popup and a 2-second wave file each time.
    write_wave "$work/alert.wav"
    run_syslogd syslogd+alerts "$alert_rate" \
        "SoundType=3\r\nWavPath=$work/alert.wav\r\nKeyStr1=seq:\r\n"
    alert_sustained=$sustained
    alert_peak=$peak

    # Forwarding every message to a collector: rsyslog on another port,
    # writing each message as it came.
    forward_report=$work/forward-report.txt
    : > "$forward_report"
    for protocol in $forward; do
        collector=$work/collector-$protocol
        mkdir -p "$collector"
        if [ "$protocol" = tcp ]; then
            module=imtcp; flag=1; rcvbuf=
        else
            module=imudp; flag=0; rcvbuf=' rcvbufSize="16m"'
        fi
        cat > "$collector/rsyslog.conf" <<CONF
global(workDirectory="$collector")
module(load="$module")
input(type="$module" address="127.0.0.1" port="$collector_port"$rcvbuf)
template(name="raw" type="string" string="%rawmsg%\n")
action(type="omfile" file="$collector/messages.txt" template="raw")
CONF
        "$rsyslogd" -n -f "$collector/rsyslog.conf" -i "$collector/rsyslogd.pid" \
            -M "$root/usr/lib/x86_64-linux-gnu/rsyslog" > "$collector/rsyslogd.out" 2>&1 &
        collector_pid=$!
        sleep 1
        run_syslogd "syslogd+forward-$protocol" "$rates" \
            "SoundType=1\r\nForwardFlag=1\r\nForwardHost=127.0.0.1\r\nForwardPort=$collector_port\r\nForwardProtocol=$flag\r\n"
        logged_all=$(lines_in "$work/syslogd+forward-$protocol/syslogd.txt")
        collected=$(settled_lines "$collector/messages.txt")
        stop_process "$collector_pid"
        collector_pid=
        echo "$protocol $sustained $reached $peak $logged_all $collected" >> "$forward_report"
    done
fi

# --- TCP -----------------------------------------------------------------
# One stream run per connection count against a receiver listening on
# tcp_port and writing file; one line each into the report.
measure_tcp() { # name file
    for n in $tcp_connections; do
        before=$(settled_lines "$2")
        timeout -s KILL $((seconds + 60)) env \
            LD_LIBRARY_PATH="$root/usr/lib/syslog-ng" SYSLOGNG_PREFIX="$root/usr" \
            "$loggen" -i -S -P --active-connections="$n" -r $((tcp_rate / n)) -I "$seconds" \
            -s "$size" 127.0.0.1 "$tcp_port" > "$work/loggen.out" 2>&1 || true
        sent=$(sed -n 's/^average rate.*count=\([0-9]*\).*/\1/p' "$work/loggen.out" | tail -1)
        logged=$(($(settled_lines "$2") - before))
        echo "$1 over TCP, $n connection(s): sent ${sent:-?}, logged $logged, $((logged / seconds)) msg/s" \
            >> "$work/tcp-report.txt"
    done
}
: > "$work/tcp-report.txt"
if [ -n "$tcp_connections" ]; then
    mkdir -p "$work/rsyslog-tcp"
    cat > "$work/rsyslog-tcp/rsyslog.conf" <<EOF
global(workDirectory="$work/rsyslog-tcp")
module(load="imtcp")
input(type="imtcp" address="127.0.0.1" port="$tcp_port" ruleset="bench")
ruleset(name="bench") {
    action(type="omfile" file="$work/rsyslog-tcp/messages.txt" template="RSYSLOG_FileFormat")
}
EOF
    "$rsyslogd" -n -f "$work/rsyslog-tcp/rsyslog.conf" -i "$work/rsyslog-tcp/rsyslogd.pid" \
        -M "$root/usr/lib/x86_64-linux-gnu/rsyslog" > "$work/rsyslog-tcp/rsyslogd.out" 2>&1 &
    receiver_pid=$!
    sleep 1
    measure_tcp "rsyslog imtcp" "$work/rsyslog-tcp/messages.txt"
    stop_process "$receiver_pid"
    receiver_pid=
    if [ -x "$bin/Syslogd" ]; then
        install=$work/syslogd-tcp
        mkdir -p "$install/run"
        chmod 700 "$install/run"
        cp "$bin/Syslogd" "$install/Syslogd-bench"
        printf '[SETUP]\r\nLogWriteFlag=1\r\nLogPath=%s\r\nSoundType=1\r\nUdpPort=%s\r\nTcpFlag=1\r\nTcpPort=%s\r\n' \
            "$install/syslogd.txt" "$tcp_port" "$tcp_port" > "$install/Syslogd.ini"
        env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$install/run" LC_ALL=C \
            "$install/Syslogd-bench" > "$install/Syslogd.out" 2>&1 &
        receiver_pid=$!
        sleep 2
        measure_tcp "syslogd" "$install/syslogd.txt"
        echo "syslogd over TCP: peak resident memory $(peak_mib "$receiver_pid") MiB" >> "$work/tcp-report.txt"
        stop_process "$receiver_pid"
        receiver_pid=
    fi
fi

echo "message size ${size} bytes, ${seconds} s per rate, rates tried: $rates"
cat "$work/tcp-report.txt"
report rsyslog "$rsyslog_rate" "$rsyslog_reached"
ratio() { # rate
    if [ "$rsyslog_rate" -gt 0 ]; then
        awk -v s="$1" -v r="$rsyslog_rate" 'BEGIN { printf "%.2f", s / r }'
    else
        echo "n/a (rsyslog lost messages at every rate)"
    fi
}
if [ -n "$syslogd_rate" ]; then
    report syslogd "$syslogd_rate" "$syslogd_reached"
    echo "syslogd: peak resident memory $syslogd_peak MiB"
    echo "ratio syslogd/rsyslog: $(ratio "$syslogd_rate")"
    report "syslogd with the store" "$store_rate" "$store_reached"
    echo "syslogd with the store: peak resident memory $store_peak MiB"
    echo "ratio syslogd with the store/rsyslog: $(ratio "$store_rate")"
    echo "ratio syslogd with the store/without: $(awk -v s="$store_rate" -v r="$syslogd_rate" 'BEGIN { if (r > 0) printf "%.2f", s / r; else print "n/a" }')"
    echo "syslogd with the store: $store_rows messages stored of the $store_logged logged over all rates tried; store $store_bytes bytes, log file $log_bytes bytes"
    report "syslogd with 20 search strings" "$search_rate" "$search_reached"
    echo "syslogd with 20 search strings: peak resident memory $search_peak MiB"
    echo "ratio syslogd with 20 search strings/rsyslog: $(ratio "$search_rate")"
    while read -r protocol f_sustained f_reached f_peak f_logged f_collected; do
        report "syslogd forwarding over $protocol" "$f_sustained" "$f_reached"
        echo "syslogd forwarding over $protocol: peak resident memory $f_peak MiB"
        echo "ratio syslogd forwarding over $protocol/rsyslog: $(ratio "$f_sustained")"
        echo "syslogd forwarding over $protocol: the collector received $f_collected of the $f_logged messages Syslogd logged over all rates tried"
    done < "$forward_report"
    if [ "$alert_sustained" -eq "$alert_rate" ]; then
        echo "syslogd with a popup and a 2 s wave file per message: nothing lost at $alert_rate msg/s (peak resident memory $alert_peak MiB)"
    else
        echo "syslogd with a popup and a 2 s wave file per message: LOST messages at $alert_rate msg/s (peak resident memory $alert_peak MiB)"
    fi
fi
