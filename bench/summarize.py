#!/usr/bin/env python3
"""Reads the outputs bench/run-all.sh kept in a results folder and prints every figure as key=value
(also written to summary.txt), then writes tables.md: the Markdown tables of docs/performance.md."""
import re
import sys
from pathlib import Path

out = Path(sys.argv[1])
s = {}  # key -> value, in the order found


def text(name):
    p = out / f"{name}.txt"
    return p.read_text(errors="replace") if p.exists() else ""


def grab(name, pattern, keys, conv=float):
    m = re.search(pattern, text(name))
    if not m:
        return
    for k, v in zip(keys, m.groups()):
        s[k] = conv(v) if conv else v


def grab_keys(name, prefix, into):
    """Every `<prefix>_<key>=<number>` line of an output, kept as `<into>.<key>`."""
    for line in text(name).splitlines():
        m = re.fullmatch(rf"{prefix}_(\w+)=([\d.]+)", line.strip())
        if m:
            s[f"{into}.{m[1]}"] = float(m[2])


for line in text("machine").splitlines():
    if "=" in line:
        k, v = line.split("=", 1)
        s[f"machine.{k}"] = v

# The network layer at each station count.
counts = sorted(int(p.stem[4:]) for p in out.glob("net_*.txt"))
for n in counts:
    f = f"net_{n}"
    grab(f, r"bare receive loop: \d+ connections: (\d+) reports/s", [f"net.{n}.bare_loop_reports_per_s"])
    grab(f, r"report processing alone: .*: (\d+) reports/s", [f"net.{n}.processing_alone_reports_per_s"])
    grab(f, r"report processing alone at the station count: .*: (\d+) reports/s",
         [f"net.{n}.processing_alone_here_reports_per_s"])
    grab(f, r"throughput: \d+ connections, [\d.]+ s: (\d+) reports/s applied \(([\d.]+) %",
         [f"net.{n}.applied_reports_per_s", f"net.{n}.applied_percent_of_bare_loop"])
    grab(f, r"threads: idle (\d+), peak (\d+); the sockets' backlog drained ([\d.]+) s.*"
         r"look-up threads gone after ([\d.]+) s, process back to (\d+) thread\(s\) after ([\d.]+) s",
         [f"net.{n}.threads_idle", f"net.{n}.threads_peak", f"net.{n}.backlog_drain_s",
          f"net.{n}.lookup_gone_after_s", f"net.{n}.threads_after", f"net.{n}.threads_back_after_s"])
    grab(f, r"latency: \d+ connections x 10 reports/s, (\d+) reports: p50 (\d+) us, p99 (\d+) us, max (\d+) us",
         [f"net.{n}.latency_reports", f"net.{n}.latency_p50_us", f"net.{n}.latency_p99_us",
          f"net.{n}.latency_max_us"])
    grab(f, r"memory: resident ([\d.]+) MB before the stations, ([\d.]+) MB with \d+ stations connected, ([\d.]+) MB",
         [f"net.{n}.rss_before_mb", f"net.{n}.rss_connected_mb", f"net.{n}.rss_after_latency_mb"])

# The session log and the report at each log size.
sizes = sorted(int(p.stem[4:]) for p in out.glob("log_*.txt"))
for n in sizes:
    f = f"log_{n}"
    grab(f, r"append with fsync +(\d+) records +([\d.]+) s +(\d+) appends/s",
         [f"log.{n}.fsync_appends", f"log.{n}.fsync_appends_s", f"log.{n}.fsync_appends_per_s"])
    grab(f, r"append group commit +(\d+) records +([\d.]+) s until durable +(\d+) appends/s +([\d.]+) us each on "
         r"the appending thread +(\d+) syncs",
         [f"log.{n}.group_appends", f"log.{n}.group_s", f"log.{n}.group_appends_per_s", f"log.{n}.group_us_appending",
          f"log.{n}.group_syncs"])
    grab(f, r"append no fsync +(\d+) records +([\d.]+) s +(\d+) appends/s",
         [f"log.{n}.nofsync_appends", f"log.{n}.nofsync_appends_s", f"log.{n}.nofsync_appends_per_s"])
    grab(f, r"raw read +([\d.]+) s +(\d+) bytes +(\d+) MB/s",
         [f"log.{n}.raw_read_s", f"log.{n}.file_bytes", f"log.{n}.raw_read_mb_per_s"])
    grab(f, r"scan \(ClosedAt only\) +([\d.]+) s", [f"log.{n}.scan_s"])
    grab(f, r"scan and decode +([\d.]+) s", [f"log.{n}.scan_decode_s"])
    for tool in ("check", "dump", "csv"):
        grab(f, rf"ostrel-log {tool} +> /dev/null +([\d.]+) s +exit (\d+)",
             [f"log.{n}.tool_{tool}_s", f"log.{n}.tool_{tool}_exit"])
    f = f"report_{n}"
    grab(f, r"full period text: (\d+) lines, .* built in ([\d.]+) s wall, ([\d.]+) s CPU",
         [f"report.{n}.lines", f"report.{n}.text_s", f"report.{n}.text_cpu_s"])
    grab(f, r"report window shown .*: (\d+) blocks in ([\d.]+) s wall, ([\d.]+) s CPU",
         [f"report.{n}.window_blocks", f"report.{n}.window_s", f"report.{n}.window_cpu_s"])
    grab(f, r"early period \(one day\): (\d+) lines, (\d+) of \d+ records read, ([\d.]+) s",
         [f"report.{n}.early_lines", f"report.{n}.early_records_read", f"report.{n}.early_s"])

grab("app", r"start to listening +runs (\d+) +min ([\d.]+) ms +median ([\d.]+) ms +mean ([\d.]+) ms +max ([\d.]+) ms",
     ["app.listen_runs", "app.listen_min_ms", "app.listen_median_ms", "app.listen_mean_ms", "app.listen_max_ms"])
grab("app", r"second start to exit +runs \d+ +min ([\d.]+) ms +median ([\d.]+) ms +mean [\d.]+ ms +max ([\d.]+) ms",
     ["app.second_start_min_ms", "app.second_start_median_ms", "app.second_start_max_ms"])
grab("app", r"idle CPU +([\d.]+) % of one core over (\d+) s", ["app.idle_shown_percent", "app.idle_seconds"])
for f in ("idle", "idle_x11"):
    grab(f, r"empty event loop.*: +([\d.]+) %", [f"{f}.empty_loop_percent"])
    grab(f, r"main window shown, listening: +([\d.]+) %", [f"{f}.window_shown_percent"])
    grab(f, r"main window hidden to the tray: +([\d.]+) %", [f"{f}.window_hidden_percent"])

for f in ("window", "window_x11"):
    for line in text(f).splitlines():
        m = re.match(r"window (\d+) stations: GUI thread ([\d.]+) % of one core, feeder ([\d.]+) %, ([\d.]+) reloads/s, "
                     r"arrival shown after ([\d.]+) ms mean, ([\d.]+) ms max", line)
        if m:
            for key, value in zip(("gui_percent", "feeder_percent", "reloads_per_s", "arrival_mean_ms",
                                   "arrival_max_ms"), m.groups()[1:]):
                s[f"{f}.{m[1]}.{key}"] = float(value)

grab("stations", r"apply: (\d+) stations, .*: (\d+) reports/s, ([\d.]+) us/report",
     ["stations.stations", "stations.apply_reports_per_s", "stations.apply_us_per_report"])
grab("stations", r"reassembly: .*: (\d+) reports/s \(([\d.]+) MB/s\)",
     ["stations.reassembly_reports_per_s", "stations.reassembly_mb_per_s"])
for line in text("station_bench").splitlines():
    m = re.fullmatch(r"(stations|reports_per_second|asked_reports_per_second|simulator_cpu_seconds|seconds|"
                     r"reports_skipped)=([\d.]+)", line.strip())
    if m:
        s[f"simulator.{m[1]}"] = float(m[2])
grab_keys("server", "server", "server")
server_counts = sorted(int(p.stem[7:]) for p in out.glob("server_*.txt") if p.stem[7:].isdigit())
for n in server_counts + ["idle"]:
    grab_keys(f"server_{n}", "server", f"server{n}")
    grab_keys(f"bare_{n}", "server", f"bare{n}")
grab_keys("chain", "chain", "chain")
for f in ("chain_500", "chain_off_500"):
    grab_keys(f, "server", f)
for m in re.finditer(r"^(\S+(?: \(\d+ chars\))?) +([\d.]+) ns/call", text("core"), re.M):
    s["core." + re.sub(r"\W+", "_", m[1]).strip("_") + "_ns"] = float(m[2])

# --- the summary ---------------------------------------------------------------------------------
lines = []
for k, v in s.items():
    if isinstance(v, float) and v.is_integer():
        v = int(v)
    lines.append(f"{k}={v}")
(out / "summary.txt").write_text("\n".join(lines) + "\n")
print("\n".join(lines))


# --- the tables ----------------------------------------------------------------------------------
def g(k):
    return s.get(k)


def num(v, digits=0, unit=""):
    if v is None:
        return "n/a"
    t = f"{v:,.{digits}f}".replace(",", "\u202f") if abs(v) >= 10000 else f"{v:.{digits}f}"
    return t + unit


def pct(a, b):
    return None if a is None or not b else 100.0 * a / b


def verdict(ok):
    return "n/a" if ok is None else ("yes" if ok else "**no**")


def at_most(v, limit):
    return None if v is None else v <= limit


md = []
big = max(sizes) if sizes else None
main_net = 100 if 100 in counts else (counts[0] if counts else None)
main_lat = 500 if 500 in counts else (counts[-1] if counts else None)
mn, ml, mb = f"net.{main_net}.", f"net.{main_lat}.", f"log.{big}."
rows = [("Figure", "Goal", "Measured", "Ceiling (same run)", "Ratio", "Goal met")]

applied, bare = g(mn + "applied_reports_per_s"), g(mn + "bare_loop_reports_per_s")
ratio = pct(applied, bare)
rows.append((f"Reports applied, {main_net} connections sending flat out", "≥ 50 000/s and ≥ 30 % of the bare loop",
             num(applied, 0, "/s"), f"bare receive loop {num(bare, 0, '/s')}", num(ratio, 1, " %"),
             verdict(None if applied is None or ratio is None else (applied >= 50000, ratio >= 30) == (True, True))
             + ("" if applied is None or ratio is None else
                f" ({'≥' if applied >= 50000 else '<'} 50 000/s; {'≥' if ratio >= 30 else '<'} 30 %)")))
alone = g(mn + "processing_alone_reports_per_s")
rows.append(("Reports applied, beside report processing alone", "—", num(applied, 0, "/s"),
             f"one thread applying decoded reports, no sockets: {num(alone, 0, '/s')}", num(pct(applied, alone), 1, " %"),
             "—"))
p99 = g(ml + "latency_p99_us")
rows.append((f"Latency send → row written, p99, {main_lat} stations × 10/s", "≤ 2 ms",
             f"{num(p99 / 1000 if p99 is not None else None, 2, ' ms')} (p50 {num(g(ml + 'latency_p50_us'), 0, ' µs')}, "
             f"max {num(g(ml + 'latency_max_us'), 0, ' µs')})", "—", "—", verdict(at_most(p99, 2000))))
rss, rss0 = g(ml + "rss_after_latency_mb"), g(ml + "rss_before_mb")
rows.append((f"Resident memory with {main_lat} stations (listener, table, stations' sockets)", "≤ 80 MB",
             f"{num(g(ml + 'rss_connected_mb'), 1, ' MB')} connected, {num(rss, 1, ' MB')} after the latency run",
             f"{num(rss0, 1, ' MB')} before any station", f"+{num(None if rss is None or rss0 is None else rss - rss0, 1, ' MB')}",
             verdict(at_most(rss, 80))))
srss = g("server.rss_peak_kib")
if srss is not None:
    srss /= 1024
    idle_rss = g("server.rss_idle_kib")
    idle_rss = idle_rss / 1024 if idle_rss is not None else None
    rows.append((f"Resident memory, real server (window offscreen), {num(g('server.stations'))} simulated stations × 10/s",
                 "≤ 80 MB", f"{num(srss, 1, ' MB')} peak ({num(g('server.cpu_percent'), 1, ' %')} of a core, "
                 f"{num(g('server.threads_peak'))} threads peak)", f"{num(idle_rss, 1, ' MB')} idle before the stations",
                 f"+{num(None if idle_rss is None else srss - idle_rss, 1, ' MB')}", verdict(at_most(srss, 80))))
# The real server's CPU per report beside what applying a decoded report costs alone.
alone_us = None
if g(mn + "processing_alone_reports_per_s"):
    alone_us = 1e6 / g(mn + "processing_alone_reports_per_s")
for n in server_counts:
    us, pc = g(f"server{n}.cpu_us_per_report"), g(f"server{n}.cpu_percent")
    bare_us, bare_pc = g(f"bare{n}.cpu_us_per_report"), g(f"bare{n}.cpu_percent")
    goal, ok = "—", None
    if n == 500:
        goal, ok = "≤ 5 µs", at_most(us, 5)
    elif n == 2000:
        goal, ok = "≤ 10 % of a core", at_most(pc, 10)
    rows.append((f"Real server CPU per report, {num(n)} stations × 10/s (window offscreen)", goal,
                 f"{num(us, 2, ' µs')}, {num(g(f'server{n}.cpu_user_us_per_report'), 2, ' µs')} of it in user space "
                 f"({num(pc, 1, ' %')} of a core, {num(g(f'server{n}.reports_sent'))} reports)",
                 f"report processing alone {num(alone_us, 2, ' µs')}; the kernel alone (bare receiver) "
                 f"{num(bare_us, 2, ' µs')}, {num(bare_pc, 1, ' %')} of a core",
                 "n/a" if us is None or not bare_us else f"{us / bare_us:.2f} × the kernel alone", verdict(ok)))
if g("serveridle.stations") is not None:
    irss = g("serveridle.rss_peak_kib")
    irss = irss / 1024 if irss is not None else None
    rows.append((f"Real server holding {num(g('serveridle.stations'))} stations, each reporting once in 1000 s",
                 "≤ 150 MB, idle CPU 0", f"{num(irss, 1, ' MB')} peak, "
                 f"{num(g('serveridle.cpu_percent_steady'), 2, ' %')} CPU once connected",
                 "—", "—", verdict(at_most(irss, 150))))
ti, ta = g(mn + "threads_idle"), g(mn + "threads_after")
rows.append(("Threads after a burst", "back to idle",
             f"back to {num(ta)}, {num(g(mn + 'threads_back_after_s'), 1, ' s')} after the backlog drained "
             f"(peak {num(g(mn + 'threads_peak'))})", f"{num(ti)} idle", "—",
             verdict(None if ta is None or ti is None else ta <= ti)))
rows.append(("LogSession appends/s, each waited for until durable", "measured, recorded", num(g(mb + "fsync_appends_per_s"), 0, "/s"),
             "—", "—", "—"))
rows.append(("LogSession appends in a burst, group commit", "durable within 20 ms, no sync on the appender",
             f"{num(g(mb + 'group_appends_per_s'), 0, '/s')} durable, {num(g(mb + 'group_us_appending'), 1, ' µs')} "
             f"each on the appending thread, {num(g(mb + 'group_syncs'))} syncs for {num(g(mb + 'group_appends'))}",
             "—", "—", "—"))
rows.append(("LogSession appends/s without fsync", "measured, recorded", num(g(mb + "nofsync_appends_per_s"), 0, "/s"),
             "—", "—", "—"))
raw = g(mb + "raw_read_s")
dump = g(mb + "tool_dump_s")
rows.append((f"ostrel-log dump, {num(big)} records", "≤ 2 s", num(dump, 3, " s"),
             f"raw read of the file {num(raw, 3, ' s')}", f"{num(pct(raw, dump), 1, ' %')} of raw read speed",
             verdict(at_most(dump, 2.0))))
rt = g(f"report.{big}.text_s")
rows.append((f"Work report text, {num(big)} records", "≤ 1.5 s", f"{num(rt, 3, ' s')} ({num(g(f'report.{big}.text_cpu_s'), 3, ' s')} CPU)",
             f"raw read of the file {num(raw, 3, ' s')}", f"{num(pct(raw, rt), 1, ' %')} of raw read speed",
             verdict(at_most(rt, 1.5))))
rw = g(f"report.{big}.window_s")
rows.append((f"Work report window shown with it", "≤ 3 s", f"{num(rw, 3, ' s')} ({num(g(f'report.{big}.window_cpu_s'), 3, ' s')} CPU)",
             "—", "—", verdict(at_most(rw, 3.0))))
lm = g("app.listen_median_ms")
rows.append(("Start to listening (real server, median)", "≤ 200 ms",
             f"{num(lm, 1, ' ms')} (max {num(g('app.listen_max_ms'), 1, ' ms')})",
             f"second start, which ends before Qt: {num(g('app.second_start_median_ms'), 1, ' ms')}",
             "—", verdict(at_most(g("app.listen_max_ms"), 200))))
rate = g("chain.ship_records_per_s")
rows.append((f"Shipping {num(g('chain.ship_records'))} log records into an empty chain database", "≥ 50 000/s",
             f"{num(rate, 0, '/s')} ({num(g('chain.ship_client_cpu_us_per_record'), 2, ' µs')} of CPU per record "
             "in the shipper's process)", "—", "—", verdict(None if rate is None else rate >= 50000)))
on, off = g("chain_500.cpu_us_per_report"), g("chain_off_500.cpu_us_per_report")
rows.append(("Real server CPU per report, 500 stations × 10/s, each ending a session every second, shipped to "
             "the chain", "within 5 % of the same run without it",
             f"{num(on, 2, ' µs')} ({num(g('chain_500.chain_shipped'))} of {num(g('chain_500.chain_logged'))} "
             "records shipped when the run ended)", f"without a chain {num(off, 2, ' µs')}",
             "n/a" if on is None or not off else f"{100 * (on / off - 1):+.1f} %",
             verdict(None if on is None or not off else on <= off * 1.05)))
for f, where in (("idle", "offscreen"), ("idle_x11", "under Xvfb")):
    floor = g(f"{f}.empty_loop_percent")
    cases = [(f"{f}.window_shown_percent", f"Idle CPU, main window shown ({where})"),
             (f"{f}.window_hidden_percent", f"Idle CPU, main window hidden to the tray ({where})")]
    if f == "idle":
        cases.insert(1, ("app.idle_shown_percent", "Idle CPU, real server, window shown (offscreen)"))
    for key, what in cases:
        v = g(key)
        if v is None:
            continue
        rows.append((what, "0 %", num(v, 2, " %"), f"empty Qt event loop ({where}) {num(floor, 2, ' %')}",
                     "n/a" if floor is None else f"{v - floor:+.2f} points",
                     verdict(None if floor is None else v - floor < 0.05)))


def table(rows):
    t = ["| " + " | ".join(rows[0]) + " |", "|" + "|".join("---" for _ in rows[0]) + "|"]
    t += ["| " + " | ".join(str(c) for c in r) + " |" for r in rows[1:]]
    return "\n".join(t)


md += ["### Figures, goals and ceilings", "", table(rows), ""]

rows = [("Stations", "Bare loop (reports/s)", "Applied (reports/s)", "Ratio", "Of processing alone", "Latency p50", "p99", "max",
         "RSS before", "RSS connected", "RSS after latency run", "Threads idle / peak / after")]
for n in counts:
    p = f"net.{n}."
    rows.append((num(n), num(g(p + "bare_loop_reports_per_s")), num(g(p + "applied_reports_per_s")),
                 num(g(p + "applied_percent_of_bare_loop"), 1, " %"),
                 f'{num(pct(g(p + "applied_reports_per_s"), g(p + "processing_alone_reports_per_s")), 1, " %")} '
                 f'({num(pct(g(p + "applied_reports_per_s"), g(p + "processing_alone_here_reports_per_s")), 1, " %")} '
                 f'at its own count)',
                 num(g(p + "latency_p50_us"), 0, " µs"),
                 num(g(p + "latency_p99_us"), 0, " µs"), num(g(p + "latency_max_us"), 0, " µs"),
                 num(g(p + "rss_before_mb"), 1, " MB"), num(g(p + "rss_connected_mb"), 1, " MB"),
                 num(g(p + "rss_after_latency_mb"), 1, " MB"),
                 f"{num(g(p + 'threads_idle'))} / {num(g(p + 'threads_peak'))} / {num(g(p + 'threads_after'))}"))
md += ["### Cost as the stations grow", "", table(rows), ""]

rows = [("Records", "File", "Raw read", "Scan", "Scan + decode", "ostrel-log check", "ostrel-log dump",
         "ostrel-log csv", "Report text", "Report window", "Early period")]
for n in sizes:
    p, r = f"log.{n}.", f"report.{n}."
    rows.append((num(n), num(None if g(p + "file_bytes") is None else g(p + "file_bytes") / 1e6, 1, " MB"),
                 num(g(p + "raw_read_s"), 4, " s"), num(g(p + "scan_s"), 4, " s"), num(g(p + "scan_decode_s"), 4, " s"),
                 num(g(p + "tool_check_s"), 3, " s"), num(g(p + "tool_dump_s"), 3, " s"),
                 num(g(p + "tool_csv_s"), 3, " s"), num(g(r + "text_s"), 3, " s"), num(g(r + "window_s"), 3, " s"),
                 num(g(r + "early_s"), 4, " s")))
md += ["### Cost as the log grows", "", table(rows), ""]

rows = [("Log size in the run", "Appends with fsync", "Appends/s with fsync", "Appends without fsync",
         "Appends/s without fsync")]
for n in sizes:
    p = f"log.{n}."
    rows.append((num(n), num(g(p + "fsync_appends")), num(g(p + "fsync_appends_per_s")), num(g(p + "nofsync_appends")),
                 num(g(p + "nofsync_appends_per_s"))))
md += ["### LogSession appends (each log run measures them again)", "", table(rows), ""]

rows = [("Figure", "Measured")]
rows.append(("Report processing alone, one thread, 100 stations", num(g(f"{mn}processing_alone_reports_per_s"), 0, " reports/s")))
rows.append((f"Stream reassembly and processing, one thread, {num(g('stations.stations'))} stations",
             f"{num(g('stations.apply_reports_per_s'), 0, ' reports/s')} ({num(g('stations.apply_us_per_report'), 2, ' µs')} each)"))
rows.append(("Stream reassembly alone", f"{num(g('stations.reassembly_reports_per_s'), 0, ' reports/s')} "
                                        f"({num(g('stations.reassembly_mb_per_s'), 0, ' MB/s')})"))
rows.append((f"Simulator, {num(g('simulator.stations'))} stations asked for {num(g('simulator.asked_reports_per_second'))}/s",
             f"{num(g('simulator.reports_per_second'), 0, ' reports/s')} sent, "
             f"{num(g('simulator.simulator_cpu_seconds'), 2, ' s')} CPU in {num(g('simulator.seconds'), 0, ' s')}"))
for k, v in s.items():
    if k.startswith("core."):
        rows.append((f"{k[5:-3]}", f"{v:.1f} ns/call"))
md += ["### Layers alone", "", table(rows), ""]

(out / "tables.md").write_text("\n".join(md))
print(f"\nTables: {out / 'tables.md'}")
