#!/bin/sh
# The web view under load, through the real web server on loopback: the
# fleet page's API for 1,000 devices, one device's history of 1,000
# versions, and 50 users asking the API at once (the 95th percentile),
# while a router's provisioning page is asked beside them.  Run as root
# (the web server starts as root and serves as www-data).
set -eu
bin=$(cd "$(dirname "$0")/../bin" && pwd)
src=$(cd "$(dirname "$0")/../.." && pwd)
[ -x /usr/sbin/apache2 ] || { echo "web_bench: apache2 is not installed"; exit 0; }
[ "$(id -u)" -eq 0 ] || { echo "web_bench: needs root"; exit 0; }

work=$(mktemp -d /tmp/quellin-web-bench.XXXXXX)
chmod 755 "$work"
inst=$work/Quellin_server
httpd_pid=""
trap '[ -z "$httpd_pid" ] || kill "$httpd_pid" 2>/dev/null; sleep 1; rm -rf "$work"' EXIT INT TERM
mkdir -p "$inst/config"
cp -a "$src/dist/httpd" "$inst/httpd"
cp "$bin/Netprov" "$bin/Fleetview" "$inst/httpd/cgi-bin/"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$bin/Webcfgpatch" "$inst/httpd/conf/httpd.conf" "$inst" "$port" >/dev/null
sed -i "s/^Listen $port\r\$/Listen 127.0.0.1:$port\r/" "$inst/httpd/conf/httpd.conf"

# 1,000 devices, each with an inventory and a backup recorded.
awk 'BEGIN {
    for (i = 1; i <= 1000; i++)
        printf "b%04d,10.%d.%d.1,pw,,,,0,0,0,0,0,0\r\n", i, int(i / 250), i % 250 > "'"$inst"'/base.db"
    printf "name\tinventory_time\tverdict\tmodel\tversion\timage_version\treason\tbackup_time\tbackup_outcome\tbackup_commit\tdrift_time\tdrift\t-\r\n" > "'"$inst"'/fleet-state.txt"
    for (i = 1; i <= 1000; i++)
        printf "b%04d\t1765000000\t%s\tTarn-90\tV30.01\tV30.10\t\t1765000100\tdone\t0123456789ab\t0\t\t-\r\n", i, (i % 7 ? "up-to-date" : "update-available") > "'"$inst"'/fleet-state.txt"
}'
# One device's history of 1,000 versions (git fast-import: the history
# reads the commit time, whoever made the commit).
git init -q "$inst/history"
awk 'BEGIN {
    for (i = 1; i <= 1000; i++) {
        text = sprintf("hostname b0001\nip route 10.0.%d.0/24 1\n", i)
        printf "commit refs/heads/master\ncommitter q <q@q> %d +0900\ndata 6\nb0001\n", 1765000000 + i * 60
        printf "M 100644 inline b0001.cfg\ndata %d\n%s\n", length(text), text
    }
}' | git -C "$inst/history" fast-import --quiet
git -C "$inst/history" checkout -q master 2>/dev/null || true
printf 'pass\n' | "$bin/quellin" web-user add ops --home "$inst" >/dev/null
chgrp -R www-data "$inst"

setsid "$inst/httpd/bin/httpd" -k runservice >"$work/httpd.out" 2>&1 &
httpd_pid=$!
for _ in $(seq 1 40); do
    curl -s -o /dev/null "http://127.0.0.1:$port/" && break
    sleep 0.25
done
url=http://127.0.0.1:$port

# The median of ten answers, in milliseconds.
median() {
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        curl -s -o /dev/null -u ops:pass -w '%{time_total}\n' "$url$1"
    done | sort -n | awk '{ t[NR] = $1 } END { printf "%.0f", (t[5] + t[6]) / 2 * 1000 }'
}
echo "fleet API, 1000 devices: $(median /api/devices) ms (median of 10)"
echo "history API, 1000 versions: $(median /api/devices/b0001/history) ms (median of 10)"

# 50 users, 20 requests each, the device list and single devices mixed;
# a router asks for its provisioning page alongside.
seq 1 1000 | awk -v u="$url" '{ printf "%s/api/devices%s\n", u, ($1 % 2 ? "" : sprintf("/b%04d", $1)) }' \
    >"$work/urls"
curl -s -o /dev/null -w '%{time_total}\n' "$url/cgi-bin/Netprov" >"$work/router.before"
xargs -P 50 -n 1 curl -s -o /dev/null -u ops:pass -w '%{time_total}\n' <"$work/urls" \
    >"$work/times" &
load=$!
sleep 1
curl -s -o /dev/null -w '%{time_total}\n' "$url/cgi-bin/Netprov" >"$work/router.during"
wait "$load"
sort -n "$work/times" | awk '{ t[NR] = $1 } END {
    printf "50 concurrent users, 1000 requests: p95 %.0f ms, p50 %.0f ms\n", t[int(NR * 0.95)] * 1000, t[int(NR / 2)] * 1000 }'
awk '{ printf "a router'"'"'s page: %.0f ms alone, ", $1 * 1000 }' "$work/router.before"
awk '{ printf "%.0f ms under that load\n", $1 * 1000 }' "$work/router.during"
