#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs, only those that are missing.
#   scripts/deps.sh run    what building and running the server needs
#   scripts/deps.sh test   that, and what the tests, sanitizers, fuzzers and print tests need
set -euo pipefail

run_packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libinih-dev libasio-dev libgl-dev)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev iproute2 util-linux
               xvfb xauth cups printer-driver-cups-pdf poppler-utils python3)

packages=("${run_packages[@]}")
[ "${1:-run}" = test ] && packages+=("${test_packages[@]}")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
