#!/usr/bin/env bash
# Builds every libFuzzer target (executables named fuzz_*) with clang in build/fuzz and runs each
# for the given number of seconds (default 60). A target's seed inputs are taken from the corpus/
# folder beside its sources (fuzz/<layer>/corpus, or fuzz/<layer>/corpus/<target> when present);
# what the fuzzer learns goes to build/fuzz/corpus/<target>, never into the source tree.
# Usage: scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
case $seconds in
    '' | *[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;;
esac

build=build/fuzz
clangxx=$(command -v clang++ || command -v clang++-14 || true)
if [ -z "$clangxx" ]; then
    echo "fuzz.sh: clang++ is needed for libFuzzer" >&2
    exit 1
fi

# Coverage instrumentation for every library the targets link; the targets add -fsanitize=fuzzer.
CXX=$clangxx cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DOSTREL_FUZZ=ON -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF -DOSTREL_SANITIZE=ON \
    -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null

mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\): .*/\1/p' | sort -u)
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz.sh: no fuzz targets"
    exit 0
fi
cmake --build "$build" --target "${targets[@]}" -j "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mapfile -t binaries < <(find "$build" -type f -executable -name 'fuzz_*' ! -path "$build/corpus/*" | sort)
for bin in "${binaries[@]}"; do
    name=$(basename "$bin")
    rel=$(dirname "${bin#"$build"/}")
    seeds=()
    if [ -d "$root/$rel/corpus/$name" ]; then
        seeds=("$root/$rel/corpus/$name")
    elif [ -d "$root/$rel/corpus" ]; then
        seeds=("$root/$rel/corpus")
    fi
    work="$build/corpus/$name"
    mkdir -p "$work" "$build/artifacts"
    echo "== $name: ${seconds}s"
    "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$name-" "$work" "${seeds[@]}"
done
echo "Fuzzing done: ${#binaries[@]} target(s), ${seconds}s each."
