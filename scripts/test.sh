#!/usr/bin/env bash
# Installs what the tests need, builds, and runs every test with CTest: once in a plain build and
# once under AddressSanitizer and UndefinedBehaviorSanitizer; then the tests that run threads under
# ThreadSanitizer, and the fuzzers for a bounded time. The release is built too, as the package
# builds it (-O3, fortified), where the optimiser finds warnings the other builds do not; it runs
# no tests of its own.
# As root the tests run in a private network namespace with only the loopback interface, so the
# server's start-up announcement can reach no other host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test

jobs=$(nproc)
in_private_net() {
    if [ "$(id -u)" -eq 0 ] && unshare -n true 2>/dev/null; then
        unshare -n -- bash -c 'ip link set lo up && exec "$@"' bash "$@"
    else
        "$@"
    fi
}

build_and_test() {
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    in_private_net ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 300
}

build_and_test build/test -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/package.sh build
ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    build_and_test build/asan -DCMAKE_BUILD_TYPE=Debug -DOSTREL_SANITIZE=ON -DOSTREL_BENCH=OFF

# Only the threaded tests' executables are built here (CTest label *_threads), which keeps this
# step to a few minutes. A data race stops the test at its first report. Left out: widget tests that
# run no thread of ours but show a view, which makes Debian's uninstrumented Qt hand image work to
# its own thread pool, whose joins ThreadSanitizer cannot see; and the descriptor-exhaustion test,
# which needs every descriptor number in use while the sanitizer's runtime opens and closes its own
# (the plain and AddressSanitizer runs keep it).
tsan_skip='^FollowNewestRows\.|^TCPServer\.OutOfDescriptorsBacksOffInsteadOfSpinning$'
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOSTREL_TSAN=ON -DOSTREL_BENCH=OFF >/dev/null
cmake --build build/tsan -j "$jobs" --target threaded_tests
TSAN_OPTIONS=halt_on_error=1 \
    in_private_net ctest --test-dir build/tsan -L threads -E "$tsan_skip" --output-on-failure -j "$jobs" --timeout 300

if [ -x scripts/fuzz.sh ]; then
    scripts/fuzz.sh 30
fi
echo "All tests passed."
