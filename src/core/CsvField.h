#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// One CSV field (RFC 4180): quoted when it holds the separator, a quote, CR or LF, with quotes doubled.
std::string csvField(std::string_view utf8);

// A field whose text came from outside (a station's name, status or comment): as csvField, but a
// text that a spreadsheet would take for a formula ('=', '+', '-', '@', TAB or CR first) gets a
// leading apostrophe, which shows it as text.
std::string csvTextField(std::string_view utf8);

// The fields of one line (without its line end) as csvField writes them; what stops the reading
// goes to `fault` (English, for the maintainer's tool), with the fields read before it returned.
std::vector<std::string> splitCsvLine(std::string_view line, std::optional<std::string>& fault);

} // namespace ostrel
