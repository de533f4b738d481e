#include "StationModel.h"

#include <algorithm>
#include <cmath>

namespace ostrel::sim {

namespace {

// Figures from the wire are taken as they come; the station keeps only sane ones.
double saneNonNegative(double x)
{
    return std::isfinite(x) && x > 0 ? x : 0.0;
}

double saneFinite(double x)
{
    return std::isfinite(x) ? x : 0.0;
}

} // namespace

StationModel::StationModel(StationModelSettings settings) : m_settings(settings), m_random(settings.seed)
{
    if (!(m_settings.customerDelayMin >= 0))
        m_settings.customerDelayMin = 0;
    if (!(m_settings.customerDelayMax >= m_settings.customerDelayMin))
        m_settings.customerDelayMax = m_settings.customerDelayMin;
}

MachineAction StationModel::apply(const StationCommand& command, double now)
{
    advance(now);
    switch (command.code) {
    case CommandCode::cmdFree:
    case CommandCode::cmdBlock:
        if (running())
            finishSession(now);
        m_state = command.code == CommandCode::cmdFree ? StatusCode::Unloaded : StatusCode::Closed;
        m_tariff.clear();
        return MachineAction::None;
    case CommandCode::cmdStartPaid:
        if (m_state == StatusCode::Running) {
            // A new tariff for the running session: it goes on from its start at the new price.
            m_tariff = command.tariff;
            m_price = saneFinite(command.price);
            return MachineAction::None;
        }
        if (running())
            finishSession(now);
        m_tariff = command.tariff;
        m_price = saneFinite(command.price);
        startSession(StatusCode::Running, now);
        return MachineAction::None;
    case CommandCode::cmdStartGame:
        if (m_state == StatusCode::RunningWithAllowance) {
            // The operator lengthens or shortens the game: the command carries its new whole length.
            m_tariff = command.tariff;
            m_price = saneFinite(command.price);
            m_allowance = saneNonNegative(command.time);
            advance(now);
            return MachineAction::None;
        }
        if (running())
            finishSession(now);
        m_tariff = command.tariff;
        m_price = saneFinite(command.price);
        m_allowance = saneNonNegative(command.time);
        startSession(StatusCode::RunningWithAllowance, now);
        advance(now);
        return MachineAction::None;
    case CommandCode::cmdWaitPaid:
        beginWaiting(StatusCode::WaitingPaid, command, now);
        return MachineAction::None;
    case CommandCode::cmdWaitGame:
        beginWaiting(StatusCode::WaitingGame, command, now);
        return MachineAction::None;
    case CommandCode::cmdKillApps:
        return MachineAction::None;
    case CommandCode::cmdReboot:
        return MachineAction::Reboot;
    case CommandCode::cmdPowerOff:
        return MachineAction::PowerOff;
    case CommandCode::cmdLogOff:
        return MachineAction::LogOff;
    }
    return MachineAction::None; // a code no server sends: ignored
}

void StationModel::beginWaiting(StatusCode waitingState, const StationCommand& command, double now)
{
    if (running())
        finishSession(now);
    m_state = waitingState;
    m_tariff = command.tariff;
    m_price = saneFinite(command.price);
    m_allowance = waitingState == StatusCode::WaitingGame ? saneNonNegative(command.time) : 0.0;
    std::uniform_real_distribution<double> delay(m_settings.customerDelayMin, m_settings.customerDelayMax);
    m_customerAt = now + delay(m_random);
}

void StationModel::startSession(StatusCode kind, double now)
{
    m_state = kind;
    m_start = now;
    if (kind != StatusCode::RunningWithAllowance)
        m_allowance = 0;
}

void StationModel::finishSession(double at)
{
    StationReport finished;
    finished.statusCode = static_cast<std::int32_t>(StatusCode::Finished);
    finished.statusText = m_tariff;
    finished.start = m_start;
    finished.finish = at;
    finished.price = m_price;
    finished.allowance = m_allowance;
    m_pendingFinishes.push_back(finished);
    m_state = StatusCode::Closed;
}

void StationModel::advance(double now)
{
    // Bounded: each step leaves a waiting state or ends a game, and neither comes back by itself.
    for (int step = 0; step < 4; ++step) {
        if ((m_state == StatusCode::WaitingPaid || m_state == StatusCode::WaitingGame) && now >= m_customerAt) {
            startSession(m_state == StatusCode::WaitingPaid ? StatusCode::Running : StatusCode::RunningWithAllowance,
                         m_customerAt);
            continue;
        }
        if (m_state == StatusCode::RunningWithAllowance && now >= m_start + m_allowance) {
            finishSession(m_start + m_allowance);
            m_tariff.clear();
            continue;
        }
        break;
    }
}

StationReport StationModel::nextReport(double now)
{
    advance(now);
    if (!m_pendingFinishes.empty()) {
        StationReport finished = m_pendingFinishes.front();
        m_pendingFinishes.pop_front();
        return finished;
    }
    StationReport report;
    report.statusCode = static_cast<std::int32_t>(m_state);
    if (running()) {
        report.statusText = m_tariff;
        report.start = m_start;
        report.finish = std::max(now, m_start);
        report.price = m_price;
        report.allowance = m_allowance;
    }
    return report;
}

std::optional<double> StationModel::nextEventTime() const
{
    if (m_state == StatusCode::WaitingPaid || m_state == StatusCode::WaitingGame)
        return m_customerAt;
    if (m_state == StatusCode::RunningWithAllowance)
        return m_start + m_allowance;
    return std::nullopt;
}

void StationModel::restart()
{
    m_state = StatusCode::Closed;
    m_tariff.clear();
    m_price = 0;
    m_start = 0;
    m_allowance = 0;
    m_pendingFinishes.clear();
}

} // namespace ostrel::sim
