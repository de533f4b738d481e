#include "report/ReportTabStops.h"

#include "core/Texts.h"

#include <algorithm>
#include <unordered_set>

namespace ostrel {

namespace {

// Calls `field` for each TAB-separated field of a line; returns the number of fields.
template <typename Field> std::size_t forEachField(std::string_view line, Field&& field)
{
    std::size_t count = 0;
    for (;;) {
        const std::size_t tab = line.find('\t');
        field(count++, line.substr(0, tab));
        if (tab == std::string_view::npos)
            return count;
        line.remove_prefix(tab + 1);
    }
}

std::size_t fieldCount(std::string_view line)
{
    return static_cast<std::size_t>(std::count(line.begin(), line.end(), '\t')) + 1;
}

} // namespace

ReportTabStops::ReportTabStops(std::string_view text)
{
    if (text.empty())
        return;
    const std::size_t columns = fieldCount(text.substr(0, text.find('\n')));
    std::vector<std::unordered_set<std::string>> seen(columns);
    std::vector<std::string> previous(columns); // neighbouring lines often repeat a column's shape
    m_shapes.resize(columns);
    std::string shape;
    while (!text.empty()) {
        std::string_view line = takeLine(text);
        if (fieldCount(line) != columns)
            continue;
        forEachField(line, [&](std::size_t c, std::string_view field) {
            shape.assign(field);
            std::replace_if(
                shape.begin(), shape.end(), [](char ch) { return ch >= '1' && ch <= '9'; }, '0');
            if (shape == previous[c])
                return;
            previous[c] = shape;
            if (seen[c].insert(shape).second)
                m_shapes[c].push_back(shape);
        });
    }
}

std::vector<double> ReportTabStops::stops(const std::function<double(std::string_view)>& width, double gap) const
{
    std::vector<double> result;
    double position = 0;
    for (std::size_t c = 0; c < m_shapes.size(); ++c) {
        double widest = 0;
        for (const std::string& shape : m_shapes[c])
            widest = std::max(widest, width(shape));
        position += widest + gap;
        result.push_back(position);
    }
    return result;
}

} // namespace ostrel
