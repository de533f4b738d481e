#include "stations/AlertRules.h"

#include <cmath>

namespace ostrel {

namespace {

constexpr double SecondsPerDay = 86'400.0;
constexpr double MinutesPerDay = 1'440.0;

bool isSession(std::int32_t code)
{
    return code == static_cast<std::int32_t>(StatusCode::Running) ||
           code == static_cast<std::int32_t>(StatusCode::Finished) ||
           code == static_cast<std::int32_t>(StatusCode::RunningWithAllowance);
}

} // namespace

void AlertRules::dropped(const StationRow& row, double now)
{
    if (const auto closes = burstClosesAt(); closes && now >= *closes)
        closeBurst(); // the old burst is over: told before this drop opens a new one
    if (m_burst.empty())
        m_burstStart = now;
    m_burst.push_back(row);
}

bool AlertRules::reported(const StationRow& row, const StationReport& report)
{
    const std::string& name = row[ColComputer];
    if (!isSession(report.statusCode))
        return false; // the over-run mark stays until the next session
    bool changed = false;
    auto it = m_games.find(name);
    if (it != m_games.end() && it->second.start != report.start) {
        changed = it->second.overrun; // the next session ends the mark
        m_games.erase(it);
        it = m_games.end();
    }
    if (report.statusCode != static_cast<std::int32_t>(StatusCode::RunningWithAllowance))
        return changed;
    if (it == m_games.end())
        it = m_games.emplace(name, Game{report.start}).first;
    Game& game = it->second;
    const double left = report.allowance - (report.finish - report.start);
    if (!std::isfinite(left))
        return changed;

    if (left < 0 && !game.overrun) {
        game.overrun = true;
        changed = true;
    }
    const double threshold = m_settings.warnMinutes / MinutesPerDay;
    if (m_settings.warnMinutes > 0 && !game.warned && left >= 0 && left <= threshold && report.allowance > threshold) {
        game.warned = true;
        m_due.push_back({HallAlert::Kind::TimeLow, name, row[ColStatus], row[ColSum], row[ColLeft], 0});
        changed = true;
    }
    return changed;
}

void AlertRules::closeBurst()
{
    if (static_cast<int>(m_burst.size()) >= m_settings.powerCutCount) {
        m_due.push_back({HallAlert::Kind::PowerCut, {}, {}, {}, {}, static_cast<int>(m_burst.size())});
    } else {
        for (const StationRow& row : m_burst) {
            if (!row[ColSum].empty())
                m_due.push_back({HallAlert::Kind::Dropped, row[ColComputer], row[ColStatus], row[ColSum], {}, 0});
        }
    }
    m_burst.clear();
}

std::vector<HallAlert> AlertRules::take(double now)
{
    if (const auto closes = burstClosesAt(); closes && now >= *closes)
        closeBurst();
    std::vector<HallAlert> out = std::move(m_due);
    m_due.clear();
    return out;
}

std::optional<double> AlertRules::burstClosesAt() const
{
    if (m_burst.empty())
        return std::nullopt;
    return m_burstStart + m_settings.powerCutSeconds / SecondsPerDay;
}

bool AlertRules::overrun(std::string_view computer) const
{
    const auto it = m_games.find(std::string(computer));
    return it != m_games.end() && it->second.overrun;
}

std::vector<std::string> AlertRules::overrunStations() const
{
    std::vector<std::string> out;
    for (const auto& [name, game] : m_games) {
        if (game.overrun)
            out.push_back(name);
    }
    return out;
}

} // namespace ostrel
