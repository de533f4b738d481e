#pragma once

#include "core/Texts.h"

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

// Every line of a whole CSV file the server appends to, checked: the first must be `header`
// (without its line end), each later one passes `checkLine`, and a last line without its line end
// is damaged (an append cut short). `Line` has `number` (from 1), `text` and `check` with an
// optional `fault`.
template <class Line, class CheckLine>
std::vector<Line> checkCsvFileLines(std::string_view content, std::string_view header, CheckLine checkLine)
{
    std::vector<Line> lines;
    while (!content.empty()) {
        const bool ended = content.find('\n') != std::string_view::npos;
        const std::string_view text = takeLine(content);
        Line line;
        line.number = lines.size() + 1;
        line.text = std::string(text);
        if (line.number == 1) {
            if (text != header)
                line.check.fault = "not the header line";
        } else {
            line.check = checkLine(text);
        }
        if (!ended)
            line.check.fault = "no line end: an append was cut short";
        lines.push_back(std::move(line));
    }
    return lines;
}

} // namespace ostrel
