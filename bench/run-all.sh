#!/usr/bin/env bash
# Builds every benchmark in a Release build (build/bench) and runs them all in one sitting, each
# figure beside its ceiling measured in the same run, and the cost as the work grows.
#   bench/run-all.sh            the full run (about 5 minutes on 2 cores)
#   bench/run-all.sh --quick    small sizes, to check the script itself
#   bench/run-all.sh --chain    only the chain's: shipping into PostgreSQL, the server shipping
# Writes build/bench/results/: each benchmark's own output (*.txt), summary.txt (key=value, one a
# line, also printed) and tables.md (the Markdown tables of docs/performance.md).
# As root it runs in a private network namespace with only the loopback interface up: the server's
# start-up announcement and every benchmark connection stay on this host.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" -eq 0 ] && [ -z "${OSTREL_BENCH_PRIVATE_NET:-}" ] && unshare -n true 2>/dev/null; then
    exec unshare -n -- env OSTREL_BENCH_PRIVATE_NET=1 bash -c 'ip link set lo up && exec "$@"' bash bash "$PWD/bench/run-all.sh" "$@"
fi

quick=0 chain_only=0
[ "${1:-}" = --quick ] && quick=1
[ "${1:-}" = --chain ] && chain_only=1

build=build/bench
out=$build/results
if [ $quick -eq 1 ]; then
    net_seconds=1; station_counts=(10 100); record_counts=(10000 100000)
    app_runs=3; idle_seconds=2; sim_stations=100; sim_seconds=2; core_calls=100000
    server_counts=(100); idle_stations=1000; window_seconds=2; window_counts=(100); chain_records=10000
else
    net_seconds=5; station_counts=(10 100 500 2000); record_counts=(10000 100000 1000000)
    app_runs=10; idle_seconds=10; sim_stations=500; sim_seconds=10; core_calls=1000000
    server_counts=(100 500 2000); idle_stations=10000; window_seconds=10; window_counts=(100 300 2000)
    chain_records=1000000
fi

# 2,000 stations take two descriptors each in the bench process, plus the bare loop's.
if [ "$(id -u)" -eq 0 ]; then
    ulimit -Hn 65536 2>/dev/null || true
fi
ulimit -n "$(ulimit -Hn)" 2>/dev/null || true

targets=(bench_core bench_log bench_net bench_bare_server bench_report bench_stations bench_app bench_idle bench_window station_bench
         bench_chain ostrel-log ostrel-server ostrel-station)
[ $chain_only -eq 1 ] && targets=(bench_chain ostrel-server ostrel-station)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

rm -rf "$out"
mkdir -p "$out"
bin() { find "$build" -type f -name "$1" -perm -u+x | head -n 1; }

run() { # name command...: runs a benchmark, keeps its output, shows it as it comes
    local name=$1; shift
    echo "== $name: $*" | sed "s|$PWD/||g"
    "$@" 2>&1 | tee "$out/$name.txt"
}

# The real server (window offscreen) in a folder of its own, the simulator's stations at ten reports
# a second each against it: its resident memory, threads and CPU while they run, and after.
# With a fourth argument `bare`, the same stations load bench_bare_server instead: a receiver that
# only takes the bytes, so the row shows what the kernel alone charges for the same traffic.
real_server() {
    local stations=$1 seconds=$2 rate=${3:-10} kind=${4:-server} dir port pid ticks0 ticks1 hz
    echo "== $kind: ostrel-station --load --stations $stations --rate $rate --duration $seconds"
    dir=$(mktemp -d /tmp/ostrel_bench_server.XXXXXX)
    cp "$(bin ostrel-server)" "$dir/"
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    sed -e "s/^ServerTCP=.*/ServerTCP=$port/" -e 's/^ServerUDP=.*/ServerUDP=0/' -e 's/^ClientUDP=.*/ClientUDP=9/' \
        config/Ostrel.ini >"$dir/Ostrel.ini"
    # "sessions": every station runs paid time, so every row is in the running sessions' file;
    # "sessions_off": the same with that file turned off ([Server] ReturnSeconds=0), to compare.
    local script_args=()
    if [ "$kind" = sessions ] || [ "$kind" = sessions_off ]; then
        echo "0.5 local all 2 1,5 0 Bench" >"$dir/sessions.txt"
        script_args=(--script "$dir/sessions.txt")
        [ "$kind" = sessions_off ] && sed -i 's/^ReturnSeconds=.*/ReturnSeconds=0/' "$dir/Ostrel.ini"
    fi
    # "chain": paid time that every station ends and starts again each second, so that a session
    # is logged for every station every second, with the log shipped to the chain's database;
    # "chain_off": the same sessions with no [Chain] section, to compare.
    if [ "$kind" = chain ] || [ "$kind" = chain_off ]; then
        local t
        for t in $(seq 1 "$seconds"); do
            echo "$((t - 1)).5 local all 2 1,5 0 Bench"
            echo "$t local all 0"
        done >"$dir/sessions.txt"
        script_args=(--script "$dir/sessions.txt")
        if [ "$kind" = chain ]; then
            pg_database "server_$stations"
            printf '\n[Chain]\nDatabase=%s dbname=server_%s\nSalon=Bench\n' "$pg_conn" "$stations" >>"$dir/Ostrel.ini"
        fi
    fi
    if [ "$kind" = bare ]; then
        "$(bin bench_bare_server)" "$port" &
    else
        QT_QPA_PLATFORM=offscreen "$dir/ostrel-server" >/dev/null 2>&1 &
    fi
    pid=$!
    local up=0
    for _ in $(seq 300); do
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && { up=1; break; }
        sleep 0.1
    done
    if [ $up -eq 0 ] || ! kill -0 $pid 2>/dev/null; then
        echo "server_failed=1" # start-up failed: it shows why in a message box
        kill -KILL $pid 2>/dev/null || true
        rm -rf "$dir"
        return 0
    fi
    status() { awk -v k="$1" '$1 == k":" {print $2}' "/proc/$pid/status"; }
    ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
    user_ticks() { awk '{print $14}' "/proc/$pid/stat"; }
    hz=$(getconf CLK_TCK)
    echo "server_rss_idle_kib=$(status VmRSS)"
    echo "server_threads_idle=$(status Threads)"
    ticks0=$(ticks)
    local user0
    user0=$(user_ticks)
    # CPU is counted from before the first connection, so accepting the stations and naming them
    # is charged to the reports too; the steady state is also given alone.
    "$(bin ostrel-station)" --server 127.0.0.1 --port "$port" --load --stations "$stations" --rate "$rate" \
        --duration "$seconds" --summary "${script_args[@]}" >"$out/server_stations.txt" 2>&1 &
    # The steady state: from half-way to two seconds before the stations leave (their goodbyes,
    # thousands of disconnects at once, are not part of it).
    local sim=$! peak_rss=0 peak_threads=0 rss threads started=$SECONDS ticks_half="" half_at=0
    local ticks_late="" late_at=0
    while kill -0 $sim 2>/dev/null; do
        if [ -z "$ticks_half" ] && [ $((SECONDS - started)) -ge $((seconds / 2)) ]; then
            ticks_half=$(ticks); half_at=$(date +%s.%N)
        fi
        if [ -z "$ticks_late" ] && [ $((SECONDS - started)) -ge $((seconds - 2)) ]; then
            ticks_late=$(ticks); late_at=$(date +%s.%N)
        fi
        rss=$(status VmRSS); threads=$(status Threads)
        [ "${rss:-0}" -gt $peak_rss ] && peak_rss=$rss
        [ "${threads:-0}" -gt $peak_threads ] && peak_threads=$threads
        sleep 0.2
    done
    wait $sim || true
    ticks1=$(ticks)
    # The running sessions' writer, a thread of its own: its whole CPU over the run.
    local writer=0 task
    for task in /proc/$pid/task/*; do
        [ "$(cat "$task/comm" 2>/dev/null)" = running ] && writer=$(awk '{print $14 + $15}' "$task/stat")
    done
    echo "server_running_writer_cpu_percent=$(awk -v t="$writer" -v hz="$hz" -v s="$seconds" 'BEGIN {printf "%.3f", 100 * t / hz / s}')"
    local user1
    user1=$(user_ticks)
    local sent
    sent=$(sed -n 's/^reports_sent=//p' "$out/server_stations.txt")
    echo "server_stations=$stations"
    echo "server_rate=$rate"
    echo "server_reports_sent=$sent"
    echo "server_cpu_us_per_report=$(awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v n="${sent:-0}" \
        'BEGIN {if (n > 0) printf "%.2f", 1e6 * t / hz / n; else print 0}')"
    # In user space (our code, Qt, libc); the rest is the kernel's: on loopback the TCP receive
    # path, the acknowledgement each report gets and its delivery to the station's socket.
    echo "server_cpu_user_us_per_report=$(awk -v t=$((user1 - user0)) -v hz="$hz" -v n="${sent:-0}" \
        'BEGIN {if (n > 0) printf "%.2f", 1e6 * t / hz / n; else print 0}')"
    echo "server_rss_peak_kib=$peak_rss"
    echo "server_threads_peak=$peak_threads"
    echo "server_cpu_percent=$(awk -v t=$((ticks1 - ticks0)) -v hz="$hz" -v s="$seconds" 'BEGIN {printf "%.1f", 100 * t / hz / s}')"
    echo "server_cpu_percent_steady=$(awk -v t=$((${ticks_late:-0} - ${ticks_half:-0})) -v hz="$hz" -v a="$half_at" \
        -v b="$late_at" 'BEGIN {if (b > a && a > 0) printf "%.2f", 100 * t / hz / (b - a); else print 0}')"
    sleep 3
    echo "server_rss_after_kib=$(status VmRSS)"
    echo "server_threads_after=$(status Threads)"
    if [ "$kind" = chain ]; then # the records the shipper had copied when the run ended
        echo "server_chain_shipped=$(pg_sql "server_$stations" 'select count(*) from ostrel_sessions')"
        echo "server_chain_logged=$(($(stat -c %s "$dir/Ostrel.log" 2>/dev/null || echo 0) / 168))"
    fi
    kill -KILL $pid
    wait $pid 2>/dev/null || true
    rm -rf "$dir"
}

# A PostgreSQL server of the run's own for the chain's benchmarks: a cluster in a temporary folder,
# on a Unix socket only; as root run as the `postgres` user, which PostgreSQL requires.
pg_bin=/usr/lib/postgresql/15/bin
pg_dir="" pg_conn="" pg_as=()
pg_start() {
    [ -x "$pg_bin/initdb" ] || return 1
    pg_dir=$(mktemp -d /tmp/ostrel_bench_pg.XXXXXX)
    if [ "$(id -u)" -eq 0 ]; then
        chown postgres "$pg_dir"
        pg_as=(runuser -u postgres --)
    fi
    "${pg_as[@]}" "$pg_bin/initdb" -D "$pg_dir/data" -A trust -U postgres -E UTF8 --locale=C -N >/dev/null || return 1
    "${pg_as[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -l "$pg_dir/server.log" -w -t 60 \
        -o "-k $pg_dir -c listen_addresses='' -p 5432" start >/dev/null || return 1
    pg_conn="host=$pg_dir port=5432 user=postgres"
}
pg_stop() {
    [ -n "$pg_dir" ] || return 0
    "${pg_as[@]}" "$pg_bin/pg_ctl" -D "$pg_dir/data" -m fast -w -t 60 stop >/dev/null 2>&1 || true
    rm -rf "$pg_dir"
    pg_dir=""
}
pg_sql() { "$pg_bin/psql" -X -q -t -A -d "$pg_conn dbname=$1" -c "$2"; }
pg_database() { pg_sql postgres "create database $1" >/dev/null; } # a new, empty database
trap pg_stop EXIT

{
    echo "date=$(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "cpu=$(lscpu | sed -n 's/^Model name: *//p' | head -n 1)"
    echo "nproc=$(nproc)"
    echo "memory=$(free -g | awk '/^Mem:/ {print $2 " GiB"}')"
    echo "kernel=$(uname -r)"
    echo "compiler=$(c++ --version | head -n 1)"
    echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
    echo "quick=$quick"
} >"$out/machine.txt"
cat "$out/machine.txt"

# The chain: a log shipped into an empty database, and the real server's CPU per report with its
# sessions shipped beside the same run without a chain.
chain_benchmarks() {
    if ! pg_start; then
        echo "== chain: PostgreSQL 15 is not installed (scripts/deps.sh test installs it)"
        return 0
    fi
    pg_database ship
    run chain "$(bin bench_chain)" "$pg_conn dbname=ship" "$chain_records"
    real_server 500 "$sim_seconds" 10 chain | tee "$out/chain_500.txt"
    real_server 500 "$sim_seconds" 10 chain_off | tee "$out/chain_off_500.txt"
    pg_stop
}
if [ $chain_only -eq 1 ]; then
    chain_benchmarks
    python3 bench/summarize.py "$out"
    exit 0
fi

# First of the network benchmarks: thousands of loopback connections later leave their ports in
# TIME_WAIT, and a port chosen for the server among them may not be bound again.
real_server "$sim_stations" "$sim_seconds" | tee "$out/server.txt"
# The real server's CPU per report as the stations grow (beside report processing alone, from
# bench_net), and thousands of stations that stay connected and nearly silent.
for n in "${server_counts[@]}"; do
    real_server "$n" "$sim_seconds" | tee "$out/server_$n.txt"
    real_server "$n" "$sim_seconds" 10 bare | tee "$out/bare_$n.txt"
done
real_server "$idle_stations" "$sim_seconds" 0.001 | tee "$out/server_idle.txt"
# The running sessions' file at 2,000 stations in paid time, beside the same run without it.
real_server 2000 "$sim_seconds" 10 sessions | tee "$out/sessions_2000.txt"
real_server 2000 "$sim_seconds" 10 sessions_off | tee "$out/sessions_off_2000.txt"
chain_benchmarks
run core "$(bin bench_core)" "$core_calls"
run stations "$(bin bench_stations)"
run station_bench "$(bin station_bench)" "$sim_stations" 10 "$sim_seconds"
for n in "${station_counts[@]}"; do
    run "net_$n" "$(bin bench_net)" "$net_seconds" "$n" "$n"
done
for n in "${record_counts[@]}"; do
    run "log_$n" "$(bin bench_log)" "$out" "$n"
    run "report_$n" "$(bin bench_report)" "$n" "$out/bench-report.log"
    rm -f "$out/bench-report.log"
done
run app "$(bin bench_app)" "$app_runs" "$idle_seconds" "$(bin ostrel-server)"
run idle "$(bin bench_idle)" "$idle_seconds"
# The GUI thread's CPU while the window shows a churning station table.
run window "$(bin bench_window)" "$window_seconds" "${window_counts[@]}"
if command -v xvfb-run >/dev/null; then # the same under a real X server, as a desktop draws it
    run idle_x11 env QT_QPA_PLATFORM=xcb xvfb-run -a "$(bin bench_idle)" "$idle_seconds"
    run window_x11 env QT_QPA_PLATFORM=xcb xvfb-run -a "$(bin bench_window)" "$window_seconds" "${window_counts[@]}"
fi
echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$out/machine.txt"

python3 bench/summarize.py "$out"
