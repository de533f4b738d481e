#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrel::chain {

// The summary's line and the tray's alert for the link to the chain's database.
std::string shippedText(std::uint64_t shipped, std::uint64_t waiting);
std::string awayText(std::string_view since); // since: "H:MM:SS"
std::string awayAlertText(std::string_view since);
// The shipping stopped: a row of this salon at this position of the file is there with other contents.
std::string conflictText(std::string_view salon, std::string_view file, std::uint64_t position);

} // namespace ostrel::chain
