#pragma once

#include "commands/AuditedTransport.h"

#include <functional>
#include <string>
#include <string_view>

namespace ostrel {

class AuditTrail;

// The audit of commands written to the audit trail: each command in words, with the station's
// name and the moment.
class CommandAuditTrail final : public CommandAudit
{
public:
    struct Hooks
    {
        // The computer name the station table shows for the address, Windows-1251; empty when none.
        std::function<std::string(std::string_view address)> stationName{};
        // False on a thread that must not do file work (the window's): the line is then handed to
        // the log's thread. Empty: every thread may.
        std::function<bool()> mayWriteHere{};
        std::function<double()> clock{}; // local date-time as a day number; empty: now
    };

    CommandAuditTrail(AuditTrail& trail, Hooks hooks) : m_trail(trail), m_hooks(std::move(hooks)) {}

    void record(std::string_view address, const StationCommand& command, SendResult result,
                CommandOrigin origin) override;

private:
    AuditTrail& m_trail;
    Hooks m_hooks;
};

} // namespace ostrel
