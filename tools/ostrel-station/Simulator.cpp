// The simulator's run: the stations' clock, setting up the stations, the event loop with its timers,
// what a station does when its timer is due, the script's steps, and the summary at the end.

#include "Simulator.h"
#include "SimulatorHelpers.h"

#include "core/DateTime.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iomanip>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace ostrel::sim {

bool reportLeavesSum(std::int32_t statusCode)
{
    return statusCode == static_cast<std::int32_t>(StatusCode::Running) ||
           statusCode == static_cast<std::int32_t>(StatusCode::Finished) ||
           statusCode == static_cast<std::int32_t>(StatusCode::RunningWithAllowance);
}

StationClock::StationClock(double startDay, SteadyClock::time_point origin, double speed)
    : m_startDay(startDay), m_origin(origin), m_speed(speed > 0 ? speed : 1.0)
{}

double StationClock::dayAt(SteadyClock::time_point t) const
{
    const double seconds = std::chrono::duration<double>(t - m_origin).count();
    return m_startDay + seconds * m_speed / 86400.0;
}

SteadyClock::time_point StationClock::realAt(double day) const
{
    const double seconds = (day - m_startDay) * 86400.0 / m_speed;
    if (!std::isfinite(seconds) || seconds > 86400.0)
        return m_origin + std::chrono::hours(24) + (SteadyClock::now() - m_origin);
    if (seconds <= 0)
        return m_origin;
    return m_origin + secondsToDuration(seconds);
}

Simulator::Simulator(SimulatorOptions options, std::ostream& out)
    : m_options(std::move(options)), m_out(out),
      m_random(m_options.seed != 0 ? m_options.seed
                                   : static_cast<std::uint32_t>(SteadyClock::now().time_since_epoch().count()))
{}

Simulator::~Simulator() = default;

bool Simulator::open(std::string& error)
{
    m_epoll.reset(::epoll_create1(EPOLL_CLOEXEC));
    m_stopFd.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!m_epoll || !m_stopFd) {
        error = "epoll/eventfd: " + errorText(errno);
        return false;
    }
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = StopTag;
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_ADD, m_stopFd.get(), &ev);

    const auto discover = parseIpv4(m_options.discoverAddress);
    const auto server = parseIpv4(m_options.serverAddress.empty() ? "127.0.0.1" : m_options.serverAddress);
    const auto first = parseIpv4(m_options.firstAddress);
    if (!discover || !server || !first) {
        error = "bad address";
        return false;
    }
    m_discoverAddress = *discover;
    m_serverAddress = *server;
    m_reportPeriod = secondsToDuration(1.0 / m_options.rate);
    if (m_reportPeriod <= SteadyClock::duration::zero())
        m_reportPeriod = std::chrono::microseconds(1);

    m_started = SteadyClock::now();
    m_clock = std::make_unique<StationClock>(nowDayNumber(), m_started, m_options.speed);
    m_stations.resize(static_cast<std::size_t>(m_options.stations));
    const auto stagger = std::min<SteadyClock::duration>(std::chrono::milliseconds(2),
                                                         std::chrono::seconds(1) / std::max(1, m_options.stations));
    for (int i = 0; i < m_options.stations; ++i) {
        Station& s = m_stations[static_cast<std::size_t>(i)];
        const auto address = stationAddress(*first, i);
        if (!address) {
            error = "no address for station " + std::to_string(i + 1);
            return false;
        }
        s.index = i;
        s.address = *address;
        s.name = formatIpv4(*address);
        StationModelSettings settings;
        settings.customerDelayMin = m_options.customerMinSeconds / 86400.0;
        settings.customerDelayMax = m_options.customerMaxSeconds / 86400.0;
        settings.seed = static_cast<std::uint32_t>(m_random());
        s.model = std::make_unique<StationModel>(settings);
        // Staggered first attempts: hundreds of simultaneous connects would overflow the server's
        // listen backlog and stall in SYN retries.
        s.phase = Phase::Away;
        s.phaseDeadline = m_started + stagger * i;
        reschedule(s);
    }
    return true;
}

void Simulator::stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(m_stopFd.get(), &one, sizeof one);
}

bool Simulator::verbose(const Station& s) const
{
    return !m_options.quiet && !m_options.load && (m_options.stations <= 8 || s.index == 0);
}

void Simulator::reschedule(Station& s)
{
    SteadyClock::time_point at = s.phaseDeadline;
    if (m_finishing && s.phase != Phase::Closing)
        at = SteadyClock::time_point::max();
    else if (s.phase == Phase::Connected) {
        at = std::min(s.nextReport, s.dropAt);
        if (const auto event = s.model->nextEventTime())
            at = std::min(at, m_clock->realAt(*event));
        if (!s.out.empty() && !s.writeWatched)
            at = std::min(at, s.out.front().notBefore);
    }
    if (at == s.scheduled)
        return;
    s.scheduled = at;
    m_timers.push(Timer{at, s.index, ++s.generation});
}

double Simulator::run()
{
    const auto end = m_options.durationSeconds > 0 ? m_started + secondsToDuration(m_options.durationSeconds)
                                                   : SteadyClock::time_point::max();
    std::vector<epoll_event> events(512);
    SteadyClock::time_point finalDeadline = SteadyClock::time_point::max();
    for (;;) {
        auto now = SteadyClock::now();
        if (!m_finishing) {
            if (now < end)
                applyScript(now);
            if (m_stopping || now >= end) {
                // Every connection is closed in order and its close awaited, so that the server
                // has read all that was counted.
                m_finishing = true;
                finalDeadline = now + FinalCloseTimeout;
                closeAll(now);
            }
        }
        if (m_finishing) {
            const bool open = std::any_of(m_stations.begin(), m_stations.end(),
                                          [](const Station& s) { return s.phase == Phase::Closing || s.staleTcp; });
            if (!open)
                break;
            if (now >= finalDeadline) {
                for (Station& s : m_stations) {
                    if (s.phase == Phase::Closing)
                        finishClose(s, now, false);
                    if (s.staleTcp)
                        endStale(s, false);
                }
                break;
            }
        }

        SteadyClock::time_point wake = m_finishing ? finalDeadline : end;
        if (!m_timers.empty())
            wake = std::min(wake, m_timers.top().at);
        if (!m_finishing && m_nextScriptStep < m_options.script.size())
            wake = std::min(wake, m_started + secondsToDuration(m_options.script[m_nextScriptStep].atSeconds));
        int timeoutMs = -1;
        if (wake != SteadyClock::time_point::max()) {
            // Rounded up, so that a timer a fraction of a millisecond away does not spin the loop.
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
            timeoutMs = static_cast<int>(std::clamp<long long>(wait, 0, 60'000));
        }
        const int n = ::epoll_wait(m_epoll.get(), events.data(), static_cast<int>(events.size()), timeoutMs);
        if (n < 0 && errno != EINTR)
            break;
        now = SteadyClock::now();
        for (int i = 0; i < n; ++i) {
            const std::uint64_t tag = events[static_cast<std::size_t>(i)].data.u64;
            if (tag == StopTag) {
                m_stopping = true;
                std::uint64_t count = 0;
                [[maybe_unused]] const auto read = ::read(m_stopFd.get(), &count, sizeof count);
                continue;
            }
            Station& s = m_stations[static_cast<std::size_t>(tag >> 2)];
            switch (tag & 3) {
            case UdpTag:
                onUdpEvent(s, now);
                break;
            case StaleTag:
                onStaleEvent(s, events[static_cast<std::size_t>(i)].events);
                break;
            default:
                onTcpEvent(s, events[static_cast<std::size_t>(i)].events, now);
                break;
            }
            reschedule(s);
        }
        while (!m_timers.empty() && m_timers.top().at <= now) {
            const Timer timer = m_timers.top();
            m_timers.pop();
            Station& s = m_stations[static_cast<std::size_t>(timer.station)];
            if (timer.generation != s.generation)
                continue;
            s.scheduled = SteadyClock::time_point::max();
            service(s, now);
            reschedule(s);
        }
    }
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - m_started).count();
    for (Station& s : m_stations)
        closeSockets(s, false);
    return seconds;
}

void Simulator::applyScript(SteadyClock::time_point now)
{
    while (m_nextScriptStep < m_options.script.size() &&
           m_started + secondsToDuration(m_options.script[m_nextScriptStep].atSeconds) <= now) {
        const ScriptStep& step = m_options.script[m_nextScriptStep++];
        switch (step.action) {
        case ScriptStep::Action::Drop:
            for (Station& s : m_stations) {
                if ((step.argument == 0 || step.argument == s.index + 1) && s.phase == Phase::Connected) {
                    leave(s, now, 0.5, true, "dropped by the script");
                    reschedule(s);
                }
            }
            break;
        case ScriptStep::Action::PowerCut:
            for (Station& s : m_stations) {
                if ((step.argument == 0 || step.argument == s.index + 1) && s.phase == Phase::Connected) {
                    powerCut(s, now);
                    reschedule(s);
                }
            }
            break;
        case ScriptStep::Action::Split:
            m_options.split = step.argument != 0;
            break;
        case ScriptStep::Action::OneByte:
            m_options.oneByte = step.argument != 0;
            break;
        case ScriptStep::Action::Garbage:
            m_options.garbage = step.argument;
            break;
        case ScriptStep::Action::Stop:
            m_stopping = true;
            break;
        case ScriptStep::Action::Local:
            for (Station& s : m_stations) {
                if ((step.argument == 0 || step.argument == s.index + 1) && s.phase == Phase::Connected) {
                    obey(s, step.command, now);
                    reschedule(s);
                }
            }
            break;
        }
    }
}

void Simulator::service(Station& s, SteadyClock::time_point now)
{
    if (m_finishing && s.phase != Phase::Closing)
        return;
    switch (s.phase) {
    case Phase::Closing:
        serviceClosing(s, now);
        return;
    case Phase::Away:
        if (now >= s.phaseDeadline)
            beginAttempt(s, now);
        return;
    case Phase::Discovering:
        if (now >= s.phaseDeadline) {
            ++m_stats.discoveryTimeouts;
            retryLater(s, now, "no answer to discovery");
        }
        return;
    case Phase::Connecting:
        if (now >= s.phaseDeadline) {
            ++m_stats.connectFailures;
            retryLater(s, now, "connect timed out");
        }
        return;
    case Phase::Connected:
        break;
    }
    if (now >= s.dropAt) {
        leave(s, now, 0.5, true, "dropped (--drop-after)");
        return;
    }
    const auto event = s.model->nextEventTime();
    if (event && m_clock->realAt(*event) <= now) {
        // The two clocks round differently: let the model reach the event even if the day number
        // for `now` falls a hair short of it, or the loop would wake for it again and again.
        s.model->advance(std::max(*event, m_clock->dayAt(now)));
        sendReports(s, now);
    } else if (now >= s.nextReport) {
        int due = 0;
        while (now >= s.nextReport && due < MaxReportsPerService) {
            StationReport report = s.model->nextReport(m_clock->dayAt(now));
            enqueueReport(s, report, now);
            s.nextReport += m_reportPeriod;
            ++due;
        }
        // Far behind (a stalled machine): start afresh instead of bursting.
        if (now - s.nextReport > std::chrono::seconds(1))
            s.nextReport = now + m_reportPeriod;
    }
    flush(s, now);
}

void Simulator::printSummary(std::ostream& out, double seconds) const
{
    out << "stations=" << m_options.stations << "\n"
        << "seconds=" << std::fixed << std::setprecision(3) << seconds << std::defaultfloat << "\n"
        << "reports_sent=" << m_stats.reportsSent << "\n"
        << "bytes_sent=" << m_stats.bytesSent << "\n"
        << "commands_received=" << m_stats.commandsReceived << "\n";
    for (const auto& [code, count] : m_stats.commandsByCode)
        out << "commands_code_" << code << "=" << count << "\n";
    out << "bad_command_bytes=" << m_stats.badCommandBytes << "\n"
        << "connects=" << m_stats.connects << "\n"
        << "reconnects=" << m_stats.reconnects << "\n"
        << "connect_failures=" << m_stats.connectFailures << "\n"
        << "discovery_timeouts=" << m_stats.discoveryTimeouts << "\n"
        << "power_cuts=" << m_stats.powerCuts << "\n"
        << "sessions_closed=" << m_stats.sessionsClosed << "\n"
        << "finished_reports=" << m_stats.finishedReports << "\n"
        << "reset_closes=" << m_stats.resetCloses << "\n"
        << "server_closes=" << m_stats.serverCloses << "\n"
        << "unconfirmed_closes=" << m_stats.unconfirmedCloses << "\n"
        << "reports_skipped=" << m_stats.reportsSkipped << "\n";
    out.flush();
}

} // namespace ostrel::sim
