#include "core/ShortString.h"

#include <algorithm>
#include <cstring>

namespace ostrel {

namespace {

// The length byte cannot count beyond 255, whatever the field's size.
std::size_t capacityOf(std::size_t fieldSize)
{
    return fieldSize == 0 ? 0 : std::min<std::size_t>(fieldSize - 1, 255);
}

} // namespace

void writeShortString(std::span<std::uint8_t> field, std::string_view text)
{
    if (field.empty())
        return;
    const std::size_t length = std::min(text.size(), capacityOf(field.size()));
    std::fill(field.begin(), field.end(), std::uint8_t{0});
    field[0] = static_cast<std::uint8_t>(length);
    if (length > 0)
        std::memcpy(field.data() + 1, text.data(), length);
}

std::string readShortString(std::span<const std::uint8_t> field)
{
    if (field.empty())
        return {};
    const std::size_t length = std::min<std::size_t>(field[0], capacityOf(field.size()));
    return std::string(reinterpret_cast<const char*>(field.data() + 1), length);
}

} // namespace ostrel
