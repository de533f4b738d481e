#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "core/StationRow.h"

namespace ostrel {

// Posts a command to the station of a station-table row: to the first open connection whose peer
// address equals the row's "IP" cell. Returns the result when it was known before the post
// returned (on the thread that owns the connections), Sent for a command still on its way.
SendResult SendStationCommand(CommandTransport& transport, const StationRow& row, const StationCommand& command);

} // namespace ostrel
