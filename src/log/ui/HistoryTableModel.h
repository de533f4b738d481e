#pragma once

#include "core/StationRow.h"
#include "core/ui/CellTableModel.h"

#include <cstdint>
#include <vector>

namespace ostrel {

class HistoryTable;

// The history table as the grid shows it: the table's row 0 is the horizontal header, and the
// model's rows are the table's rows 1..rowCount()-1, the empty spare row included. The model
// keeps a copy taken under a short hold of StationTableMutex, so painting never sees half a row.
class HistoryTableModel : public CellTableModel
{
    Q_OBJECT

public:
    explicit HistoryTableModel(const HistoryTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // A busy hall closes several sessions a second: the grid takes them in a few times a second
    // rather than each alone, every one scrolling the view to the newest row.
    static constexpr int DefaultMinimumIntervalMs = 250;

public slots:
    void reload() override;

private:
    const HistoryTable& m_table;
    std::vector<HistoryRow> m_rows; // the table's rows from 1 on
    std::uint64_t m_version = 0;
    bool m_loaded = false;
};

} // namespace ostrel
