#!/bin/sh
# The syslog store at a site's scale: a store of MESSAGES messages
# (10,000,000) from ROUTERS routers (1000) over DAYS days (60), Japanese and
# ASCII texts, written through the store writer in receive batches, with the
# same messages in a log file of Syslogd's format beside it.  Prints the
# insert rate, the bytes per message of the store and of the log file, and
# the times of the searches the window, `quellin syslog` and the chart make:
# one router over one day, a text over a week, the counts for the month.
#   MESSAGES, ROUTERS, DAYS; WORK (a folder for the files, removed
#   afterwards; default: a new one under the system's temporary folder);
#   BIN (the folder holding syslog_store_load)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
# Copied into build/bench/ the generator is beside it; run from the source
# tree it is in build/bench/.
if [ -x "$here/syslog_store_load" ]; then bin=$here; else bin=$here/../build/bench; fi
bin=${BIN:-$bin}
if [ ! -x "$bin/syslog_store_load" ]; then
    echo "syslog_store_load not found in $bin: build the bench folder first" >&2
    exit 1
fi
work=${WORK:-}
made=
if [ -z "$work" ]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/syslog-store-bench.XXXXXX")
    made=$work
fi
trap '[ -z "$made" ] || rm -rf "$made"' EXIT INT TERM
mkdir -p "$work"
"$bin/syslog_store_load" "$work" "${MESSAGES:-10000000}" "${ROUTERS:-1000}" "${DAYS:-60}"
