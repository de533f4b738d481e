#include "stations/StationTable.h"

#include <algorithm>

namespace ostrel {

namespace {

// Names sort by unsigned bytes, the first difference deciding and a prefix first; case-sensitive.
bool sortsAfter(std::string_view a, std::string_view b)
{
    // char_traits<char> compares as unsigned char, as memcmp does: byte order, whatever the
    // signedness of char.
    return b < a;
}

StationRow freshRow(std::string_view name, std::string_view address)
{
    StationRow row{};
    row[ColComputer] = name;
    row[ColAddress] = address;
    row[ColStatus] = words::Free;
    return row;
}

} // namespace

const std::string& StationTable::cell(int r, int c) const
{
    return m_rows.at(static_cast<std::size_t>(r)).at(static_cast<std::size_t>(c));
}

void StationTable::setCell(int r, int c, std::string text)
{
    // The header and the trailing blank row are never written through here: a report that lost its
    // row must not land in the blank row.
    // Nor the name: the rows' order, and so every look-up, rests on it.
    if (r < 1 || r > rowCount() - 2 || c <= ColComputer || c >= StationColumnCount)
        return;
    std::string& target = m_rows[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
    if (target == text)
        return;
    target = std::move(text);
    touch();
}

std::optional<int> StationTable::FindStationRow(std::string_view name) const
{
    if (name.empty())
        return std::nullopt;
    // Station rows stand in ascending byte order of their names (AddStationRow keeps it, and names
    // are written nowhere else), so every report finds its row by halving, even among thousands.
    const auto first = m_rows.begin() + 1;
    const auto last = m_rows.end() - 1; // the blank row
    const auto it = std::lower_bound(
        first, last, name, [](const StationRow& row, std::string_view n) { return sortsAfter(n, row[ColComputer]); });
    if (it == last || (*it)[ColComputer] != name)
        return std::nullopt;
    return static_cast<int>(it - m_rows.begin());
}

std::optional<int> StationTable::AddStationRow(std::string_view name, std::string_view address)
{
    if (name.empty())
        return std::nullopt;
    for (int i = 1; i < rowCount(); ++i) {
        StationRow& row = m_rows[static_cast<std::size_t>(i)];
        const std::string& rowName = row[ColComputer];
        if (rowName.empty() || rowName == name) {
            // The blank row becomes a station row and a new blank row follows it; a row of the same
            // name keeps its session cells.
            const bool wasBlank = rowName.empty();
            row[ColComputer] = name;
            row[ColAddress] = address;
            row[ColStatus] = words::Free;
            if (wasBlank)
                m_rows.emplace_back(); // after the writes: it may move the rows
            touch();
            return i;
        }
        if (sortsAfter(rowName, name)) {
            m_rows.insert(m_rows.begin() + i, freshRow(name, address));
            touch();
            return i;
        }
    }
    // Unreachable while the last row is blank; kept so the invariant heals rather than breaks.
    m_rows.push_back(freshRow(name, address));
    m_rows.emplace_back();
    touch();
    return rowCount() - 2;
}

bool StationTable::RemoveStationRow(std::string_view name)
{
    const auto row = FindStationRow(name);
    if (!row)
        return false;
    m_rows.erase(m_rows.begin() + *row);
    touch();
    return true;
}

} // namespace ostrel
