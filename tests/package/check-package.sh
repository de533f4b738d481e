#!/usr/bin/env bash
# Makes the Debian package from a build tree with CPack and checks it without installing it: the
# control data, the file list, lintian, the menu entry, then the programs run from an extracted copy,
# and, when OSTREL_PACKAGE_LIFECYCLE=1, its life from installation to purge inside a throwaway
# root (lifecycle.sh). The tests install nothing by default, not even into an overlay.
# Usage: check-package.sh BUILD_DIR SAMPLE_LOG
set -euo pipefail
build=$1
sample_log=$2

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

[ -f "$build/CPackConfig.cmake" ] || fail "no CPack configuration in $build (help2man missing at configure time?)"
for tool in cpack dpkg-deb lintian desktop-file-validate; do
    command -v "$tool" >/dev/null || fail "$tool is needed (scripts/deps.sh test)"
done
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[ -n "$version" ] || fail "no version in CPackConfig.cmake"

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-package-XXXXXX")
trap 'rm -rf "$work"' EXIT
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || {
    cat "$work/cpack.log"
    fail "cpack"
}
deb=$work/out/ostrel_${version}_amd64.deb
[ -f "$deb" ] || fail "expected $(basename "$deb"), got: $(ls "$work/out")"

# Control data: the libraries found by shlibdeps, and the ini as a conffile.
control=$(dpkg-deb -f "$deb")
grep -qx "Version: $version" <<<"$control" || fail "version: $control"
for dependency in libqt6widgets6 libqt6printsupport6 libinih1 libc6 adduser qt6-qpa-plugins; do
    grep -q "^Depends:.*\b$dependency\b" <<<"$control" || fail "Depends lacks $dependency: $control"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles >"$work/conffiles"
[ "$(cat "$work/conffiles")" = /opt/ostrel/Ostrel.ini ] || fail "conffiles: $(cat "$work/conffiles")"

# What goes where: "path" for a file, "path -> target" for a link.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\//, "/", $6); print $6 ($7 == "->" ? " -> " $8 : "") }' >"$work/files"
for expected in /opt/ostrel/ostrel-server /opt/ostrel/ostrel-log /opt/ostrel/ostrel-station /opt/ostrel/Ostrel.ini \
    "/usr/bin/ostrel-server -> /opt/ostrel/ostrel-server" "/usr/bin/ostrel-log -> /opt/ostrel/ostrel-log" \
    "/usr/bin/ostrel-station -> /opt/ostrel/ostrel-station" /usr/share/applications/ostrel.desktop \
    /usr/share/icons/hicolor/32x32/apps/ostrel.png /usr/share/man/man1/ostrel-server.1.gz \
    /usr/share/man/man1/ostrel-log.1.gz /usr/share/man/man1/ostrel-station.1.gz /usr/share/doc/ostrel/copyright \
    /usr/share/doc/ostrel/README.md /usr/share/doc/ostrel/chain.md; do
    grep -qxF "$expected" "$work/files" || fail "the package lacks $expected"
done

# Errors and warnings fail; the ones kept are overridden with their reasons in the package.
status=0
lintian --fail-on error,warning --tag-display-limit 0 "$deb" >"$work/lintian.out" 2>&1 || status=$?
grep -v "running with root privileges" "$work/lintian.out" || true
[ "$status" = 0 ] || fail "lintian"

root=$work/root
dpkg-deb -x "$deb" "$root"
# Not a warning nor a hint either: one with two main categories is listed twice in some menus.
validation=$(desktop-file-validate "$root/usr/share/applications/ostrel.desktop" 2>&1) || fail "desktop entry: $validation"
[ -z "$validation" ] || fail "desktop entry: $validation"
grep -qx "Icon=ostrel" "$root/usr/share/applications/ostrel.desktop" || fail "the desktop entry's icon"
[ "$(file -b --mime-type "$root/usr/share/icons/hicolor/32x32/apps/ostrel.png")" = image/png ] || fail "icon"

# The extracted programs run on this machine's libraries; none of them needs a display for this.
opt=$root/opt/ostrel
[ "$("$opt/ostrel-server" --version)" = "ostrel-server $version" ] || fail "ostrel-server --version"
[ "$("$opt/ostrel-log" --version)" = "ostrel-log $version" ] || fail "ostrel-log --version"
[ "$("$opt/ostrel-station" --version)" = "ostrel-station $version" ] || fail "ostrel-station --version"
zcat "$root/usr/share/man/man1/ostrel-server.1.gz" | grep -q '^\.SH OPTIONS' || fail "ostrel-server(1) has no options"

# The manual pages are made from the --help texts, whose layout help2man must understand: the pages
# render without a warning, and ostrel-server(1) names under FILES, each as an entry of its own and
# not lost in the paragraph before, every file the package makes for the operators' servers to
# share, and their group.
for page in ostrel-server ostrel-log ostrel-station; do
    warnings=$(zcat "$root/usr/share/man/man1/$page.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
    [ -z "$warnings" ] || fail "$page(1): $warnings"
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./postinst >"$work/postinst"
shared=$(sed -n 's/^ *for name in \(.*\); do$/\1/p' "$work/postinst")
group=$(sed -n 's/^ *addgroup --system --quiet \([a-z]*\)$/\1/p' "$work/postinst")
[ -n "$shared" ] && [ -n "$group" ] || fail "postinst names no shared files or no group"
zcat "$root/usr/share/man/man1/ostrel-server.1.gz" | groff -man -Tutf8 -P-cbou -rHY=0 2>/dev/null |
    sed -n '/^FILES$/,/^[A-Z]/p' >"$work/files-section"
for name in $shared; do
    grep -qE "^ {7}(.*, )?${name//./\\.}(,.*)?$" "$work/files-section" || fail "ostrel-server(1) FILES has no entry $name"
done
tr '\n' ' ' <"$work/files-section" | grep -qE "group +\"$group\"" || fail "ostrel-server(1) FILES does not name the group $group"

cp "$sample_log" "$work/Ostrel.log"
(cd "$work" && "$opt/ostrel-log" check) >"$work/check.out" || fail "ostrel-log check: $(cat "$work/check.out")"
grep -qx "intact" "$work/check.out" || fail "ostrel-log check: $(cat "$work/check.out")"
# A record cut short must be reported: the extracted tool really reads the file.
head -c -1 "$sample_log" >"$work/cut.log"
status=0
"$opt/ostrel-log" check "$work/cut.log" >/dev/null || status=$?
[ "$status" = 1 ] || fail "ostrel-log check of a cut log exits $status"

# Install, upgrade over itself with an edited ini, remove and purge, in a throwaway root: by hand.
if [ "${OSTREL_PACKAGE_LIFECYCLE:-0}" = 1 ]; then
    status=0
    "$(dirname "$0")/lifecycle.sh" "$deb" || status=$?
    [ "$status" = 0 ] || [ "$status" = 77 ] || fail "lifecycle"
fi
echo "package $(basename "$deb") checked"
