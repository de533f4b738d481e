#include "stations/ui/StationTableModel.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"

#include <QBrush>
#include <QColor>
#include <QList>

#include <algorithm>
#include <mutex>

namespace ostrel {

namespace {

// The light red of an over-run game's time-left cell: it keeps the black text readable.
const QBrush& overrunBrush()
{
    static const QBrush brush(QColor(0xFF, 0xB0, 0xB0));
    return brush;
}

const QList<int>& changedRoles()
{
    static const QList<int> roles{Qt::DisplayRole, Qt::BackgroundRole};
    return roles;
}

} // namespace

StationTableModel::StationTableModel(const StationTable& table, QObject* parent)
    : CellTableModel(StationColumnCount, table.versionCounter(), DefaultMinimumIntervalMs, parent), m_table(table)
{
    {
        std::scoped_lock hold(StationTableMutex);
        setHeaders(m_table.row(0), false);
    }
    reload();
}

int StationTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_display.size());
}

QVariant StationTableModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    if (role == Qt::BackgroundRole) {
        if (index.column() == ColLeft && overrun(index.row()))
            return overrunBrush();
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    return m_display[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
}

bool StationTableModel::overrun(int modelRow) const
{
    return modelRow >= 0 && modelRow < static_cast<int>(m_overrun.size()) &&
           m_overrun[static_cast<std::size_t>(modelRow)];
}

std::optional<StationRow> StationTableModel::rowSnapshot(int modelRow) const
{
    if (modelRow < 0 || modelRow >= static_cast<int>(m_rows.size()))
        return std::nullopt;
    const StationRow& row = m_rows[static_cast<std::size_t>(modelRow)];
    if (row[ColComputer].empty())
        return std::nullopt;
    return row;
}

void StationTableModel::reload()
{
    // Cleared before copying: a change made after the copy posts a new reload.
    clearReloadRequest();

    std::vector<StationRow> fresh;
    bool steady = false;
    {
        std::scoped_lock hold(StationTableMutex);
        if (m_loaded && m_table.version() == m_version)
            return;
        m_version = m_table.version();
        setShownVersion(m_version);
        steady = m_loaded && takeChangedCells();
        if (!steady) {
            const int count = m_table.rowCount();
            fresh.reserve(static_cast<std::size_t>(std::max(0, count - 1)));
            for (int r = 1; r < count; ++r)
                fresh.push_back(m_table.row(r));
        }
    }
    if (!steady) {
        m_loaded = true;
        takeNewRows(std::move(fresh));
        return;
    }
    takeOverrunMarks();
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const CellMask mask = m_changed[r];
        for (std::size_t c = 0; mask != 0 && c < StationColumnCount; ++c) {
            if (mask & (CellMask{1} << c))
                setCellText(m_display[r][c], m_rows[r][c]);
        }
    }
    announceChangedCells();
}

bool StationTableModel::takeChangedCells()
{
    const int count = m_table.rowCount();
    const std::size_t rows = m_rows.size();
    if (count < 1 || static_cast<std::size_t>(count - 1) != rows)
        return false;
    for (std::size_t r = 0; r < rows; ++r) {
        if (m_table.row(static_cast<int>(r + 1))[ColComputer] != m_rows[r][ColComputer])
            return false;
    }
    m_changed.assign(rows, 0);
    for (std::size_t r = 0; r < rows; ++r) {
        const StationRow& now = m_table.row(static_cast<int>(r + 1));
        StationRow& shown = m_rows[r];
        for (std::size_t c = ColComputer + 1; c < StationColumnCount; ++c) {
            if (shown[c] == now[c])
                continue;
            shown[c] = now[c]; // into the copy's own storage: no allocation for a text no longer than before
            m_changed[r] |= CellMask{1} << c;
        }
    }
    return true;
}

void StationTableModel::takeOverrunMarks()
{
    // The marks are taken after the rows: an observer sets a mark before the change that posts
    // this reload, so the copy is never older than the rows it marks.
    m_overrunNames.clear();
    if (m_overrunSource)
        m_overrunNames = m_overrunSource();
    m_overrun.resize(m_rows.size(), false);
    for (std::size_t r = 0; r < m_rows.size(); ++r) {
        const bool marked = !m_overrunNames.empty() && std::find(m_overrunNames.begin(), m_overrunNames.end(),
                                                                 m_rows[r][ColComputer]) != m_overrunNames.end();
        if (marked == m_overrun[r])
            continue;
        m_overrun[r] = marked;
        m_changed[r] |= CellMask{1} << ColLeft;
    }
}

void StationTableModel::takeNewRows(std::vector<StationRow> fresh)
{
    const std::size_t oldCount = m_rows.size();
    const std::size_t newCount = fresh.size();
    const std::size_t shorter = std::min(oldCount, newCount);

    // Rows are keyed by computer name: find the stretch that differs between the old and new
    // copies, so one station arriving or leaving is told as one insert or removal.
    std::size_t prefix = 0;
    while (prefix < shorter && m_rows[prefix][ColComputer] == fresh[prefix][ColComputer])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < shorter - prefix &&
           m_rows[oldCount - 1 - suffix][ColComputer] == fresh[newCount - 1 - suffix][ColComputer])
        ++suffix;

    enum class Move
    {
        None,
        Insert,
        Remove,
        Reset
    };
    // The same number of rows is told cell by cell, renamed rows too: the selection stays.
    Move move = Move::Reset;
    if (oldCount == newCount)
        move = Move::None;
    else if (newCount > oldCount && oldCount - prefix - suffix == 0)
        move = Move::Insert;
    else if (oldCount > newCount && newCount - prefix - suffix == 0)
        move = Move::Remove;

    // For each new row, the old row it continues, or none for an inserted row.
    std::vector<std::optional<std::size_t>> origin(newCount);
    for (std::size_t r = 0; r < newCount && move != Move::Reset; ++r) {
        if (r < prefix || move == Move::None)
            origin[r] = r;
        else if (move == Move::Insert && r >= prefix + (newCount - oldCount))
            origin[r] = r - (newCount - oldCount);
        else if (move == Move::Remove)
            origin[r] = r + (oldCount - newCount);
    }

    // The display texts: an old row's where the bytes are the same (shared, not copied), the
    // rest converted.
    std::vector<DisplayRow> display(newCount);
    std::vector<bool> overrun(newCount, false);
    m_changed.assign(newCount, 0);
    for (std::size_t r = 0; r < newCount; ++r) {
        for (std::size_t c = 0; c < StationColumnCount; ++c) {
            if (origin[r] && m_rows[*origin[r]][c] == fresh[r][c]) {
                display[r][c] = m_display[*origin[r]][c];
                continue;
            }
            setCellText(display[r][c], fresh[r][c]);
            if (origin[r])
                m_changed[r] |= CellMask{1} << c;
        }
        if (origin[r])
            overrun[r] = *origin[r] < m_overrun.size() && m_overrun[*origin[r]];
    }

    const auto take = [&] {
        m_rows = std::move(fresh);
        m_display = std::move(display);
        m_overrun = std::move(overrun);
    };
    switch (move) {
    case Move::None:
        take();
        break;
    case Move::Insert:
        beginInsertRows({}, static_cast<int>(prefix), static_cast<int>(prefix + newCount - oldCount - 1));
        take();
        endInsertRows();
        break;
    case Move::Remove:
        beginRemoveRows({}, static_cast<int>(prefix), static_cast<int>(prefix + oldCount - newCount - 1));
        take();
        endRemoveRows();
        break;
    case Move::Reset:
        beginResetModel();
        take();
        takeOverrunMarks();
        endResetModel();
        return;
    }
    takeOverrunMarks();
    // An inserted row is told by the insert; its marks came with it.
    for (std::size_t r = 0; r < newCount; ++r) {
        if (!origin[r])
            m_changed[r] = 0;
    }
    announceChangedCells();
}

void StationTableModel::announceChangedCells()
{
    const std::size_t rows = std::min(m_changed.size(), m_rows.size());
    std::size_t r = 0;
    while (r < rows) {
        const CellMask mask = m_changed[r];
        if (mask == 0) {
            ++r;
            continue;
        }
        std::size_t last = r;
        while (last + 1 < rows && m_changed[last + 1] == mask)
            ++last;
        int c = 0;
        while (c < StationColumnCount) {
            if (!(mask & (CellMask{1} << c))) {
                ++c;
                continue;
            }
            int right = c;
            while (right + 1 < StationColumnCount && (mask & (CellMask{1} << (right + 1))))
                ++right;
            emit dataChanged(index(static_cast<int>(r), c), index(static_cast<int>(last), right), changedRoles());
            c = right + 1;
        }
        r = last + 1;
    }
}

} // namespace ostrel
