#!/usr/bin/env bash
# Installs, upgrades over itself, removes and purges a package inside a throwaway root: an overlay
# of this machine's root in a private mount namespace, so every write (dpkg's database, the group,
# /opt/ostrel) lands in a temporary folder and vanishes with it. The machine itself is untouched.
# Needs root and overlayfs; exits 77 when they are missing. Usage: lifecycle.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")

if [ "$(id -u)" -ne 0 ] || ! unshare -m true 2>/dev/null; then
    echo "lifecycle: needs root and mount namespaces; skipped"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-lifecycle-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/upper" "$work/work" "$work/root"
cp "$deb" "$work/ostrel.deb"
cp "$(dirname "$0")/two-operators.sh" "$work/two-operators.sh"

unshare -m -n -- bash -euo pipefail -c '
ip link set lo up
work=$1
mount --make-rprivate /
if ! mount -t overlay overlay -o "lowerdir=/,upperdir=$work/upper,workdir=$work/work" "$work/root" 2>/dev/null; then
    echo "lifecycle: no overlayfs; skipped"
    exit 77
fi
root=$work/root
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount -t tmpfs tmpfs "$root/tmp"
cp "$work/ostrel.deb" "$work/two-operators.sh" "$root/tmp/"
exec chroot "$root" /bin/bash -euo pipefail -c "
fail() { echo \"FAIL: \$*\" >&2; exit 1; }
export DEBIAN_FRONTEND=noninteractive
if dpkg-query -W -f=\"\\\${Status}\" ostrel 2>/dev/null | grep -q \"ok installed\"; then
    echo \"lifecycle: ostrel is installed on this machine; skipped\"
    exit 77
fi
install() { dpkg -i /tmp/ostrel.deb </dev/null >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail \"dpkg -i\"; }; }

install
getent group ostrel >/dev/null || fail \"no group ostrel\"
[ \"\$(stat -c %a:%U:%G /opt/ostrel)\" = 3775:root:ostrel ] || fail \"folder: \$(stat -c %a:%U:%G /opt/ostrel)\"
for f in Ostrel.log Ostrel.audit.csv Ostrel.cash.csv Ostrel.stations Ostrel.running Ostrel.running.2; do
    [ \"\$(stat -c %a:%U:%G /opt/ostrel/\$f)\" = 664:root:ostrel ] || fail \"\$f: \$(stat -c %a:%U:%G /opt/ostrel/\$f)\"
done
for f in ostrel-server ostrel-log ostrel-station Ostrel.ini; do
    [ \"\$(stat -c %U /opt/ostrel/\$f)\" = root ] && [ \"\$(( 0\$(stat -c %a /opt/ostrel/\$f) & 022 ))\" = 0 ] ||
        fail \"\$f is writable beyond root: \$(stat -c %a:%U /opt/ostrel/\$f)\"
done
/tmp/two-operators.sh || fail \"two operators\"
[ \"\$(/usr/bin/ostrel-server --version)\" = \"\$(/opt/ostrel/ostrel-server --version)\" ] || fail \"link\"

# The operator edits the ini and the server has logged; the same package again is an upgrade.
echo \"; edited by the operator\" >>/opt/ostrel/Ostrel.ini
printf 'session' >/opt/ostrel/Ostrel.log
printf 'command\\r\\n' >/opt/ostrel/Ostrel.audit.csv
printf 'cash-up\\r\\n' >/opt/ostrel/Ostrel.cash.csv
printf 'station\\n' >/opt/ostrel/Ostrel.stations
install
grep -q \"; edited by the operator\" /opt/ostrel/Ostrel.ini || fail \"the upgrade lost the edited ini\"
[ \"\$(cat /opt/ostrel/Ostrel.log)\" = session ] || fail \"the upgrade touched the log\"
[ \"\$(stat -c %a:%G /opt/ostrel)\" = 3775:ostrel ] || fail \"folder after the upgrade\"
/var/lib/dpkg/info/ostrel.postinst configure 1.0 && /var/lib/dpkg/info/ostrel.postinst configure 1.0 || fail \"postinst twice\"
[ \"\$(stat -c %a:%G /opt/ostrel/Ostrel.log)\" = 664:ostrel ] || fail \"log after postinst twice\"

dpkg -r ostrel >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail \"dpkg -r\"; }
[ ! -e /usr/bin/ostrel-server ] && [ ! -e /opt/ostrel/ostrel-server ] || fail \"removal left the programs\"
grep -q \"; edited by the operator\" /opt/ostrel/Ostrel.ini || fail \"removal lost the edited ini\"
[ \"\$(cat /opt/ostrel/Ostrel.log)\" = session ] || fail \"removal lost the log\"

dpkg -P ostrel >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail \"dpkg -P\"; }
[ ! -e /opt/ostrel ] || fail \"purge left: \$(ls -A /opt/ostrel)\"
install
dpkg -P ostrel >/dev/null 2>&1 || fail \"purge after a reinstall\"
echo \"lifecycle: install, upgrade with an edited ini, remove and purge behave\"
"
' bash "$work"
