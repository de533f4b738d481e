#!/usr/bin/env bash
# Run by lifecycle.sh as root inside its throwaway root, with the package installed: two ordinary
# operators of the group "ostrel" run the server one after the other, each with a simulated station
# whose paid session is cut off and given back, so each server appends a session record and an
# audit line. Neither can change what the other runs, and a link planted in the log's place is not
# written through.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
dir=/opt/ostrel

for user in op1 op2; do
    id "$user" >/dev/null 2>&1 || useradd --create-home --groups ostrel "$user"
done
# The files as an operator's server would meet them on a fresh install without them: the first
# operator's server creates them.
rm -f "$dir/Ostrel.log" "$dir/Ostrel.audit.csv" "$dir/Ostrel.stations"
cat >/tmp/session.script <<'SCRIPT'
1 local 1 2 1,5 0 Интернет
3 drop 1
SCRIPT
chmod 0644 /tmp/session.script

size() { stat -c %s "$1" 2>/dev/null || echo 0; }
listening() { grep -q ":1395 00000000:0000 0A" /proc/net/tcp; } # port 5013, state LISTEN

# One operator's server with one station for a few seconds, then stopped.
run_as() {
    local user=$1 log_before audit_before
    log_before=$(size "$dir/Ostrel.log")
    audit_before=$(size "$dir/Ostrel.audit.csv")
    runuser -u "$user" -- env HOME="/home/$user" QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="/tmp/run-$user" \
        /usr/bin/ostrel-server >"/tmp/server-$user.out" 2>&1 &
    local server=$!
    for _ in $(seq 100); do listening && break; sleep 0.1; done
    listening || { cat "/tmp/server-$user.out"; fail "$user: the server does not listen"; }
    runuser -u "$user" -- /usr/bin/ostrel-station --server 127.0.0.1 --port 5013 --stations 1 \
        --script /tmp/session.script --duration 7 >"/tmp/station-$user.out" 2>&1 || true
    for _ in $(seq 50); do
        [ "$(size "$dir/Ostrel.audit.csv")" -gt "$audit_before" ] && break
        sleep 0.1
    done
    kill "$server"
    wait "$server" 2>/dev/null || true
    [ "$(size "$dir/Ostrel.log")" -gt "$log_before" ] || { cat "/tmp/server-$user.out"; fail "$user: no session appended to the log"; }
    [ "$(size "$dir/Ostrel.audit.csv")" -gt "$audit_before" ] || { cat "/tmp/server-$user.out"; fail "$user: no audit line appended"; }
}

mkdir -p /tmp/run-op1 /tmp/run-op2
chown op1 /tmp/run-op1
chown op2 /tmp/run-op2
chmod 0700 /tmp/run-op1 /tmp/run-op2
run_as op1
for name in Ostrel.log Ostrel.audit.csv; do
    [ "$(stat -c %U:%G:%a "$dir/$name")" = op1:ostrel:664 ] || fail "$name as the first server made it: $(stat -c %U:%G:%a "$dir/$name")"
done
run_as op2 # appends to the files the first operator's server created

# Neither operator can change what the other runs.
for user in op1 op2; do
    runuser -u "$user" -- mv "$dir/ostrel-server" "$dir/x" 2>/dev/null && fail "$user renamed the server"
    runuser -u "$user" -- sh -c "echo >>$dir/Ostrel.ini" 2>/dev/null && fail "$user changed the ini"
    runuser -u "$user" -- sh -c "cp /bin/true $dir/ostrel-log" 2>/dev/null && fail "$user replaced a program"
    runuser -u "$user" -- rm -f "$dir/Ostrel.ini" 2>/dev/null || true
    [ -f "$dir/Ostrel.ini" ] || fail "$user removed the ini"
done
runuser -u op2 -- ln -sf /home/op2/mine "$dir/Ostrel.log" 2>/dev/null && fail "op2 replaced op1's log with a link"

# The log's owner plants a link to the other operator's file: that server writes nothing through it.
runuser -u op2 -- sh -c 'echo theirs >/home/op2/target; chmod 0666 /home/op2/target'
runuser -u op1 -- sh -c "mv $dir/Ostrel.log $dir/Ostrel.log.moved && ln -s /home/op2/target $dir/Ostrel.log"
run_as_refused() {
    runuser -u op2 -- env HOME=/home/op2 QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=/tmp/run-op2 \
        /usr/bin/ostrel-server >/tmp/server-link.out 2>&1 &
    local server=$!
    for _ in $(seq 100); do listening && break; sleep 0.1; done
    runuser -u op2 -- /usr/bin/ostrel-station --server 127.0.0.1 --port 5013 --stations 1 \
        --script /tmp/session.script --duration 6 >/dev/null 2>&1 || true
    kill "$server"
    wait "$server" 2>/dev/null || true
}
run_as_refused
[ "$(cat /home/op2/target)" = theirs ] || fail "the server wrote through a link"
grep -q "Ostrel.log cannot be written (a link stands in its place" /tmp/server-link.out ||
    { cat /tmp/server-link.out; fail "no word of the link on stderr"; }
rm -f "$dir/Ostrel.log" && mv "$dir/Ostrel.log.moved" "$dir/Ostrel.log"
echo "two operators: each appends, neither can change what the other runs, a link is refused"
