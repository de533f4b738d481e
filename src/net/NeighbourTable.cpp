#include "net/NeighbourTable.h"

#include "net/SocketOptions.h"

#include "core/FileIo.h"
#include "core/Texts.h"

#include <charconv>
#include <vector>

namespace ostrel {

namespace {

constexpr unsigned EthernetType = 0x1;   // ARPHRD_ETHER
constexpr unsigned CompleteFlag = 0x2;   // ATF_COM: the neighbour answered
constexpr std::size_t FieldsPerLine = 6; // address, type, flags, hardware address, mask, device

std::vector<std::string_view> blankSeparated(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string_view::npos)
            break;
        line.remove_prefix(start);
        const std::size_t end = line.find_first_of(" \t");
        fields.push_back(line.substr(0, end));
        line.remove_prefix(end == std::string_view::npos ? line.size() : end);
    }
    return fields;
}

std::optional<unsigned> hexNumber(std::string_view text)
{
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    if (error != std::errc{} || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

KnownStations::NeighbourTable parseNeighbourTable(std::string_view text)
{
    KnownStations::NeighbourTable table;
    takeLine(text); // the header
    while (!text.empty()) {
        const auto fields = blankSeparated(takeLine(text));
        if (fields.size() != FieldsPerLine)
            continue;
        const auto type = hexNumber(fields[1]);
        const auto flags = hexNumber(fields[2]);
        if (!type || !flags || *type != EthernetType || !(*flags & CompleteFlag))
            continue;
        const std::string address(fields[0]);
        if (!socketAddress(address, 0))
            continue;
        if (const auto hardware = parseHardwareAddress(fields[3]))
            table[address] = *hardware;
    }
    return table;
}

KnownStations::NeighbourTable readNeighbourTable(const std::string& path)
{
    std::string text;
    (void)readWholeFile(path, text); // a table cut short by a failing read still names its first neighbours
    return parseNeighbourTable(text);
}

} // namespace ostrel
