#!/usr/bin/env bash
# Builds the release and makes the Debian package build/package/ostrel_<version>_amd64.deb with
# CPack. Install it with: sudo apt install ./build/package/ostrel_*.deb
#   scripts/package.sh build   only builds the release's programs and manual pages, as CI does: with
#                              the package's flags, warnings are errors there as in every build
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh package
# Debian's hardening flags (stack protector, fortified functions, read-only relocations, bind now)
# as dpkg-buildflags gives them; the release's own -O3 comes after them and wins.
# (-g is left out: the package's programs are stripped.)
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
cxxflags=${cxxflags//-g /}
launcher=()
if command -v ccache >/dev/null; then
    launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF \
    "${launcher[@]}" "-DCMAKE_CXX_FLAGS=$cxxflags" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build build/release --target ostrel-server ostrel-log ostrel-station package_files
[ "${1:-}" = build ] && exit 0
rm -f build/package/ostrel_*.deb
cpack --config build/release/CPackConfig.cmake -B build/package
rm -rf build/package/_CPack_Packages
ls build/package/ostrel_*.deb
