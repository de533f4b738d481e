#include "commands/StationCommand.h"

#include "core/LittleEndian.h"
#include "core/ShortString.h"

#include <algorithm>
#include <span>

namespace ostrel {

namespace {

constexpr std::size_t CodeOffset = 4;
constexpr std::size_t TariffOffset = 8;
constexpr std::size_t TariffFieldSize = 21; // length byte + capacity 20
constexpr std::size_t PriceOffset = 32;
constexpr std::size_t TimeOffset = 40;

} // namespace

CommandBytes encodeStationCommand(const StationCommand& command)
{
    CommandBytes bytes{};
    std::ranges::copy(RecordSignature, bytes.begin());
    writeLe(bytes, CodeOffset, static_cast<std::int32_t>(command.code));
    writeShortString(std::span<std::uint8_t>(bytes).subspan(TariffOffset, TariffFieldSize), command.tariff);
    writeLe(bytes, PriceOffset, command.price);
    writeLe(bytes, TimeOffset, command.time);
    return bytes;
}

std::optional<StationCommand> decodeStationCommand(const CommandBytes& bytes)
{
    if (!std::equal(RecordSignature.begin(), RecordSignature.end(), bytes.begin()))
        return std::nullopt;
    StationCommand command;
    command.code = static_cast<CommandCode>(readLe<std::int32_t>(bytes, CodeOffset));
    command.tariff = readShortString(std::span<const std::uint8_t>(bytes).subspan(TariffOffset, TariffFieldSize));
    command.price = readLe<double>(bytes, PriceOffset);
    command.time = readLe<double>(bytes, TimeOffset);
    return command;
}

} // namespace ostrel
