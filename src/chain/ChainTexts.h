#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
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

namespace ostrel {

struct ChainStatus;

// What the operator sees of the chain link: the summary's line now, and the tray's alert once an
// outage has lasted AlertAfter (once per outage).
class ChainWatch
{
public:
    static constexpr std::chrono::minutes AlertAfter{10};

    static std::string summaryLine(const ChainStatus& status);
    // The alert's text the first time this outage reaches AlertAfter; nullopt otherwise.
    std::optional<std::string> takeAlert(const ChainStatus& status);

private:
    bool m_alerted = false;
};

} // namespace ostrel
