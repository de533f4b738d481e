#pragma once

#include "core/StationRow.h"
#include "stations/StationReport.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ostrel {

struct HallAlert
{
    enum class Kind
    {
        Dropped,  // a station dropped while its row held a session
        PowerCut, // many stations dropped within a few seconds: `count` of them
        TimeLow,  // a game's time left fell to the warning threshold
    };
    Kind kind = Kind::Dropped;
    std::string computer; // Windows-1251; empty for PowerCut
    std::string tariff;
    std::string sum;
    std::string left; // TimeLow: the time left cell
    int count = 0;    // PowerCut: stations dropped
    friend bool operator==(const HallAlert&, const HallAlert&) = default;
    // For test failure messages.
    friend std::ostream& operator<<(std::ostream& out, const HallAlert& a)
    {
        return out << static_cast<int>(a.kind) << ' ' << a.computer << ' ' << a.tariff << ' ' << a.sum << ' '
                   << a.count;
    }
};

struct AlertSettings
{
    int warnMinutes = 5;          // 0: no time-left warnings
    double powerCutSeconds = 3.0; // drops this close to the first of a burst belong to it
    int powerCutCount = 3;        // a burst of at least this many drops is told as one power cut
};

// When the operator is told what. Times are day numbers. Takes no lock itself.
//
// Drops are held for `powerCutSeconds` after the first of a burst: when the burst closes, it is
// told as one power cut if it is large enough, otherwise each station that held a session is told
// by name. A game is warned once per session (its Start) when its time left falls to
// `warnMinutes`, unless it was granted no more than that; a game whose time ran over is marked
// over-run until its station starts another session.
class AlertRules
{
public:
    explicit AlertRules(AlertSettings settings = {}) : m_settings(settings) {}

    void dropped(const StationRow& row, double now);
    // True when an alert became due or a station's over-run mark changed.
    bool reported(const StationRow& row, const StationReport& report);

    // The alerts due at `now`, each given once.
    std::vector<HallAlert> take(double now);
    // When the open burst of drops closes; nullopt when none is open.
    std::optional<double> burstClosesAt() const;

    bool overrun(std::string_view computer) const;
    std::vector<std::string> overrunStations() const;

    const AlertSettings& settings() const { return m_settings; }

private:
    struct Game
    {
        double start = 0;
        bool warned = false;
        bool overrun = false;
    };

    void closeBurst();

    AlertSettings m_settings;
    std::vector<HallAlert> m_due;
    std::vector<StationRow> m_burst;
    double m_burstStart = 0;
    std::unordered_map<std::string, Game> m_games;
};

} // namespace ostrel
