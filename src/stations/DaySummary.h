#pragma once

#include "core/StationRow.h"
#include "log/HourlyLoad.h"
#include "log/SessionLogRecord.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ostrel {

// Stations connected now, by the state their row shows.
struct HallCounts
{
    int connected = 0;
    int paid = 0;    // a session without time left
    int game = 0;    // a session with time left
    int waiting = 0; // "Ожидание CЧ" or "Ожидание Игра"
    int free = 0;    // "Cвободно", or a row no report has filled yet
    int closed = 0;
    int unloaded = 0;
    friend bool operator==(const HallCounts&, const HallCounts&) = default;
};

struct SummaryFigures
{
    HallCounts counts;
    std::uint64_t sessions = 0;              // today's logged sessions, repeats left out
    double logged = 0;                       // their takings
    double running = 0;                      // the sums of the sessions not yet logged
    std::map<std::string, double> perTariff; // tariff (Windows-1251) -> logged plus running
    HourlyFigures hourly;                    // today by the hour: logged sums, stations busy (running too)
    double total() const { return logged + running; }
};

// The day at a glance: today's logged sessions, added record by record in file order, and the
// station table as it stands. A session logged "Ok" whose station then drops is logged again,
// "Reset", with the same figures; like the work report, such a repeat counts once. A row whose
// session was logged "Ok" keeps its sum until the station's next report: it is not counted again
// as running. Takes no lock itself.
class DaySummary
{
public:
    explicit DaySummary(double day); // any time of the day, as a day number

    double day() const { return m_day; }
    // Records of other days only feed the repeat check; only today's count.
    void add(const SessionLogRecord& record);
    // Starts the day of `now` when it is another than the summary's (the clock's): that day's
    // figures start from zero.
    void advanceTo(double now);

    // The table's rows, as copied; with `now`, the running sessions count as busy up to it.
    SummaryFigures figures(const std::vector<StationRow>& stationRows, std::optional<double> now = {}) const;

private:
    struct Figures
    {
        double closedAt = 0;
        double start = 0;
        double finish = 0;
        double price = 0;
        double sum = 0;
    };

    bool alreadyLogged(const StationRow& row) const;

    double m_day = 0; // 00:00 of the day
    std::uint64_t m_sessions = 0;
    double m_logged = 0;
    std::map<std::string, double> m_perTariff;
    HourlyLoad m_hourly;
    std::unordered_map<std::string, Figures> m_last; // computer + '\0' + address -> its newest record
};

} // namespace ostrel
