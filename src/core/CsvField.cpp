#include "core/CsvField.h"

namespace ostrel {

std::string csvTextField(std::string_view utf8)
{
    if (!utf8.empty() && std::string_view("=+-@\t\r").find(utf8.front()) != std::string_view::npos)
        return csvField("'" + std::string(utf8));
    return csvField(utf8);
}

std::string csvField(std::string_view utf8)
{
    if (utf8.find_first_of(";\"\r\n") == std::string_view::npos)
        return std::string(utf8);
    std::string quoted = "\"";
    for (const char c : utf8) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    quoted += '"';
    return quoted;
}

} // namespace ostrel
