#!/bin/sh
# Every test: installs what is missing, builds with the default preset and
# runs the whole suite with CTest, then runs the Qt-free code's tests again
# under AddressSanitizer and UndefinedBehaviorSanitizer, and checks the
# formatting.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
cmake --preset asan
cmake --build --preset asan
ctest --preset asan
./scripts/check-format.sh
