#include "core/CsvField.h"

#include <algorithm>

namespace ostrel {

std::string csvTextField(std::string_view utf8)
{
    if (utf8.empty() || std::string_view("=+-@\t\r").find(utf8.front()) == std::string_view::npos)
        return csvField(utf8);
    std::string quoted(1, '\'');
    quoted += utf8;
    return csvField(quoted);
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

std::vector<std::string> splitCsvLine(std::string_view line, std::optional<std::string>& fault)
{
    std::vector<std::string> fields;
    std::size_t i = 0;
    for (;;) {
        std::string field;
        if (i < line.size() && line[i] == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) {
                    fault = "a quoted field is not closed";
                    return fields;
                }
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"') {
                        field += '"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            if (i < line.size() && line[i] != ';') {
                fault = "text after a closing quote";
                return fields;
            }
        } else {
            const std::size_t end = std::min(line.find(';', i), line.size());
            field = std::string(line.substr(i, end - i));
            if (field.find('"') != std::string::npos) {
                fault = "a quote inside an unquoted field";
                return fields;
            }
            i = end;
        }
        fields.push_back(std::move(field));
        if (i >= line.size())
            return fields;
        ++i; // the separator
    }
}

} // namespace ostrel
