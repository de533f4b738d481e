#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ostrel {

// A short string is one length byte followed by a fixed capacity of single-byte characters.
// `field` spans the whole field: 1 + capacity bytes.

// Writes the text cut to the capacity, and zero-fills the bytes after it.
void writeShortString(std::span<std::uint8_t> field, std::string_view text);

// Reads the text; a length byte above the capacity is taken as the capacity, so a damaged or
// hostile field never reads past its end.
std::string readShortString(std::span<const std::uint8_t> field);

} // namespace ostrel
