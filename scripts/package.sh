#!/usr/bin/env bash
# Builds the release and makes the Debian package build/package/ostrel_<version>_amd64.deb with
# CPack. Install it with: sudo apt install ./build/package/ostrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
# Debian's hardening flags (stack protector, fortified functions, read-only relocations, bind now)
# as dpkg-buildflags gives them; the release's own -O3 comes after them and wins.
# (-g is left out: the package's programs are stripped.)
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=${cxxflags//-g /}
# Fortified glibc marks read() and write() warn_unused_result even where a wake-up byte's result
# does not matter and is cast to void; keep those warnings visible but not fatal.
cxxflags+=" -Wno-error=unused-result"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF \
    "-DCMAKE_CXX_FLAGS=$cxxflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/release --target ostrel-server ostrel-log ostrel-station package_files
rm -f build/package/ostrel_*.deb
cpack --config build/release/CPackConfig.cmake -B build/package
rm -rf build/package/_CPack_Packages
ls build/package/ostrel_*.deb
