#pragma once

#include "core/StationRow.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace ostrel {

// The shape the station table and the history table share: row 0 holds the column titles (the
// station columns' titles first), the last row is blank, and version() grows on every change so a
// model knows when to copy again. It takes no lock itself: every caller holds StationTableMutex,
// except that the version may be read without it (a model asks whether a reload is owed at all).
template <typename Row> class RowTable
{
public:
    int rowCount() const { return static_cast<int>(m_rows.size()); }
    const Row& row(int r) const { return m_rows.at(static_cast<std::size_t>(r)); }
    std::uint64_t version() const { return m_version.load(std::memory_order_acquire); }
    const std::atomic<std::uint64_t>& versionCounter() const { return m_version; }
    void touch() { m_version.fetch_add(1, std::memory_order_release); }

    std::vector<Row> rows() const { return m_rows; } // a copy, titles and blank row included

protected:
    // Titles and the blank row: rowCount() == 2. Columns past the station's nine are left to `titles`.
    explicit RowTable(Row titles = {})
    {
        for (std::size_t c = 0; c < StationHeaders.size(); ++c)
            titles[c] = StationHeaders[c];
        m_rows = {std::move(titles), Row{}};
    }

    std::vector<Row> m_rows;

private:
    std::atomic<std::uint64_t> m_version{0};
};

} // namespace ostrel
