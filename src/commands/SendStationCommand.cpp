#include "commands/SendStationCommand.h"

#include <memory>
#include <mutex>
#include <optional>

namespace ostrel {

SendResult SendStationCommand(CommandTransport& transport, const StationRow& row, const StationCommand& command)
{
    // A result told after the post returned belongs to a command that was on its way.
    struct Early
    {
        std::mutex lock;
        bool returned = false;
        std::optional<SendResult> result;
    };
    const auto early = std::make_shared<Early>();
    transport.post(row[ColAddress], command, [early](SendResult result) {
        std::scoped_lock hold(early->lock);
        if (!early->returned)
            early->result = result;
    });
    std::scoped_lock hold(early->lock);
    early->returned = true;
    return early->result.value_or(SendResult::Sent);
}

} // namespace ostrel
