#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"
#include "core/StationRow.h"

namespace ostrel {

// Sends a command to the station of a station-table row: to the first open connection whose peer
// address equals the row's "IP" cell.
SendResult SendStationCommand(CommandTransport& transport, const StationRow& row, const StationCommand& command);

} // namespace ostrel
