#include "stations/KnownStationsFile.h"

#include "core/Cp1251.h"
#include "core/DateTime.h"
#include "core/Texts.h"

#include <arpa/inet.h>

#include <algorithm>

namespace ostrel {

namespace {

bool isDottedAddress(const std::string& text)
{
    in_addr ignored{};
    return ::inet_pton(AF_INET, text.c_str(), &ignored) == 1;
}

std::optional<KnownStation> parseLine(std::string_view line)
{
    std::string_view fields[4];
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t tab = line.find('\t');
        if ((tab == std::string_view::npos) != (i == 3))
            return std::nullopt; // too few fields, or too many
        fields[i] = line.substr(0, tab);
        line.remove_prefix(tab == std::string_view::npos ? line.size() : tab + 1);
    }
    if (fields[0].empty() || !isValidUtf8(fields[0]) || hasControlCharacter(fields[0]))
        return std::nullopt;
    KnownStation station;
    station.name = utf8ToCp1251(fields[0]);
    station.address = std::string(fields[1]);
    if (!isDottedAddress(station.address))
        return std::nullopt;
    if (!fields[2].empty()) {
        station.hardware = parseHardwareAddress(fields[2]);
        if (!station.hardware)
            return std::nullopt;
    }
    const auto seen = parseDateAndTime(fields[3]);
    if (!seen)
        return std::nullopt;
    station.lastSeen = *seen;
    return station;
}

} // namespace

bool hasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string formatKnownStations(std::span<const KnownStation> stations)
{
    std::string text;
    for (const KnownStation& s : stations) {
        const auto seen = formatDateAndTime(s.lastSeen);
        if (!seen || s.name.empty() || hasControlCharacter(s.name) || hasControlCharacter(s.address))
            continue; // could not be read back as it was
        text += cp1251ToUtf8(s.name);
        text += '\t';
        text += s.address;
        text += '\t';
        if (s.hardware)
            text += hardwareAddressText(*s.hardware);
        text += '\t';
        text += *seen;
        text += '\n';
    }
    return text;
}

KnownStationsText parseKnownStations(std::string_view text)
{
    KnownStationsText result;
    std::size_t number = 0;
    while (!text.empty()) {
        const std::string_view line = takeLine(text);
        ++number;
        if (line.empty())
            continue;
        if (auto station = parseLine(line))
            result.stations.push_back(std::move(*station));
        else
            result.damagedLines.push_back(number);
    }
    return result;
}

} // namespace ostrel
