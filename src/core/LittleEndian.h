#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <type_traits>

namespace ostrel {

// The report, the command and the log record all open with the short string "HI".
inline constexpr std::array<std::uint8_t, 3> RecordSignature = {0x02, 0x48, 0x49};

// The records' numbers are little-endian 4- and 8-byte fields (doubles as IEEE 754 bits), assembled
// byte by byte so the layout holds whatever the host's byte order. A field that does not fit in the
// bytes throws std::out_of_range: offsets are constants, so that is a programming error.
template <typename T>
concept LeField = (sizeof(T) == 4 || sizeof(T) == 8) && std::is_trivially_copyable_v<T>;

template <LeField T> T readLe(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        throw std::out_of_range("little-endian field outside the record");
    Bits bits = 0;
    for (std::size_t i = sizeof(T); i-- > 0;)
        bits = static_cast<Bits>(bits << 8) | bytes[offset + i];
    return std::bit_cast<T>(bits);
}

template <LeField T> void writeLe(std::span<std::uint8_t> bytes, std::size_t offset, T value)
{
    using Bits = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        throw std::out_of_range("little-endian field outside the record");
    auto bits = std::bit_cast<Bits>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i, bits >>= 8)
        bytes[offset + i] = static_cast<std::uint8_t>(bits);
}

} // namespace ostrel
