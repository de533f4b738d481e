#!/usr/bin/env bash
# Builds a release build of the server, puts the sample Ostrel.ini beside it when none is there,
# and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh run
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
cmake --build build/release --target ostrel-server ostrel-log ostrel-station
[ -f build/release/Ostrel.ini ] || cp config/Ostrel.ini build/release/Ostrel.ini
exec build/release/ostrel-server
