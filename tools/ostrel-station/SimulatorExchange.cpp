// What a connected station exchanges with the server: the commands it reads and obeys, and the
// reports it queues, with the faults asked for, and sends.

#include "Simulator.h"
#include "SimulatorHelpers.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace ostrel::sim {

void Simulator::handleCommands(Station& s, SteadyClock::time_point now)
{
    std::size_t used = 0;
    while (s.phase == Phase::Connected && s.in.size() - used >= StationCommandSize) {
        CommandBytes bytes{};
        std::copy_n(s.in.begin() + static_cast<std::ptrdiff_t>(used), StationCommandSize, bytes.begin());
        const auto command = decodeStationCommand(bytes);
        if (!command) {
            // Out of step: look for the next signature one byte further on.
            ++m_stats.badCommandBytes;
            ++used;
            continue;
        }
        used += StationCommandSize;
        const auto code = static_cast<std::int32_t>(command->code);
        ++m_stats.commandsReceived;
        ++m_stats.commandsByCode[code];
        if (m_options.logCommands && !m_options.quiet) {
            std::ostringstream line;
            line << s.name << " <-";
            for (std::uint8_t b : bytes)
                line << ' ' << std::hex << std::setw(2) << std::setfill('0') << static_cast<int>(b);
            line << std::dec << "\n    code " << code << " " << commandName(command->code) << ", tariff \""
                 << cp1251ToUtf8(command->tariff) << "\", price " << command->price << ", time " << command->time
                 << " days";
            if (std::isfinite(command->time))
                line << " (" << command->time * MinutesPerDay << " min)";
            m_out << line.str() << std::endl;
        }
        obey(s, *command, now);
    }
    if (s.phase == Phase::Connected)
        s.in.erase(s.in.begin(), s.in.begin() + static_cast<std::ptrdiff_t>(used));
}

void Simulator::obey(Station& s, const StationCommand& command, SteadyClock::time_point now)
{
    const StatusCode before = s.model->state();
    const MachineAction action = s.model->apply(command, m_clock->dayAt(now));
    switch (action) {
    case MachineAction::None:
        if (verbose(s) && s.model->state() != before)
            m_out << s.name << ": " << stateName(before) << " -> " << stateName(s.model->state()) << std::endl;
        sendReports(s, now);
        break;
    case MachineAction::Reboot:
        leave(s, now, m_options.rebootSeconds, false, "rebooting");
        break;
    case MachineAction::LogOff:
        leave(s, now, m_options.logOffSeconds, false, "logging off");
        break;
    case MachineAction::PowerOff:
        leave(s, now, m_options.powerOffSeconds, false, "powered off");
        break;
    }
}

void Simulator::sendReports(Station& s, SteadyClock::time_point now)
{
    const double day = m_clock->dayAt(now);
    // A finished report is followed at once by the state after it; bounded by the pending ones.
    for (int i = 0; i < 8; ++i) {
        const StationReport report = s.model->nextReport(day);
        enqueueReport(s, report, now);
        if (report.statusCode != static_cast<std::int32_t>(StatusCode::Finished))
            break;
    }
    s.nextReport = now + m_reportPeriod;
    flush(s, now);
}

void Simulator::enqueueReport(Station& s, const StationReport& report, SteadyClock::time_point now)
{
    if (s.outBytes > MaxUnsentBytes) {
        ++m_stats.reportsSkipped;
        return;
    }
    const auto bytes = encodeStationReport(report);
    SteadyClock::time_point at = s.out.empty() ? now : std::max(now, s.out.back().notBefore);
    const auto push = [&](std::vector<std::uint8_t> part, bool last) {
        s.outBytes += part.size();
        s.out.push_back(Chunk{std::move(part), 0, at, last, last ? report.statusCode : -1});
    };
    if (m_options.garbage > 0 && std::uniform_real_distribution<double>(0, 1)(m_random) < m_options.garbage) {
        std::vector<std::uint8_t> junk(std::uniform_int_distribution<std::size_t>(1, 16)(m_random));
        // Never 02, the first byte of the signature: junk could then pass for the start of a
        // report and swallow the real one behind it, and no count of sessions would hold.
        for (auto& b : junk) {
            b = static_cast<std::uint8_t>(m_random());
            if (b == RecordSignature[0])
                b = 0x03;
        }
        push(std::move(junk), false);
    }
    if (m_options.oneByte) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            push({bytes[i]}, i + 1 == bytes.size());
            at += OneBytePause;
        }
    } else if (m_options.split) {
        const auto cut = std::uniform_int_distribution<std::size_t>(1, bytes.size() - 1)(m_random);
        push(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)), false);
        at += SplitPause;
        push(std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(cut), bytes.end()), true);
    } else {
        push(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), true);
    }
}

bool Simulator::flush(Station& s, SteadyClock::time_point now)
{
    while (s.phase == Phase::Connected && !s.out.empty() && s.out.front().notBefore <= now) {
        Chunk& chunk = s.out.front();
        const ssize_t n = ::send(s.tcp.get(), chunk.bytes.data() + chunk.offset, chunk.bytes.size() - chunk.offset,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                watchWrite(s, true);
                return false;
            }
            lost(s, now, "send: " + errorText(errno));
            return false;
        }
        chunk.offset += static_cast<std::size_t>(n);
        s.outBytes -= static_cast<std::size_t>(n);
        m_stats.bytesSent += static_cast<std::uint64_t>(n);
        if (chunk.offset < chunk.bytes.size())
            continue;
        if (chunk.endsReport) {
            ++m_stats.reportsSent;
            s.lastSentCode = chunk.code;
            if (chunk.code == static_cast<std::int32_t>(StatusCode::Finished)) {
                ++m_stats.finishedReports;
                ++m_stats.sessionsClosed;
            }
        }
        s.out.pop_front();
    }
    if (s.phase == Phase::Connected)
        watchWrite(s, false);
    return true;
}

void Simulator::watchWrite(Station& s, bool on)
{
    if (s.writeWatched == on || !s.tcp)
        return;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | (on ? EPOLLOUT : 0u);
    ev.data.u64 = tagOf(s.index, TcpTag);
    ::epoll_ctl(m_epoll.get(), EPOLL_CTL_MOD, s.tcp.get(), &ev);
    s.writeWatched = on;
}

} // namespace ostrel::sim
