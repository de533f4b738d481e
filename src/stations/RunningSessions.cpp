#include "stations/RunningSessions.h"

#include "core/DateTime.h"
#include "core/Texts.h"
#include "core/UniqueFd.h"
#include "log/LogScan.h"
#include "log/SessionLogRecord.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace ostrel {

namespace {

constexpr std::string_view Header = "ostrel running sessions ";
constexpr std::string_view End = "end ";
constexpr char HexDigits[] = "0123456789ABCDEF";
// A record closed this little before a session's last report (both written to the second) still
// closed that session.
constexpr double SameMoment = 2.0 / 86400;
// How far back the log is read for records that already closed a session of the previous run.
constexpr double LookBack = 1.0; // a day
constexpr std::uint64_t MostRecordsRead = 1'000'000;

void appendEscaped(std::string& out, std::string_view cell)
{
    for (const char c : cell) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += HexDigits[byte >> 4];
            out += HexDigits[byte & 0xF];
        } else {
            out += c;
        }
    }
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::optional<std::string> unescaped(std::string_view field)
{
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        if (static_cast<unsigned char>(c) < 0x20)
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (i + 1 < field.size() && field[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < field.size() && field[i + 1] == 'x' && hexValue(field[i + 2]) >= 0 &&
                   hexValue(field[i + 3]) >= 0) {
            out += static_cast<char>(hexValue(field[i + 2]) * 16 + hexValue(field[i + 3]));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::uint64_t> number(std::string_view text)
{
    if (text.empty() || text.size() > 19)
        return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return n;
}

std::optional<RunningSession> parseLine(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (true) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            break;
        line.remove_prefix(tab + 1);
    }
    if (fields.size() != 1 + StationColumnCount)
        return std::nullopt;
    RunningSession session;
    const auto at = parseDateAndTime(fields[0]);
    if (!at)
        return std::nullopt;
    session.lastReport = *at;
    for (int c = 0; c < StationColumnCount; ++c) {
        auto cell = unescaped(fields[static_cast<std::size_t>(c) + 1]);
        if (!cell)
            return std::nullopt;
        session.row[static_cast<std::size_t>(c)] = std::move(*cell);
    }
    // What the "Reset" record needs: a name, and the cells the log reads.
    if (session.row[ColComputer].empty() || !parseMoney(session.row[ColPrice]) || !parseMoney(session.row[ColSum]) ||
        !parseTime(session.row[ColStart]) || !parseTime(session.row[ColElapsed]) || !parseTime(session.row[ColFinish]))
        return std::nullopt;
    return session;
}

double wholeSecond(double at)
{
    return std::round(at * 86400) / 86400;
}

} // namespace

std::string formatRunningSessions(std::uint64_t generation, const std::vector<RunningSession>& sessions)
{
    std::string text(Header);
    text += std::to_string(generation);
    text += '\n';
    for (const RunningSession& s : sessions) {
        text += formatDateAndTime(s.lastReport).value_or(std::string());
        for (const std::string& cell : s.row) {
            text += '\t';
            appendEscaped(text, cell);
        }
        text += '\n';
    }
    text += End;
    text += std::to_string(generation) + " " + std::to_string(sessions.size()) + "\n";
    return text;
}

ParsedRunningSessions parseRunningSessions(std::string_view text)
{
    ParsedRunningSessions parsed;
    std::size_t lineNumber = 0;
    bool first = true;
    while (!text.empty()) {
        const bool ended = text.find('\n') != std::string_view::npos;
        const std::string_view line = takeLine(text);
        ++lineNumber;
        if (first) {
            first = false;
            if (line.starts_with(Header) && ended)
                parsed.generation = number(line.substr(Header.size()));
            if (!parsed.generation)
                parsed.damagedLines.push_back(lineNumber);
            continue;
        }
        if (line.starts_with(End)) {
            const std::string expected = std::string(End) + std::to_string(parsed.generation.value_or(0)) + " " +
                                         std::to_string(parsed.sessions.size());
            parsed.whole = ended && text.empty() && parsed.generation && line == expected;
            if (!parsed.whole)
                parsed.damagedLines.push_back(lineNumber);
            continue;
        }
        if (auto session = ended ? parseLine(line) : std::nullopt)
            parsed.sessions.push_back(std::move(*session));
        else
            parsed.damagedLines.push_back(lineNumber);
    }
    if (!parsed.damagedLines.empty())
        parsed.whole = false;
    return parsed;
}

RunningSessions::RunningSessions(std::string path, const std::string& logPath, std::chrono::milliseconds returnFor)
    : m_path(std::move(path))
{
    load(logPath, returnFor);
    m_thread = std::thread([this] { run(); });
}

RunningSessions::~RunningSessions()
{
    setExpiryHandler({});
    {
        std::scoped_lock hold(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void RunningSessions::load(const std::string& logPath, std::chrono::milliseconds returnFor)
{
    // The newer of the two files written whole; when neither is, what can be read of the newer.
    std::optional<ParsedRunningSessions> best;
    std::optional<ParsedRunningSessions> newest;
    for (const std::string& path : {m_path, m_path + ".2"}) {
        std::string text;
        if (!readWholeFile(path, text)) {
            if (errno != ENOENT)
                std::fprintf(stderr, "ostrel-server: %s cannot be read (%s)\n", path.c_str(), std::strerror(errno));
            continue;
        }
        if (text.empty())
            continue;
        ParsedRunningSessions parsed = parseRunningSessions(text);
        const std::uint64_t generation = parsed.generation.value_or(0);
        m_generation = std::max(m_generation, generation);
        if (parsed.whole && (!best || generation > best->generation.value_or(0)))
            best = parsed;
        if (!newest || generation > newest->generation.value_or(0)) {
            for (const std::size_t line : parsed.damagedLines)
                std::fprintf(stderr, "ostrel-server: %s line %zu is damaged and skipped\n", path.c_str(), line);
            newest = std::move(parsed);
        }
    }
    std::fflush(stderr);
    // The next write goes into the other file than the one read, which stays whole meanwhile.
    if (best && (m_generation + 1) % 2 == best->generation.value_or(0) % 2)
        ++m_generation;
    if (!best)
        best = std::move(newest);
    if (!best || best->sessions.empty())
        return;

    // Sessions whose record is in the log already: logged before the files were rewritten.
    std::vector<RunningSession> sessions = std::move(best->sessions);
    double earliest = std::numeric_limits<double>::infinity();
    for (const RunningSession& s : sessions)
        earliest = std::min(earliest, s.lastReport);
    std::vector<bool> logged(sessions.size(), false);
    std::uint64_t read = 0;
    scanLogTail(logPath, [&](const LogScanEntry& entry) {
        if (++read > MostRecordsRead || (std::isfinite(entry.closedAt) && entry.closedAt < earliest - LookBack))
            return false;
        const SessionLogRecord record = decodeLogRecord(entry.bytes);
        for (std::size_t i = 0; i < sessions.size(); ++i) {
            const RunningSession& s = sessions[i];
            if (!logged[i] && record.computer == s.row[ColComputer] && record.address == s.row[ColAddress] &&
                parseTime(s.row[ColStart]) == record.start && record.closedAt >= s.lastReport - SameMoment)
                logged[i] = true;
        }
        return true;
    });
    const auto until = Clock::now() + returnFor;
    std::scoped_lock hold(m_mutex);
    for (std::size_t i = 0; i < sessions.size(); ++i) {
        if (logged[i])
            continue;
        std::string name = sessions[i].row[ColComputer];
        m_waiting[name] = Waiting{std::move(sessions[i]), until};
    }
    m_fromBefore = m_waiting.size();
}

void RunningSessions::changed()
{
    // Only the first change of a round wakes the writer; it takes the others with it.
    if (m_changes++ == m_stored)
        m_wake.notify_one();
}

void RunningSessions::noteRow(const StationRow& row, double at)
{
    std::scoped_lock hold(m_mutex);
    const std::string& name = row[ColComputer];
    if (row[ColSum].empty()) {
        if (m_running.erase(name) > 0)
            changed();
        return;
    }
    RunningSession& s = m_running[name];
    s.row = row;
    s.lastReport = wholeSecond(at);
    changed();
}

void RunningSessions::rowGone(const std::string& computer)
{
    std::scoped_lock hold(m_mutex);
    if (m_running.erase(computer) > 0)
        changed();
}

std::optional<RunningSession> RunningSessions::takeWaiting(const std::string& computer)
{
    std::scoped_lock hold(m_mutex);
    const auto it = m_waiting.find(computer);
    if (it == m_waiting.end())
        return std::nullopt;
    RunningSession session = std::move(it->second.session);
    m_waiting.erase(it);
    changed();
    return session;
}

std::vector<RunningSession> RunningSessions::takeExpired()
{
    std::scoped_lock hold(m_mutex);
    std::vector<RunningSession> expired;
    const auto now = Clock::now();
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->second.until <= now) {
            expired.push_back(std::move(it->second.session));
            it = m_waiting.erase(it);
            changed();
        } else {
            ++it;
        }
    }
    return expired;
}

std::vector<std::pair<RunningSession, int>> RunningSessions::waiting() const
{
    std::scoped_lock hold(m_mutex);
    std::vector<std::pair<RunningSession, int>> list;
    const auto now = Clock::now();
    for (const auto& [name, w] : m_waiting) {
        const auto left = std::chrono::ceil<std::chrono::seconds>(w.until - now).count();
        list.emplace_back(w.session, static_cast<int>(std::max<decltype(left)>(0, left)));
    }
    return list;
}

void RunningSessions::setExpiryHandler(std::function<void()> handler)
{
    std::scoped_lock hold(m_handlerLock);
    m_expired = std::move(handler);
}

bool RunningSessions::flush(std::chrono::milliseconds limit)
{
    std::unique_lock hold(m_mutex);
    const std::uint64_t target = m_changes;
    m_wake.notify_all();
    return m_written.wait_for(hold, limit, [&] { return m_stored >= target && !m_failed; });
}

std::uint64_t RunningSessions::generation() const
{
    std::scoped_lock hold(m_mutex);
    return m_generation;
}

void RunningSessions::run()
{
    ::pthread_setname_np(::pthread_self(), "running"); // for the benchmarks' CPU per thread
    std::unique_lock hold(m_mutex);
    auto lastWrite = Clock::now() - WriteInterval;
    auto lastSettle = Clock::time_point::min();
    for (;;) {
        // The next moment there is work: a write due, or a waiting session's time up (asked again
        // at most once a second while no handler takes it).
        auto next = Clock::time_point::max();
        if (m_changes != m_stored)
            next = lastWrite + WriteInterval;
        for (const auto& [name, w] : m_waiting)
            next = std::min(next, std::max(w.until, lastSettle + std::chrono::seconds(1)));
        if (!m_stopping) {
            if (next == Clock::time_point::max())
                m_wake.wait(hold);
            else
                m_wake.wait_until(hold, next);
        }
        const auto now = Clock::now();
        const bool expired = std::any_of(m_waiting.begin(), m_waiting.end(),
                                         [now](const auto& entry) { return entry.second.until <= now; });
        if (expired && !m_stopping && now >= lastSettle + std::chrono::seconds(1)) {
            lastSettle = now;
            hold.unlock();
            {
                std::scoped_lock calling(m_handlerLock);
                if (m_expired)
                    m_expired(); // settles them, taking them with takeExpired()
            }
            hold.lock();
        }
        const bool due = m_changes != m_stored && (m_stopping || Clock::now() >= lastWrite + WriteInterval);
        if (due) {
            const std::uint64_t target = m_changes;
            const std::uint64_t generation = m_generation + 1;
            std::vector<RunningSession> sessions;
            sessions.reserve(m_running.size() + m_waiting.size());
            for (const auto& [name, w] : m_waiting)
                sessions.push_back(w.session);
            for (const auto& [name, s] : m_running) {
                if (!m_waiting.contains(name))
                    sessions.push_back(s);
            }
            hold.unlock();
            const bool ok = write(generation, formatRunningSessions(generation, sessions));
            lastWrite = Clock::now();
            hold.lock();
            if (ok) {
                m_generation = generation;
                m_stored = target;
            }
            m_written.notify_all();
        }
        if (m_stopping && (m_changes == m_stored || !due || m_failed))
            return;
    }
}

bool RunningSessions::write(std::uint64_t generation, const std::string& text)
{
    // Alternate files, so a write cut short leaves the other one whole.
    const std::string path = generation % 2 == 1 ? m_path : m_path + ".2";
    const int error = rewriteSharedFile(path, text, m_spare);
    const bool ok = error == 0;
    std::scoped_lock hold(m_mutex);
    if (!ok && !m_failed) {
        std::fprintf(stderr, "ostrel-server: %s cannot be written: %s\n", path.c_str(),
                     error == ELOOP || error == LinkedFileError ? "a link stands in its place" : std::strerror(error));
        std::fflush(stderr);
    }
    m_failed = !ok;
    return ok;
}

} // namespace ostrel
