#include "commands/SendStationCommand.h"

namespace ostrel {

SendResult SendStationCommand(CommandTransport& transport, const StationRow& row, const StationCommand& command)
{
    const CommandBytes bytes = encodeStationCommand(command);
    return transport.sendToAddress(row[ColAddress], bytes);
}

} // namespace ostrel
