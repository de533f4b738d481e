#include "stations/DaySummary.h"

#include "core/Texts.h"

#include <cmath>

namespace ostrel {

namespace {

std::string stationKey(const std::string& computer, const std::string& address)
{
    std::string key = computer;
    key.push_back('\0');
    key += address;
    return key;
}

double dayOf(double when)
{
    return std::isfinite(when) ? std::floor(when) : 0.0;
}

} // namespace

DaySummary::DaySummary(double day) : m_day(dayOf(day)), m_hourly(m_day, m_day + 1.0) {}

void DaySummary::advanceTo(double now)
{
    const double day = dayOf(now);
    if (day == m_day)
        return;
    m_day = day;
    m_sessions = 0;
    m_logged = 0;
    m_perTariff.clear();
    m_hourly = HourlyLoad(m_day, m_day + 1.0);
}

void DaySummary::add(const SessionLogRecord& record)
{
    if (!std::isfinite(record.closedAt))
        return;
    // The day is the wall clock's alone: a record dated in the future (a station PC whose clock is
    // a day ahead) neither starts that day nor counts today.
    const Figures figures{record.closedAt, record.start, record.finish, record.price, record.sum};
    auto [it, first] = m_last.try_emplace(stationKey(record.computer, record.address), figures);
    bool repeat = false;
    if (!first) {
        const Figures& previous = it->second;
        const double gap = figures.closedAt - previous.closedAt;
        repeat = gap >= 0 && gap < 1.0 && figures.start == previous.start && figures.finish == previous.finish &&
                 figures.price == previous.price && figures.sum == previous.sum;
        it->second = figures;
    }
    m_hourly.addSession(record.closedAt, record.duration, record.sum, !repeat);
    if (repeat || dayOf(record.closedAt) != m_day || !std::isfinite(record.sum))
        return;
    ++m_sessions;
    m_logged += record.sum;
    m_perTariff[record.status] += record.sum;
}

bool DaySummary::alreadyLogged(const StationRow& row) const
{
    const auto it = m_last.find(stationKey(row[ColComputer], row[ColAddress]));
    if (it == m_last.end())
        return false;
    const auto start = parseTime(row[ColStart]);
    const auto finish = parseTime(row[ColFinish]);
    const auto price = parseMoney(row[ColPrice]);
    const auto sum = parseMoney(row[ColSum]);
    const Figures& last = it->second;
    // The log stores what these very parsers read from the row, so equal texts give equal numbers.
    return start && finish && price && sum && *start == last.start && *finish == last.finish && *price == last.price &&
           *sum == last.sum;
}

SummaryFigures DaySummary::figures(const std::vector<StationRow>& stationRows, std::optional<double> now) const
{
    HourlyLoad hourly = m_hourly;
    SummaryFigures out;
    out.sessions = m_sessions;
    out.logged = m_logged;
    out.perTariff = m_perTariff;
    // Row 0 holds the headers and the last row is blank: neither has a computer name below row 0.
    for (std::size_t r = 1; r < stationRows.size(); ++r) {
        const StationRow& row = stationRows[r];
        if (row[ColComputer].empty())
            continue;
        HallCounts& c = out.counts;
        ++c.connected;
        switch (stationState(row)) {
        case StationState::Unloaded:
            ++c.unloaded;
            break;
        case StationState::Closed:
            ++c.closed;
            break;
        case StationState::Waiting:
            ++c.waiting;
            break;
        case StationState::Free:
            ++c.free;
            break;
        case StationState::Paid:
            ++c.paid;
            break;
        case StationState::Game:
            ++c.game;
            break;
        }

        if (row[ColSum].empty() || alreadyLogged(row))
            continue;
        if (const auto sum = parseMoney(row[ColSum])) {
            out.running += *sum;
            out.perTariff[row[ColStatus]] += *sum;
        }
        if (const auto start = parseTime(row[ColStart]); start && now) {
            // The start is a time of day: one later than now began yesterday.
            double began = std::floor(*now) + *start;
            if (began > *now)
                began -= 1.0;
            hourly.addRunning(began, *now);
        }
    }
    out.hourly = hourly.figures();
    return out;
}

} // namespace ostrel
