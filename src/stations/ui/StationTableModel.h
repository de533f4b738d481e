#pragma once

#include "core/StationRow.h"
#include "core/ui/CellTableModel.h"

#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

class StationTable;

// The grid `Grid` shows the station table through this model: model row m is table row m + 1, so
// the stations and the trailing blank row are shown, and the table's header row gives the
// horizontal headers. The model paints from its own copy, taken under a short hold of
// StationTableMutex; it never holds the mutex otherwise. A reload compares the table's bytes with
// the copy, converts only the cells that differ and tells the views those cells alone.
class StationTableModel : public CellTableModel
{
    Q_OBJECT

public:
    explicit StationTableModel(const StationTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Reloads are spaced by at least this many milliseconds; 0 reloads as soon as the posted
    // request runs. The time cells change once a second, so a tenth of a second shows every change
    // and keeps an arriving or leaving station within a tenth of a second of the table.
    static constexpr int DefaultMinimumIntervalMs = 100;
    // Runs of rows that came or went one reload tells as moves; more are told as one reset.
    static constexpr std::size_t MaxMovesPerReload = 32;

    // The computer names whose time-left cell is drawn highlighted (a game that ran over); asked
    // at every reload, so the marks change together with the rows' texts. The texts stay as they are.
    void setOverrunSource(std::function<std::vector<std::string>()> source) { m_overrunSource = std::move(source); }
    bool overrun(int modelRow) const;

    static int tableRow(int modelRow) { return modelRow + 1; }
    static int modelRow(int tableRow) { return tableRow - 1; }

    // The cells the view shows in model row `modelRow`: the model's own copy from the last reload,
    // which may be a frame behind the table. nullopt for the blank row or a row the model does not
    // have. A caller that acts on the station finds it in the table by name and address.
    std::optional<StationRow> rowSnapshot(int modelRow) const;

public slots:
    void reload() override;

private:
    using DisplayRow = std::array<QString, StationColumnCount>;
    using CellMask = std::uint16_t; // bit c: column c of the row changed

    // Rows that continue rows of the last copy, in the same places: the table's bytes compared
    // with the copy's and only what differs copied. False when a station came or went.
    bool takeChangedCells();
    // Whole rows after a station came or went, or was renamed: what continues an old row keeps its
    // display text where the bytes are the same.
    void takeNewRows(std::vector<StationRow> fresh);
    // The stations that came and went told as removals and inserts, or as a reset beyond
    // MaxMovesPerReload runs of them.
    void takeMovedRows(std::vector<StationRow> fresh);
    void takeOverrunMarks();
    // One dataChanged per rectangle of changed cells: a run of columns over a run of rows that
    // changed in exactly those columns.
    void announceChangedCells();

    const StationTable& m_table;
    std::vector<StationRow> m_rows; // table rows 1..rowCount()-1, Windows-1251
    std::vector<DisplayRow> m_display;
    std::vector<bool> m_overrun;     // per model row
    std::vector<CellMask> m_changed; // per model row, filled by a reload; kept for its storage
    std::vector<std::string> m_overrunNames;
    std::function<std::vector<std::string>()> m_overrunSource;
    std::uint64_t m_version = 0;
    bool m_loaded = false;
};

} // namespace ostrel
