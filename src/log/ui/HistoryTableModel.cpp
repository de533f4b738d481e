#include "log/ui/HistoryTableModel.h"

#include "core/Cp1251.h"
#include "core/StationTableMutex.h"
#include "log/HistoryTable.h"

#include <QMetaObject>

#include <mutex>

namespace ostrel {

namespace {

QString cellText(const std::string& bytes)
{
    return QString::fromStdString(cp1251ToUtf8(bytes));
}

} // namespace

HistoryTableModel::HistoryTableModel(const HistoryTable& table, QObject* parent)
    : QAbstractTableModel(parent), m_table(table)
{
    reload();
}

int HistoryTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int HistoryTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : HistoryColumnCount;
}

QVariant HistoryTableModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    return cellText(m_rows[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())]);
}

QVariant HistoryTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < HistoryColumnCount ? cellText(m_header[static_cast<std::size_t>(section)])
                                                            : QVariant();
    return section + 1;
}

void HistoryTableModel::requestReload()
{
    if (m_reloadPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(this, &HistoryTableModel::reload, Qt::QueuedConnection);
}

void HistoryTableModel::reload()
{
    // Cleared before the copy: a change made after this point posts a reload of its own.
    m_reloadPosted = false;

    std::vector<HistoryRow> all;
    {
        std::scoped_lock hold(StationTableMutex);
        if (m_loaded && m_table.version() == m_version)
            return;
        m_version = m_table.version();
        all = m_table.rows();
    }
    if (all.empty())
        return; // never: the table always holds its header row
    HistoryRow header = std::move(all.front());
    std::vector<HistoryRow> rows(std::make_move_iterator(all.begin() + 1), std::make_move_iterator(all.end()));

    if (!m_loaded || rows.size() < m_rows.size()) {
        beginResetModel();
        m_header = std::move(header);
        m_rows = std::move(rows);
        m_loaded = true;
        endResetModel();
        return;
    }

    if (header != m_header) {
        m_header = std::move(header);
        emit headerDataChanged(Qt::Horizontal, 0, HistoryColumnCount - 1);
    }

    const std::size_t kept = m_rows.size();
    for (std::size_t r = 0; r < kept; ++r) {
        if (m_rows[r] == rows[r])
            continue;
        m_rows[r] = rows[r];
        emit dataChanged(index(static_cast<int>(r), 0), index(static_cast<int>(r), HistoryColumnCount - 1),
                         {Qt::DisplayRole});
    }
    if (rows.size() > kept) {
        beginInsertRows({}, static_cast<int>(kept), static_cast<int>(rows.size()) - 1);
        m_rows.insert(m_rows.end(), std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(kept)),
                      std::make_move_iterator(rows.end()));
        endInsertRows();
    }
}

} // namespace ostrel
