#pragma once

#include "core/StationRow.h"

#include <QAbstractTableModel>

#include <atomic>
#include <cstdint>
#include <vector>

namespace ostrel {

class HistoryTable;

// The history table as the grid shows it: the table's row 0 is the horizontal header, and the
// model's rows are the table's rows 1..rowCount()-1, the empty spare row included. The model
// keeps a copy taken under a short hold of StationTableMutex, so painting never sees half a row.
class HistoryTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit HistoryTableModel(const HistoryTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Safe from any thread, also while holding StationTableMutex: posts one reload to the model's
    // thread; a burst of requests before it runs posts only once.
    void requestReload();

public slots:
    // Main thread: copies the table and tells the views what changed.
    void reload();

private:
    const HistoryTable& m_table;
    HistoryRow m_header;
    std::vector<HistoryRow> m_rows; // the table's rows from 1 on
    std::uint64_t m_version = 0;
    bool m_loaded = false;
    std::atomic<bool> m_reloadPosted{false};
};

} // namespace ostrel
