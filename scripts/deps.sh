#!/usr/bin/env bash
# Installs the Debian packages Ostrel needs, only those that are missing.
#   scripts/deps.sh run    what building and running the server needs
#   scripts/deps.sh package  that, and what making and checking the Debian package needs
#   scripts/deps.sh test   all of the above, and what the tests, sanitizers, fuzzers and print tests need
set -euo pipefail

# qt6-charts-dev does not pull in the OpenGL module's CMake files its own need: libqt6opengl6-dev.
# libpq-dev: the chain's shipper talks to PostgreSQL through libpq (the package then depends on libpq5).
run_packages=(build-essential cmake ninja-build pkg-config qt6-base-dev libinih-dev libasio-dev libgl-dev fonts-liberation2
              qt6-translations-l10n qt6-charts-dev libqt6opengl6-dev libpq-dev)
# help2man writes the manual pages; CPack's shlibdeps needs dpkg-shlibdeps (dpkg-dev) and file.
package_packages=(help2man dpkg-dev file lintian desktop-file-utils man-db)
test_packages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev iproute2 util-linux
               xvfb xauth cups printer-driver-cups-pdf poppler-utils python3 postgresql)
# postgresql: the chain's tests start a PostgreSQL 15 server of their own (initdb into a temporary folder).

packages=("${run_packages[@]}")
case "${1:-run}" in
    package) packages+=("${package_packages[@]}") ;;
    test) packages+=("${package_packages[@]}" "${test_packages[@]}") ;;
esac

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
