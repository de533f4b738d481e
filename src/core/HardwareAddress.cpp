#include "core/HardwareAddress.h"

namespace ostrel {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<HardwareAddress> parseHardwareAddress(std::string_view text)
{
    if (text.size() != 17)
        return std::nullopt;
    HardwareAddress address{};
    for (std::size_t i = 0; i < address.size(); ++i) {
        const int high = hexDigit(text[i * 3]);
        const int low = hexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':'))
            return std::nullopt;
        address[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    if (address == HardwareAddress{})
        return std::nullopt;
    return address;
}

std::string hardwareAddressText(const HardwareAddress& address)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i)
            text += ':';
        text += Digits[address[i] >> 4];
        text += Digits[address[i] & 0xF];
    }
    return text;
}

} // namespace ostrel
