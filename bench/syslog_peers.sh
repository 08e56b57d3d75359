#!/bin/sh
# Puts Debian's rsyslog and syslog-ng-core (for loggen) unpacked into
# PEERS/root, fetching the packages with apt-get download when they are not
# there yet, so that the syslog benchmark and the forwarding tests run the
# real daemons without touching the machine's own syslog set-up.
#
#   bench/syslog_peers.sh PEERS
#
# Exit status 0 when PEERS/root/usr/sbin/rsyslogd and PEERS/root/usr/bin/loggen
# run, 2 (with the reason) when they cannot be had.  Their libraries must be
# installed (scripts/install-deps.sh does): libestr0 libfastjson4
# liblognorm5 libivykis0 libnet1 libwrap0 libjson-c5.
set -eu
peers=${1:?usage: syslog_peers.sh PEERS}
root=$peers/root
rsyslogd=$root/usr/sbin/rsyslogd
loggen=$root/usr/bin/loggen

if [ ! -x "$rsyslogd" ] || [ ! -x "$loggen" ]; then
    echo "unpacking rsyslog and syslog-ng-core into $peers" >&2
    mkdir -p "$peers/debs"
    download() { (cd "$peers/debs" && apt-get download rsyslog syslog-ng-core >/dev/null 2>&1); }
    # A machine whose package lists were never fetched knows no package
    # to download: fetch them once (as root) and try again.
    if ! download && ! { [ "$(id -u)" -eq 0 ] && apt-get update -qq >/dev/null 2>&1 && download; }; then
        echo "'apt-get download rsyslog syslog-ng-core' failed" >&2
        exit 2
    fi
    # Unpacked beside and moved into place, so that a run beside this one
    # never sees half a tree.
    staging=$(mktemp -d "$peers/root.XXXXXX")
    for deb in "$peers"/debs/rsyslog_*.deb "$peers"/debs/syslog-ng-core_*.deb; do
        dpkg-deb -x "$deb" "$staging"
    done
    if [ -x "$rsyslogd" ] && [ -x "$loggen" ]; then
        rm -rf "$staging"
    else
        rm -rf "$root"
        mv "$staging" "$root"
    fi
fi

if ! "$rsyslogd" -v >/dev/null 2>&1 ||
    ! LD_LIBRARY_PATH=$root/usr/lib/syslog-ng SYSLOGNG_PREFIX=$root/usr "$loggen" --help >/dev/null 2>&1; then
    echo "rsyslogd or loggen does not run; install their libraries:" >&2
    echo "  apt-get install libestr0 libfastjson4 liblognorm5 libivykis0 libnet1 libwrap0 libjson-c5" >&2
    exit 2
fi
