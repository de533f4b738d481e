#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// Where a view of the work report puts its tab stops so that every field stands under its title.
// The report's lines stay TAB-separated (for copying and printing); a fixed tab distance would
// push every field after a wide one ("08.12.2026 5:57:28") one title to the right.
//
// The columns are those of the lines with as many fields as the first line (the header); other
// lines, such as the totals, lie on the same stops. Each column's texts are kept once per shape:
// digits count as '0', since the report's fonts draw every digit equally wide, so a million
// sessions give a few dozen texts to measure.
class ReportTabStops
{
public:
    explicit ReportTabStops(std::string_view utf8Text);

    std::size_t columnCount() const { return m_shapes.size(); }
    // The distinct shapes of column c, for tests.
    const std::vector<std::string>& shapes(std::size_t c) const { return m_shapes[c]; }

    // The stops from the left edge, one after each column: each lies `gap` past the widest text of
    // its column, counted from the previous stop, so the last one is where the widest line ends
    // (plus the gap). `width` measures a UTF-8 text in the unit of the result.
    std::vector<double> stops(const std::function<double(std::string_view utf8)>& width, double gap) const;

private:
    std::vector<std::vector<std::string>> m_shapes;
};

} // namespace ostrel
