#include "stations/ReportProcessor.h"

#include "stations/StationObserver.h"

#include "commands/ResumeSession.h"
#include "commands/ShutdownNotes.h"
#include "core/DateTime.h"
#include "core/StationTableMutex.h"
#include "core/Texts.h"
#include "log/HistoryTable.h"
#include "log/LogScan.h"
#include "log/SessionLog.h"
#include "stations/RunningSessions.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace ostrel {

namespace {

constexpr std::int64_t MillisecondsPerMinute = 60'000;

// The cells a session report writes, all formatted before the table is touched.
struct SessionCells
{
    std::string price;
    std::string start;
    std::string elapsed;
    std::string finish;
    std::string left; // only for a session with an allowance
    std::string sum;
};

bool isSessionCode(std::int32_t code)
{
    return code == static_cast<std::int32_t>(StatusCode::Running) ||
           code == static_cast<std::int32_t>(StatusCode::Finished) ||
           code == static_cast<std::int32_t>(StatusCode::RunningWithAllowance);
}

// nullopt when the report cannot be shown: a non-finite value, a time outside the calendar, or an
// amount that has no money text. Such a report is dropped whole, so a row never shows half of it.
// Only the fields the code shows are judged: the time left is read for a running game alone, and a
// finished session's report must never be lost over a field it does not use.
std::optional<SessionCells> sessionCells(const StationReport& report)
{
    if (!std::isfinite(report.start) || !std::isfinite(report.finish) || !std::isfinite(report.price))
        return std::nullopt;
    if (!isValidDateTime(report.start) || !isValidDateTime(report.finish))
        return std::nullopt;

    const double elapsed = report.finish - report.start;
    const auto elapsedMs = toMilliseconds(elapsed);
    if (!elapsedMs)
        return std::nullopt;
    // Every whole minute is charged, days included: a session that ran 25 hours pays 1500 minutes,
    // although the elapsed cell shows only the time of day.
    const std::int64_t minutes = std::llabs(*elapsedMs) / MillisecondsPerMinute;
    const double sum = static_cast<double>(minutes) * report.price;

    SessionCells cells;
    auto price = formatMoney(report.price);
    auto start = formatTime(report.start);
    auto elapsedText = formatTime(elapsed);
    auto finish = formatTime(report.finish);
    auto sumText = formatMoney(sum);
    if (!price || !start || !elapsedText || !finish || !sumText)
        return std::nullopt;
    // The session log stores money as a four-decimal fixed-point amount: a price or sum beyond it
    // could be shown but never logged, and the session would be lost when it ends.
    if (!parseMoney(*price) || !parseMoney(*sumText))
        return std::nullopt;
    if (report.statusCode == static_cast<std::int32_t>(StatusCode::RunningWithAllowance)) {
        if (!std::isfinite(report.allowance))
            return std::nullopt;
        auto left = formatTime(report.allowance - elapsed);
        if (!left)
            return std::nullopt;
        cells.left = std::move(*left);
    }
    cells.price = std::move(*price);
    cells.start = std::move(*start);
    cells.elapsed = std::move(*elapsedText);
    cells.finish = std::move(*finish);
    cells.sum = std::move(*sumText);
    return cells;
}

// The word a state without a session shows; nullopt for the codes that carry a session and for
// unknown codes.
std::optional<std::string_view> idleWord(std::int32_t code)
{
    switch (code) {
    case static_cast<std::int32_t>(StatusCode::Unloaded):
        return words::Unloaded;
    case static_cast<std::int32_t>(StatusCode::Closed):
        return words::Closed;
    case static_cast<std::int32_t>(StatusCode::WaitingPaid):
        return words::WaitingPaid;
    case static_cast<std::int32_t>(StatusCode::WaitingGame):
        return words::WaitingGame;
    default:
        return std::nullopt;
    }
}

} // namespace

ReportProcessor::ReportProcessor(StationTable& table, HistoryTable& history, SessionLog& log,
                                 CommandTransport& transport, const TariffList& prices, const TariffList& games,
                                 ResumeSettings settings)
    : m_table(table), m_history(history), m_log(log), m_transport(transport), m_prices(prices), m_games(games),
      m_settings(settings)
{}

void ReportProcessor::addObserver(StationObserver& observer)
{
    std::scoped_lock hold(StationTableMutex);
    m_observers.push_back(&observer);
}

bool ReportProcessor::applyReport(const StationLink& link, const StationReport& report)
{
    bool changed = false;
    Outcome outcome;
    {
        std::scoped_lock hold(StationTableMutex);
        // Stations repeat their state every few seconds; a report that rewrites the same texts
        // asks for no repaint.
        const auto tableBefore = m_table.version();
        const auto historyBefore = m_history.version();
        m_applying = true;
        outcome = applyLocked(link, report);
        m_applying = false;
        // A connection that a send closed while the report was applied is handled now, on a table
        // that no step of the report still looks at.
        for (const std::string& owed : std::exchange(m_owedDisconnects, {}))
            disconnectLocked(owed);
        changed = m_table.version() != tableBefore || m_history.version() != historyBefore;
        if (outcome == Outcome::Applied)
            ++m_applied;
        else
            ++m_dropped;
    }
    // Outside the lock: the callback posts a repaint and must never wait for a reader of the table.
    if (changed && m_changed)
        m_changed();
    return outcome == Outcome::Applied;
}

ReportProcessor::Outcome ReportProcessor::applyLocked(const StationLink& link, const StationReport& report)
{
    // A report received just before its connection closed: its row is gone, or belongs to
    // whoever took the name since.
    if (link.isClosed())
        return Outcome::Dropped;
    const std::string name = link.hostName();
    if (name.empty())
        return Outcome::Dropped; // no key: it would match the blank row

    // Everything the report writes is checked first, so a report that cannot be shown changes
    // nothing at all, not even the row of a station seen for the first time.
    std::optional<SessionCells> session;
    if (isSessionCode(report.statusCode)) {
        session = sessionCells(report);
        if (!session)
            return Outcome::Dropped;
    }

    std::optional<int> row = m_table.FindStationRow(name);
    if (!row) {
        row = m_table.AddStationRow(name, link.address());
        if (!row)
            return Outcome::Dropped;
        // A session of the previous run is settled first, so that resumption below finds it.
        if (m_running)
            settleWaiting(name, report);
        // Resumption runs before this report's status is written, and only for the report that
        // created the row; a station the operator switched off starts without its session.
        const bool switchedOff = m_switchedOff.erase(name) > 0;
        if (m_shutdowns)
            m_shutdowns->cameBack(link.address());
        if (!switchedOff && !resumeIfReset(link, *row))
            return Outcome::Dropped;
        // A failed send closes the connection; its disconnect handling is owed until this report
        // is done with, and the report goes with the station.
        if (link.isClosed() || std::ranges::find(m_owedDisconnects, name) != m_owedDisconnects.end())
            return Outcome::Dropped;
        row = m_table.FindStationRow(name);
        if (!row)
            return Outcome::Dropped;
        for (StationObserver* observer : m_observers)
            observer->stationAdded(m_table.row(*row));
    }

    const int r = *row;
    if (auto word = idleWord(report.statusCode)) {
        m_table.setCell(r, ColStatus, std::string(*word));
        for (int c = ColPrice; c <= ColSum; ++c)
            m_table.setCell(r, c, {});
        for (StationObserver* observer : m_observers)
            observer->stationReported(m_table.row(r), report);
        if (m_running)
            m_running->rowGone(name);
        return Outcome::Applied;
    }
    if (!session)
        return Outcome::Applied; // an unknown code changes nothing in the row

    const auto rowBefore = m_table.version();
    m_table.setCell(r, ColStatus, report.statusText);
    m_table.setCell(r, ColPrice, std::move(session->price));
    m_table.setCell(r, ColStart, std::move(session->start));
    m_table.setCell(r, ColElapsed, std::move(session->elapsed));
    m_table.setCell(r, ColFinish, std::move(session->finish));
    m_table.setCell(r, ColSum, std::move(session->sum));
    if (report.statusCode == static_cast<std::int32_t>(StatusCode::Running))
        m_table.setCell(r, ColLeft, {});
    else if (report.statusCode == static_cast<std::int32_t>(StatusCode::RunningWithAllowance))
        m_table.setCell(r, ColLeft, std::move(session->left));

    for (StationObserver* observer : m_observers)
        observer->stationReported(m_table.row(r), report);

    // A finished session keeps the time left of the previous report, so that the log's history row
    // shows it. The cells stay written when the append fails: they are what the station reported.
    if (report.statusCode == static_cast<std::int32_t>(StatusCode::Finished)) {
        if (logSession(m_table.row(r), words::Ok) != LogResult::Appended)
            ++m_failedLogs;
        if (m_running)
            m_running->rowGone(name); // logged: no longer running
    } else if (m_running && m_table.version() != rowBefore) {
        // The cells change once a second at most; a report that repeats them changes nothing on disk.
        m_running->noteRow(m_table.row(r), nowDayNumber());
    }
    return Outcome::Applied;
}

LogResult ReportProcessor::logSession(const StationRow& row, std::string_view comment)
{
    const LogResult result = m_log.LogSession(row, comment);
    if (m_settings.resumeMinutes > 0 && result != LogResult::BadCell) {
        NewestSession& newest = m_newest[row[ColComputer]];
        std::copy(row.begin(), row.end(), newest.row.begin());
        newest.row[HistoryColComment] = std::string(comment);
        newest.closedAt = nowDayNumber();
    }
    return result;
}

void ReportProcessor::settleWaiting(const std::string& name, const StationReport& report)
{
    const auto before = m_running->takeWaiting(name);
    if (!before)
        return;
    // The same session going on: it is logged once, when it ends.
    const auto code = report.statusCode;
    const bool session = code == static_cast<std::int32_t>(StatusCode::Running) ||
                         code == static_cast<std::int32_t>(StatusCode::Finished) ||
                         code == static_cast<std::int32_t>(StatusCode::RunningWithAllowance) ||
                         code == static_cast<std::int32_t>(StatusCode::WaitingGame);
    if (session && std::isfinite(report.start) && formatTime(report.start) == before->row[ColStart])
        return;
    if (logSession(before->row, words::Reset) != LogResult::Appended)
        ++m_failedLogs;
}

void ReportProcessor::settleExpired()
{
    bool changed = false;
    {
        std::scoped_lock hold(StationTableMutex);
        if (!m_running)
            return;
        for (const RunningSession& s : m_running->takeExpired()) {
            if (logSession(s.row, words::Reset) != LogResult::Appended)
                ++m_failedLogs;
            changed = true;
        }
    }
    if (changed && m_changed)
        m_changed();
}

void ReportProcessor::seedResumptions(const std::string& logPath)
{
    if (m_settings.resumeMinutes <= 0)
        return;
    const double since = nowDayNumber() - m_settings.resumeMinutes / 1440.0;
    std::scoped_lock hold(StationTableMutex);
    scanLogTail(logPath, [&](const LogScanEntry& entry) {
        if (!std::isfinite(entry.closedAt) || entry.closedAt < since)
            return false;
        const SessionLogRecord r = decodeLogRecord(entry.bytes);
        if (m_newest.contains(r.computer))
            return true; // a newer one was met first
        NewestSession& newest = m_newest[r.computer];
        newest.row[ColComputer] = r.computer;
        newest.row[ColAddress] = r.address;
        newest.row[ColStatus] = r.status;
        newest.row[ColPrice] = formatMoney(r.price).value_or(std::string());
        newest.row[ColStart] = formatTime(r.start).value_or(std::string());
        newest.row[ColElapsed] = formatTime(r.duration).value_or(std::string());
        newest.row[ColFinish] = formatTime(r.finish).value_or(std::string());
        newest.row[ColSum] = formatMoney(r.sum).value_or(std::string());
        newest.row[HistoryColComment] = r.comment;
        newest.closedAt = entry.closedAt;
        return true;
    });
}

bool ReportProcessor::resumeIfReset(const StationLink& link, int row)
{
    if (m_settings.closeAfterReset)
        return true;
    std::optional<HistoryRow> newest;
    if (m_settings.resumeMinutes > 0) {
        // The station's own newest session, whatever was logged after it, while it is young enough.
        const auto it = m_newest.find(link.hostName());
        if (it != m_newest.end() && it->second.closedAt >= nowDayNumber() - m_settings.resumeMinutes / 1440.0)
            newest = it->second.row;
    } else {
        newest = m_history.newest();
    }
    if (!newest)
        return true;
    const HistoryRow& last = *newest;
    if (last[ColComputer] != link.hostName() || last[HistoryColComment] != words::Reset || last[ColPrice].empty())
        return true;

    // A copy: the table may grow while ResumeSession looks at it.
    const StationRow target = m_table.row(row);
    const ResumeContext context{m_transport, m_prices, m_games, m_settings.waitAfterReset};
    switch (ResumeSession(context, last[ColStatus], target, last[ColLeft])) {
    case ResumeResult::Sent:
    case ResumeResult::TimeUnreadable: // ends quietly by design; the report itself still counts
        return true;
    case ResumeResult::BadPrice:
    case ResumeResult::NoConnection:
        break;
    }
    ++m_failedResumes;
    return false;
}

void ReportProcessor::stationDisconnected(const StationLink& link)
{
    bool changed = false;
    {
        std::scoped_lock hold(StationTableMutex);
        // Called from inside applyReport (a send it made failed): the report's own hold runs it.
        if (m_applying) {
            m_owedDisconnects.push_back(link.hostName());
            return;
        }
        const auto historyBefore = m_history.version();
        changed = disconnectLocked(link.hostName());
        changed = changed || m_history.version() != historyBefore;
    }
    if (changed && m_changed)
        m_changed();
}

bool ReportProcessor::disconnectLocked(const std::string& name)
{
    const auto row = m_table.FindStationRow(name);
    if (!row)
        return false;
    if (m_shutdowns) {
        const auto sent = m_shutdowns->sentAway(m_table.cell(*row, ColAddress));
        if (sent && endsTheSession(*sent))
            m_switchedOff.insert(name);
    }
    for (StationObserver* observer : m_observers)
        observer->stationDropped(m_table.row(*row));
    if (!m_table.cell(*row, ColSum).empty()) {
        if (logSession(m_table.row(*row), words::Reset) != LogResult::Appended)
            ++m_failedLogs;
    }
    // Removed even when the log failed: a row left behind would belong to no connection.
    const bool removed = m_table.RemoveStationRow(name);
    if (m_running)
        m_running->rowGone(name);
    return removed;
}

} // namespace ostrel
