#include "commands/StationCommand.h"

#include "core/ShortString.h"

#include <bit>
#include <span>

namespace ostrel {

namespace {

constexpr std::size_t SignatureOffset = 0;
constexpr std::size_t SignatureSize = 3;
constexpr std::size_t CodeOffset = 4;
constexpr std::size_t TariffOffset = 8;
constexpr std::size_t TariffFieldSize = 21; // length byte + capacity 20
constexpr std::size_t PriceOffset = 32;
constexpr std::size_t TimeOffset = 40;

constexpr std::uint8_t Signature[SignatureSize] = {0x02, 'H', 'I'};

void putUint32(CommandBytes& bytes, std::size_t offset, std::uint32_t value)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void putDouble(CommandBytes& bytes, std::size_t offset, double value)
{
    const auto bits = std::bit_cast<std::uint64_t>(value);
    for (std::size_t i = 0; i < 8; ++i)
        bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::uint32_t getUint32(const CommandBytes& bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

double getDouble(const CommandBytes& bytes, std::size_t offset)
{
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < 8; ++i)
        bits |= static_cast<std::uint64_t>(bytes[offset + i]) << (8 * i);
    return std::bit_cast<double>(bits);
}

} // namespace

CommandBytes encodeStationCommand(const StationCommand& command)
{
    CommandBytes bytes{};
    for (std::size_t i = 0; i < SignatureSize; ++i)
        bytes[SignatureOffset + i] = Signature[i];
    putUint32(bytes, CodeOffset, static_cast<std::uint32_t>(static_cast<std::int32_t>(command.code)));
    writeShortString(std::span<std::uint8_t>(bytes).subspan(TariffOffset, TariffFieldSize), command.tariff);
    putDouble(bytes, PriceOffset, command.price);
    putDouble(bytes, TimeOffset, command.time);
    return bytes;
}

std::optional<StationCommand> decodeStationCommand(const CommandBytes& bytes)
{
    for (std::size_t i = 0; i < SignatureSize; ++i) {
        if (bytes[SignatureOffset + i] != Signature[i])
            return std::nullopt;
    }
    StationCommand command;
    command.code = static_cast<CommandCode>(static_cast<std::int32_t>(getUint32(bytes, CodeOffset)));
    command.tariff = readShortString(std::span<const std::uint8_t>(bytes).subspan(TariffOffset, TariffFieldSize));
    command.price = getDouble(bytes, PriceOffset);
    command.time = getDouble(bytes, TimeOffset);
    return command;
}

} // namespace ostrel
