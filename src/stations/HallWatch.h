#pragma once

#include "stations/AlertRules.h"
#include "stations/DroppedStations.h"
#include "stations/StationObserver.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

class ShutdownNotes;

// What the hall's windows and alerts need from the stations: the dropped list, the alerts and the
// over-run marks. It observes report processing (on the network thread, under StationTableMutex),
// records under its own small lock and calls `wake` to have the GUI collect; the GUI reads it
// through the copies below.
class HallWatch : public StationObserver
{
public:
    using Clock = std::function<double()>; // local date-time as a day number

    explicit HallWatch(AlertSettings settings = {}, Clock clock = {});

    // Called after something the GUI shows changed, on the observing thread; it must only post.
    // Set before the watch is added to the processor.
    void setWake(std::function<void()> wake) { m_wake = std::move(wake); }
    // The commands that sent stations away: a drop that follows one raises no alert and is listed
    // as the operator's. Set before the watch is added to the processor.
    void setShutdownNotes(const ShutdownNotes* notes) { m_shutdowns = notes; }

    void stationAdded(const StationRow& row) override;
    void stationReported(const StationRow& row, const StationReport& report) override;
    void stationDropped(const StationRow& row) override;

    std::vector<DroppedStation> dropped() const;
    std::uint64_t droppedVersion() const;
    void removeDropped(const std::string& computer);
    void clearDropped();

    std::vector<HallAlert> takeAlerts();
    std::optional<double> burstClosesAt() const; // when takeAlerts() will have the open burst's alerts
    std::vector<std::string> overrunStations() const;
    double now() const { return m_clock(); }

private:
    void wake();

    Clock m_clock;
    std::function<void()> m_wake;
    const ShutdownNotes* m_shutdowns = nullptr;
    mutable std::mutex m_lock;
    DroppedStations m_dropped;
    AlertRules m_rules;
};

} // namespace ostrel
