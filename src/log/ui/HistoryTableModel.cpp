#include "log/ui/HistoryTableModel.h"

#include "core/StationTableMutex.h"
#include "log/HistoryTable.h"

#include <mutex>

namespace ostrel {

HistoryTableModel::HistoryTableModel(const HistoryTable& table, QObject* parent)
    : CellTableModel(HistoryColumnCount, table.versionCounter(), DefaultMinimumIntervalMs, parent), m_table(table)
{
    reload();
}

int HistoryTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant HistoryTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return cellText(m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
}

void HistoryTableModel::reload()
{
    // Cleared before the copy: a change made after this point posts a reload of its own.
    clearReloadRequest();

    // Rows of closed sessions never change once the spare row has grown past them: only the
    // model's last row (the spare row when it was copied) and the rows added since are copied.
    // Copying the whole table would hold StationTableMutex, and every reader waiting on it, a
    // little longer with each session closed since start.
    HistoryRow header;
    std::vector<HistoryRow> fresh; // model rows from `first` on
    std::size_t first = 0;
    bool whole = false;
    {
        std::scoped_lock hold(StationTableMutex);
        if (m_loaded && m_table.version() == m_version)
            return;
        m_version = m_table.version();
        setShownVersion(m_version);
        const int tableRows = m_table.rowCount();
        if (tableRows < 1)
            return; // never: the table always holds its header row
        const auto count = static_cast<std::size_t>(tableRows - 1);
        whole = !m_loaded || count < m_rows.size();
        first = whole || m_rows.empty() ? 0 : m_rows.size() - 1;
        header = m_table.row(0);
        fresh.reserve(count - first);
        for (std::size_t r = first; r < count; ++r)
            fresh.push_back(m_table.row(static_cast<int>(r + 1)));
    }

    if (whole) {
        beginResetModel();
        setHeaders(header, false);
        m_rows = std::move(fresh);
        m_loaded = true;
        endResetModel();
        return;
    }

    setHeaders(header, true);

    const std::size_t kept = m_rows.size();
    for (std::size_t r = first; r < kept; ++r) {
        HistoryRow& now = fresh[r - first];
        if (m_rows[r] == now)
            continue;
        m_rows[r] = std::move(now);
        emit dataChanged(index(static_cast<int>(r), 0), index(static_cast<int>(r), HistoryColumnCount - 1),
                         {Qt::DisplayRole});
    }
    if (first + fresh.size() > kept) {
        beginInsertRows({}, static_cast<int>(kept), static_cast<int>(first + fresh.size()) - 1);
        m_rows.insert(m_rows.end(), std::make_move_iterator(fresh.begin() + static_cast<std::ptrdiff_t>(kept - first)),
                      std::make_move_iterator(fresh.end()));
        endInsertRows();
    }
}

} // namespace ostrel
