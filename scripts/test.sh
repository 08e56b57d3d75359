#!/bin/sh
# Every test: installs what is missing, builds with the default preset and
# runs the whole suite with CTest, then runs the Qt-free code's tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and checks the
# formatting.  The sanitizer build runs at low priority while the suite runs:
# the suite mostly waits on sockets and child processes.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
mkdir -p build-asan
cmake --preset asan
nice -n 15 cmake --build --preset asan >build-asan/build.log 2>&1 &
asan_build=$!
status=0
ctest --preset default || status=$?
if ! wait "$asan_build"; then
    cat build-asan/build.log
    exit 1
fi
[ "$status" -eq 0 ] || exit "$status"
ctest --preset asan
./scripts/check-format.sh
