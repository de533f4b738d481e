#!/usr/bin/env bash
# The soak run: the real server under hundreds of simulated stations for a while, then checks that
# it is still alive, gave back every descriptor and thread, kept its memory flat, and logged exactly
# the sessions the stations closed.
#
#   scripts/soak.sh [DURATION_SECONDS [STATIONS]]      (default 600 s, 500 stations)
#
# Builds build/release (or OSTREL_SOAK_BUILD) unless OSTREL_SERVER, OSTREL_STATION and OSTREL_LOG
# name the executables to use (CTest does). As root it runs in a private network namespace with
# only the loopback interface; otherwise it skips (exit 77) unless loopback is the one interface
# up, so that the server's start-up announcement stays on this machine. Everything it starts talks
# to 127.0.0.0/8 only.
#
# Environment: OSTREL_SOAK_SEED (the simulator's and the script's seed, default 1),
# OSTREL_SOAK_RATE (reports per second per station, default 2), OSTREL_SOAK_SAMPLE (seconds
# between samples, default 2), OSTREL_SOAK_KEEP=1 keeps the work folder, OSTREL_SOAK_SANITIZED=1
# (a sanitizer build: memory growth is shown, not judged, since the sanitizer's quarantine grows).
#
# The work folder holds Ostrel.ini, Ostrel.log, the station script, samples.csv (elapsed seconds,
# phase, VmRSS kB, threads, descriptors, CPU seconds, records logged so far) and the server's and
# the simulator's output.
set -euo pipefail

duration=${1:-600}
stations=${2:-500}
seed=${OSTREL_SOAK_SEED:-1}
rate=${OSTREL_SOAK_RATE:-2}
sample_every=${OSTREL_SOAK_SAMPLE:-2}
speed=60 # a station minute per real second: games of a few minutes end within seconds

root=$(cd "$(dirname "$0")/.." && pwd)
self="$root/scripts/soak.sh"

if [ "$(id -u)" -eq 0 ] && [ -z "${OSTREL_SOAK_PRIVATE_NET:-}" ] && unshare -n true 2>/dev/null; then
    export OSTREL_SOAK_PRIVATE_NET=1
    exec unshare -n -- bash -c 'ip link set lo up && exec "$@"' bash "$self" "$@"
fi

calc() { awk "BEGIN { printf \"%.3f\", $* }"; }

fail() {
    echo "soak: FAILED: $*" >&2
    exit 1
}

case "$duration" in '' | *[!0-9]*) fail "duration must be whole seconds, not '$duration'" ;; esac
case "$stations" in '' | *[!0-9]*) fail "stations must be a whole number, not '$stations'" ;; esac
[ "$duration" -ge 10 ] || fail "duration must be at least 10 s"
[ "$stations" -ge 1 ] || fail "at least one station"

# The server announces itself at start-up on whichever interface the host has: it may run only
# where loopback is the one interface up (the rule of the whole-program tests' onlyLoopbackIsUp).
command -v ip >/dev/null || fail "needs ip (Debian: iproute2)"
other_up=$(ip -o link show up | awk -F': ' '$0 !~ /<([^>]*,)?LOOPBACK[,>]/ { sub(/@.*/, "", $2); print $2; exit }')
if [ -n "$other_up" ]; then
    echo "soak: skipped: interface $other_up is up, so the server's announcement would leave this machine;" \
        "run as root for a private network namespace" >&2
    exit 77
fi

if [ -z "${OSTREL_SERVER:-}" ] || [ -z "${OSTREL_STATION:-}" ] || [ -z "${OSTREL_LOG:-}" ]; then
    build=${OSTREL_SOAK_BUILD:-$root/build/release}
    "$root/scripts/deps.sh" run
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
    cmake --build "$build" --target ostrel-server ostrel-station ostrel-log >/dev/null
    OSTREL_SERVER=$build/ostrel-server
    OSTREL_STATION=$build/tools/ostrel-station/ostrel-station
    OSTREL_LOG=$build/tools/ostrel-log/ostrel-log
fi
for tool in ss awk; do
    command -v "$tool" >/dev/null || fail "needs $tool (Debian: iproute2, mawk, libc-bin)"
done
for exe in "$OSTREL_SERVER" "$OSTREL_STATION" "$OSTREL_LOG"; do
    [ -x "$exe" ] || fail "no executable $exe"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/ostrel-soak.XXXXXX")
server_pid=""
station_pid=""
sampler_pid=""
ok=0
cleanup() {
    for pid in "$sampler_pid" "$station_pid" "$server_pid"; do
        [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done
    for pid in "$sampler_pid" "$station_pid" "$server_pid"; do
        [ -n "$pid" ] && wait "$pid" 2>/dev/null || true
    done
    if [ "$ok" = 1 ] && [ -z "${OSTREL_SOAK_KEEP:-}" ]; then
        rm -rf "$work"
    else
        echo "soak: work folder kept: $work" >&2
    fi
}
trap cleanup EXIT

# Three ports nobody holds (inside a fresh namespace every port is free).
used_ports=$(ss -Hltun 2>/dev/null | awk '{ n = split($5, a, ":"); print a[n] }' | sort -u)
pick_port() {
    local p
    for _ in $(seq 1 200); do
        p=$((20000 + RANDOM % 12000)) # below the ephemeral range, which connects draw from
        if ! grep -qx "$p" <<<"$used_ports"; then
            used_ports+=$'\n'"$p"
            echo "$p"
            return
        fi
    done
    fail "no free port found"
}
tcp_port=$(pick_port)
udp_port=$(pick_port)
client_port=$(pick_port)

cp "$OSTREL_SERVER" "$work/ostrel-server"
# The sample configuration with these ports; sessions cut by a reset are given back (CloseAfterReset=0).
sed -e "s/^ServerTCP=.*/ServerTCP=$tcp_port/" -e "s/^ServerUDP=.*/ServerUDP=$udp_port/" \
    -e "s/^ClientUDP=.*/ClientUDP=$client_port/" -e "s/^Net=.*/Net=0/" \
    "$root/config/Ostrel.ini" >"$work/Ostrel.ini"

# The stations' script: every second a few stations each get something to do, from the station
# itself: paid time, a short game, a wait, free, block, a reboot or log off, a drop (reset) or a
# power cut (silent, then discovery, so that the server closes the dead connection).
awk -v duration="$duration" -v stations="$stations" -v seed="$seed" 'BEGIN {
    srand(seed)
    per_second = stations / 8.0 # each station acts about every 8 s
    for (t = 2; t < duration - 1; t++) {
        n = int(per_second) + (rand() < per_second - int(per_second) ? 1 : 0)
        for (i = 0; i < n; i++) {
            at = t + rand()
            s = 1 + int(rand() * stations)
            r = rand()
            if (r < 0.22) printf "%.2f local %d 2 1,5 0 Интернет\n", at, s
            else if (r < 0.40) printf "%.2f local %d 5 2 %d Игровой\n", at, s, 1 + int(rand() * 5)
            else if (r < 0.48) printf "%.2f local %d 3 1 0 Офис\n", at, s
            else if (r < 0.53) printf "%.2f local %d 6 3,5 %d VIP\n", at, s, 1 + int(rand() * 5)
            else if (r < 0.66) printf "%.2f local %d 0\n", at, s
            else if (r < 0.76) printf "%.2f local %d 1\n", at, s
            else if (r < 0.80) printf "%.2f local %d 101\n", at, s
            else if (r < 0.84) printf "%.2f local %d 102\n", at, s
            else if (r < 0.87) printf "%.2f local %d 105\n", at, s
            else if (r < 0.94) printf "%.2f drop %d\n", at, s
            else printf "%.2f powercut %d\n", at, s
        }
    }
}' | sort -n >"$work/stations.script"
drop_after=$((duration / 4))
[ "$drop_after" -lt 10 ] && drop_after=10
[ "$drop_after" -gt 120 ] && drop_after=120

# Descriptors: each station may hold a live and a dead connection for a moment.
want_fds=$((2 * stations + 256))
[ "$(ulimit -n)" -lt "$want_fds" ] && ulimit -n "$want_fds" 2>/dev/null || true

proc_cpu() { # user + system seconds of the server
    awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / hz }' "/proc/$server_pid/stat"
}
proc_rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$server_pid/status"; }
proc_threads() { awk '/^Threads:/ { print $2 }' "/proc/$server_pid/status"; }
proc_fds() { ls "/proc/$server_pid/fd" | wc -l; }
# One line per thread of the server: thread id, name, user + system ticks.
thread_ticks() {
    local task
    for task in /proc/"$server_pid"/task/*; do
        awk -v tid="${task##*/}" '{ name = $0; sub(/^[^(]*\(/, "", name); sub(/\).*$/, "", name)
            rest = $0; sub(/^.*\) /, "", rest); split(rest, f, " "); print tid, name, f[12] + f[13] }' \
            "$task/stat" 2>/dev/null || true
    done
}
log_records() {
    if [ -f "$work/Ostrel.log" ]; then
        "$OSTREL_LOG" check "$work/Ostrel.log" | awk 'NR == 1 { print $2 }'
    else
        echo 0
    fi
}

cd "$work"
QT_QPA_PLATFORM=offscreen ./ostrel-server </dev/null >server.out 2>server.err &
server_pid=$!
started=$(date +%s.%N)
listening=0
for _ in $(seq 1 600); do
    kill -0 "$server_pid" 2>/dev/null || break
    if ss -Hltn "sport = :$tcp_port" | grep -q .; then
        listening=1
        break
    fi
    sleep 0.1
done
[ "$listening" = 1 ] || fail "the server did not start listening on $tcp_port within 60 s: $(tail -5 server.err)"

echo "elapsed_s,phase,rss_kb,threads,fds,cpu_s,records" >samples.csv
phase_file="$work/phase"
echo idle >"$phase_file"
(
    while kill -0 "$server_pid" 2>/dev/null; do
        now=$(date +%s.%N)
        size=$(stat -c %s Ostrel.log 2>/dev/null || echo 0)
        printf '%.1f,%s,%s,%s,%s,%s,%s\n' "$(calc "$now - $started")" "$(cat "$phase_file")" \
            "$(proc_rss)" "$(proc_threads)" "$(proc_fds)" "$(proc_cpu)" "$((size / 168))" >>samples.csv 2>/dev/null || true
        # The threads' ticks while the stations run: a name look-up thread may end between two
        # samples, so the load's CPU per thread is its last sample's.
        [ "$(cat "$phase_file")" = load ] && thread_ticks >>threads.load 2>/dev/null

        sleep "$sample_every"
    done
) &
sampler_pid=$!

# Idle: the server settled with no station.
sleep 3
idle_rss=$(proc_rss)
idle_threads=$(proc_threads)
idle_fds=$(proc_fds)
cpu_before=$(proc_cpu)
thread_ticks >threads.start

echo "soak: $stations stations for $duration s against the server (pid $server_pid, TCP $tcp_port," \
    "UDP $udp_port/$client_port), work folder $work"
echo load >"$phase_file"
load_started=$(date +%s.%N)
"$OSTREL_STATION" --ini Ostrel.ini --stations "$stations" --rate "$rate" --speed "$speed" \
    --duration "$duration" --drop-after "$drop_after" --script stations.script --customer-delay 2:20 \
    --reboot-delay 3 --logoff-delay 2 --seed "$seed" --quiet --summary >station.out 2>station.err &
station_pid=$!
station_status=0
wait "$station_pid" || station_status=$?
station_pid=""
load_ended=$(date +%s.%N)
cpu_after_load=$(proc_cpu 2>/dev/null || echo 0)
thread_ticks >>threads.load 2>/dev/null || true
echo after >"$phase_file"
[ "$station_status" = 0 ] || fail "the simulator ended with status $station_status: $(tail -5 station.err)"

summary() { awk -F= -v k="$1" '$1 == k { print $2 }' station.out; }
sessions=$(summary sessions_closed)
finished_reports=$(summary finished_reports)
reset_closes=$(summary reset_closes)
[ -n "$sessions" ] || fail "the simulator printed no summary: $(tail -5 station.err)"

# Back to idle: every connection closed and forgotten, the name look-up threads timed out.
settled=0
for _ in $(seq 1 120); do
    kill -0 "$server_pid" 2>/dev/null || break
    if [ "$(proc_fds)" -le "$idle_fds" ] && [ "$(proc_threads)" -le "$idle_threads" ] &&
        [ "$(log_records)" = "$sessions" ]; then
        settled=1
        break
    fi
    sleep 0.5
done
sleep "$sample_every" # one more sample of the idle server

failures=()
alive=1
if ! kill -0 "$server_pid" 2>/dev/null || grep -q '^State:.*zombie' "/proc/$server_pid/status" 2>/dev/null; then
    alive=0
    failures+=("the server is not running any more: $(tail -5 server.err)")
fi
if grep -Eq 'ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer' server.err; then
    failures+=("the sanitizers reported errors in the server: $(grep -Em3 'ERROR|runtime error' server.err)")
fi

end_rss=0 end_threads=0 end_fds=0 cpu_end=0
if [ "$alive" = 1 ]; then
    end_rss=$(proc_rss)
    end_threads=$(proc_threads)
    end_fds=$(proc_fds)
    cpu_end=$(proc_cpu)
    [ "$end_fds" = "$idle_fds" ] || failures+=("descriptors $end_fds after the load, $idle_fds when idle")
    [ "$end_threads" -le "$idle_threads" ] || failures+=("threads $end_threads after the load, $idle_threads when idle")
fi
[ "$settled" = 1 ] || [ "$alive" = 0 ] || failures+=("the server did not settle within 60 s of the last station")

records=$(log_records)
ok_records=0 reset_records=0
if [ -f Ostrel.log ]; then
    "$OSTREL_LOG" check Ostrel.log >log.check || failures+=("the session log is damaged: $(tail -3 log.check)")
    "$OSTREL_LOG" dump Ostrel.log >log.dump || true
    ok_records=$(awk -F'\t' '$NF == "Ok"' log.dump | wc -l)
    reset_records=$(awk -F'\t' '$NF == "Reset"' log.dump | wc -l)
fi
[ "$records" = "$sessions" ] ||
    failures+=("$records records in Ostrel.log ($ok_records Ok, $reset_records Reset), but the stations closed $sessions sessions ($finished_reports finished, $reset_closes cut off)")
server_closes=$(summary server_closes)
[ "${server_closes:-0}" = 0 ] || failures+=("the server closed $server_closes connections that were in use")

# Memory: after a warm-up of a quarter of the load, the highest RSS of the second half of the load
# may exceed that of the first half by at most 10 % or 5 MB, whichever is more, plus what the
# sessions logged in the second half rightly hold: the history table keeps every session closed
# since start (in the table and in the grid's copy), allowed $history_kb kB each.
history_kb=2
read -r warm_rss first_max second_max second_records <<<"$(awk -F, -v from="$(calc "$load_started - $started")" \
    -v to="$(calc "$load_ended - $started")" 'NR > 1 && $2 == "load" && $1 >= from && $1 <= to {
        t[n] = $1; r[n] = $3; k[n] = $7; n++ }
    END {
        if (n == 0) { print "0 0 0 0"; exit }
        warm = from + (to - from) / 4; mid = warm + (to - warm) / 2
        a = 0; b = 0; w = 0; km = -1
        for (i = 0; i < n; i++) {
            if (t[i] < warm) continue
            if (w == 0) w = r[i]
            if (t[i] < mid) { if (r[i] > a) a = r[i] } else { if (km < 0) km = k[i]; if (r[i] > b) b = r[i] }
        }
        print w, a, b, (km < 0 ? 0 : k[n - 1] - km)
    }' samples.csv)"
allowed=$((first_max / 10))
[ "$allowed" -lt 5120 ] && allowed=5120
allowed=$((allowed + history_kb * second_records))
memory_note="flat"
if [ "$first_max" -gt 0 ] && [ "$second_max" -gt $((first_max + allowed)) ]; then
    memory_note="grew by $(((second_max - first_max) / 1024)) MB"
    if [ "${OSTREL_SOAK_SANITIZED:-0}" != 0 ]; then
        memory_note+=" (not judged: sanitizer build)"
    else
        failures+=("resident memory grew after warm-up: first half max $first_max kB, second half max $second_max kB, more than the $allowed kB allowed for $second_records sessions logged meanwhile")
    fi
fi

peak_threads=$(awk -F, 'NR > 1 && $4 > m { m = $4 } END { print m + 0 }' samples.csv)
peak_fds=$(awk -F, 'NR > 1 && $5 > m { m = $5 } END { print m + 0 }' samples.csv)
peak_rss=$(awk -F, 'NR > 1 && $3 > m { m = $3 } END { print m + 0 }' samples.csv)
load_seconds=$(calc "$load_ended - $load_started")
load_cpu=$(calc "$cpu_after_load - $cpu_before")
reports=$(summary reports_sent)
echo "soak: summary"
printf '  stations %s, %.0f s, %s reports (%.0f per second), connects %s, power cuts %s\n' "$stations" \
    "$load_seconds" "$reports" "$(calc "$reports / $load_seconds")" "$(summary connects)" "$(summary power_cuts)"
printf '  server CPU %.1f s under load (%.0f %% of one core), %.1f s in all\n' "$load_cpu" \
    "$(calc "100 * $load_cpu / $load_seconds")" "$cpu_end"
echo "  RSS kB: idle $idle_rss, after warm-up $warm_rss, max first half $first_max, max second half $second_max (allowed +$allowed for $second_records sessions), peak $peak_rss, end $end_rss ($memory_note)"
# CPU per thread under load: the GUI thread is the main one (its id is the process's), the others
# by the names they give themselves; what no thread of those names took is "other".
per_thread=$(awk -v pid="$server_pid" -v hz="$(getconf CLK_TCK)" -v s="$load_seconds" -v total="$load_cpu" \
    -v reports="${reports:-0}" '
    FILENAME ~ /start$/ { start[$1] = $NF; next }
    { last[$1] = $NF; name[$1] = $2 }
    END {
        for (t in last) {
            k = "other"
            if (t == pid) k = "GUI"
            else if (name[t] == "network") k = "network"
            else if (name[t] == "log") k = "log"
            else if (name[t] == "lookup") k = "look-ups"
            cpu[k] += (last[t] - (t in start ? start[t] : 0)) / hz
        }
        named = cpu["GUI"] + cpu["network"] + cpu["log"] + cpu["look-ups"]
        cpu["other"] = (total - named > 0) ? (total - named) : 0
        line = ""
        n = split("GUI network log look-ups other", order, " ")
        for (i = 1; i <= n; i++) {
            k = order[i]
            line = line (i > 1 ? ", " : "") sprintf("%s %.1f s (%.2f %%)", k, cpu[k], 100 * cpu[k] / s)
        }
        print line
        per = 0; gui = 0
        if (reports > 0) { per = 1e6 * total / reports; gui = 1e6 * cpu["GUI"] / reports }
        printf "server CPU per report %.1f us (GUI %.1f us)\n", per, gui
    }' threads.start threads.load)
echo "  CPU per thread under load (of one core): $(sed -n 1p <<<"$per_thread")"
echo "  $(sed -n 2p <<<"$per_thread")"
echo "  threads: idle $idle_threads, peak $peak_threads, end $end_threads; descriptors: idle $idle_fds, peak $peak_fds, end $end_fds"
echo "  records $records ($ok_records Ok, $reset_records Reset); sessions closed $sessions ($finished_reports finished, $reset_closes cut off); unconfirmed closes $(summary unconfirmed_closes)"

if [ ${#failures[@]} -gt 0 ]; then
    for f in "${failures[@]}"; do
        echo "soak: FAILED: $f" >&2
    done
    exit 1
fi
ok=1
echo "soak: passed"
