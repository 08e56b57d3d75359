#!/bin/sh
# Every test: installs what is missing, builds with the default preset and
# runs the whole suite with CTest.
set -eu
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
cmake --preset default
cmake --build --preset default
ctest --preset default
