#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// One CSV field (RFC 4180): quoted when it holds the separator, a quote, CR or LF, with quotes doubled.
std::string csvField(std::string_view utf8);

// A field whose text came from outside (a station's name, status or comment): as csvField, but a
// text that a spreadsheet would take for a formula ('=', '+', '-', '@', TAB or CR first) gets a
// leading apostrophe, which shows it as text.
std::string csvTextField(std::string_view utf8);

} // namespace ostrel
