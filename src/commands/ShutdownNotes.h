#pragma once

#include "commands/AuditedTransport.h"
#include "commands/StationCommand.h"

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ostrel {

// The stations this server sent away: a reboot, a power-off or a log-off that went out whole. The
// drop that follows such a command within a minute is the server's own doing, not a fault: it
// raises no alert, and a powered-off or logged-off station is not given its session back when it
// starts again. Told of commands as an audit, on any thread; asked under the station table's
// mutex. Its own small lock.
class ShutdownNotes final : public CommandAudit
{
public:
    using Clock = std::function<double()>; // seconds, never going back
    static constexpr double DropWithinSeconds = 60;

    explicit ShutdownNotes(Clock clock = {});

    void record(std::string_view address, const StationCommand& command, SendResult result,
                CommandOrigin origin) override;

    // The command that sent the station at `address` away less than a minute ago, if any.
    std::optional<CommandCode> sentAway(std::string_view address) const;
    // The station at `address` is connected again: what was sent before is done with.
    void cameBack(std::string_view address);

private:
    struct Sent
    {
        CommandCode code;
        double at;
    };

    double now() const;

    Clock m_clock;
    mutable std::mutex m_lock;
    std::unordered_map<std::string, Sent> m_sent; // by address
};

// Whether a drop that followed `code` ends the station's session for good: a station powered off or
// logged off is not resumed; a rebooted one is, that is what resumption is for.
bool endsTheSession(CommandCode code);

} // namespace ostrel
