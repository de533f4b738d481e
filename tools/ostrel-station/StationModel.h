#pragma once

#include "commands/StationCommand.h"
#include "stations/StationReport.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>

namespace ostrel::sim {

// What a command asks of the machine itself, beyond the station program's state.
enum class MachineAction
{
    None,
    Reboot,
    PowerOff,
    LogOff,
};

struct StationModelSettings
{
    // Station-clock days between "wait" and the customer's arrival, drawn uniformly.
    double customerDelayMin = 5.0 / 86400.0;
    double customerDelayMax = 30.0 / 86400.0;
    std::uint32_t seed = 1;
};

// The station program's behaviour, without sockets or clocks: every call is given the station's
// time as a day number, so a test drives it with plain numbers.
//
// A session is one of two kinds: paid (code 2, open-ended, charged per minute) or game (code 5,
// ends when its allowance is used up). Whenever a session ends, one finished report (code 3) carries
// its final figures so that the server logs it; the state after it is reported next.
class StationModel
{
public:
    explicit StationModel(StationModelSettings settings = {});

    // Applies a command received at station time `now`.
    MachineAction apply(const StationCommand& command, double now);

    // Lets time pass: a waiting station gets its customer, a game runs out of its allowance.
    void advance(double now);

    // The next report to send at `now`. A pending finished report is returned once, before the
    // state that follows it.
    StationReport nextReport(double now);

    bool hasPendingFinish() const { return !m_pendingFinishes.empty(); }

    // The station time of the next change that happens by itself, if any.
    std::optional<double> nextEventTime() const;

    // The station program starts afresh (after a reboot, a log off or a lost connection): whatever
    // ran is cut off without a finished report, as on a real reset; the server logs it itself.
    void restart();

    StatusCode state() const { return m_state; }
    const std::string& tariff() const { return m_tariff; }
    double price() const { return m_price; }
    double start() const { return m_start; }
    double allowance() const { return m_allowance; }
    bool gameSession() const { return m_state == StatusCode::RunningWithAllowance; }

private:
    bool running() const { return m_state == StatusCode::Running || m_state == StatusCode::RunningWithAllowance; }
    void finishSession(double at);
    void startSession(StatusCode kind, double now);
    void beginWaiting(StatusCode waitingState, const StationCommand& command, double now);

    StationModelSettings m_settings;
    std::mt19937 m_random;

    StatusCode m_state = StatusCode::Closed;
    std::string m_tariff;
    double m_price = 0;
    double m_start = 0;
    double m_allowance = 0;  // days, game sessions only
    double m_customerAt = 0; // station time at which a waiting station's customer starts
    std::deque<StationReport> m_pendingFinishes;
};

} // namespace ostrel::sim
