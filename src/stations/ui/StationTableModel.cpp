#include "stations/ui/StationTableModel.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"

#include <QBrush>
#include <QColor>
#include <QList>

#include <algorithm>
#include <iterator>
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
    if (fresh.size() != m_rows.size()) {
        takeMovedRows(std::move(fresh));
        return;
    }
    // The same number of rows is told cell by cell, renamed rows too: the selection stays. The
    // display texts are the old row's where the bytes are the same (shared, not copied).
    m_changed.assign(fresh.size(), 0);
    for (std::size_t r = 0; r < fresh.size(); ++r) {
        for (std::size_t c = 0; c < StationColumnCount; ++c) {
            if (m_rows[r][c] == fresh[r][c])
                continue;
            setCellText(m_display[r][c], fresh[r][c]);
            m_changed[r] |= CellMask{1} << c;
        }
    }
    m_rows = std::move(fresh);
    takeOverrunMarks();
    announceChangedCells();
}

void StationTableModel::takeMovedRows(std::vector<StationRow> fresh)
{
    const std::size_t oldCount = m_rows.size();
    const std::size_t newCount = fresh.size();
    m_overrun.resize(oldCount, false);

    // Both copies stand in the table's order, names ascending and the blank row last: walked side
    // by side, each old row is kept or gone and each new row kept or come.
    std::vector<bool> gone(oldCount, false);
    std::vector<bool> came(newCount, false);
    std::size_t runs = 0;
    {
        std::size_t i = 0;
        std::size_t j = 0;
        while (i < oldCount && j < newCount) {
            const std::string& was = m_rows[i][ColComputer];
            const std::string& now = fresh[j][ColComputer];
            if (was == now) {
                ++i;
                ++j;
            } else if (!was.empty() && (now.empty() || was < now)) {
                runs += i == 0 || !gone[i - 1] ? 1 : 0;
                gone[i++] = true;
            } else {
                runs += j == 0 || !came[j - 1] ? 1 : 0;
                came[j++] = true;
            }
        }
        for (; i < oldCount; ++i) {
            runs += i == 0 || !gone[i - 1] ? 1 : 0;
            gone[i] = true;
        }
        for (; j < newCount; ++j) {
            runs += j == 0 || !came[j - 1] ? 1 : 0;
            came[j] = true;
        }
    }

    const auto converted = [&](std::size_t from, std::size_t to) {
        std::vector<DisplayRow> display(to - from);
        for (std::size_t r = from; r < to; ++r) {
            for (std::size_t c = 0; c < StationColumnCount; ++c)
                setCellText(display[r - from][c], fresh[r][c]);
        }
        return display;
    };
    // Each run of rows that came or went moves every row after it; beyond a few dozen (the whole
    // hall back after a power cut) one reset costs the views less than that many moves.
    if (runs > MaxMovesPerReload) {
        beginResetModel();
        m_display = converted(0, newCount);
        m_rows = std::move(fresh);
        m_overrun.assign(newCount, false);
        takeOverrunMarks();
        endResetModel();
        return;
    }

    // What arrived and left since the last reload is told as that many removals and inserts, so
    // the views keep the selection on its stations. Removals from the last run back, so each run's
    // rows are where the views last saw them.
    for (std::size_t end = oldCount; end > 0;) {
        if (!gone[end - 1]) {
            --end;
            continue;
        }
        std::size_t begin = end - 1;
        while (begin > 0 && gone[begin - 1])
            --begin;
        const auto first = static_cast<std::ptrdiff_t>(begin);
        const auto last = static_cast<std::ptrdiff_t>(end);
        beginRemoveRows({}, static_cast<int>(begin), static_cast<int>(end - 1));
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last);
        m_display.erase(m_display.begin() + first, m_display.begin() + last);
        m_overrun.erase(m_overrun.begin() + first, m_overrun.begin() + last);
        endRemoveRows();
        end = begin;
    }
    // Inserts in the new order: before each run the model holds the new rows up to it.
    for (std::size_t begin = 0; begin < newCount;) {
        if (!came[begin]) {
            ++begin;
            continue;
        }
        std::size_t end = begin + 1;
        while (end < newCount && came[end])
            ++end;
        std::vector<DisplayRow> display = converted(begin, end);
        const auto at = static_cast<std::ptrdiff_t>(begin);
        beginInsertRows({}, static_cast<int>(begin), static_cast<int>(end - 1));
        m_rows.insert(m_rows.begin() + at, std::make_move_iterator(fresh.begin() + at),
                      std::make_move_iterator(fresh.begin() + static_cast<std::ptrdiff_t>(end)));
        m_display.insert(m_display.begin() + at, std::make_move_iterator(display.begin()),
                         std::make_move_iterator(display.end()));
        m_overrun.insert(m_overrun.begin() + at, end - begin, false);
        endInsertRows();
        begin = end;
    }

    // Every other row continues an old one: only the cells whose bytes differ are converted.
    m_changed.assign(newCount, 0);
    for (std::size_t r = 0; r < newCount; ++r) {
        if (came[r])
            continue;
        for (std::size_t c = ColComputer + 1; c < StationColumnCount; ++c) {
            if (m_rows[r][c] == fresh[r][c])
                continue;
            m_rows[r][c] = std::move(fresh[r][c]);
            setCellText(m_display[r][c], m_rows[r][c]);
            m_changed[r] |= CellMask{1} << c;
        }
    }
    takeOverrunMarks();
    // An inserted row is told by the insert; its marks came with it.
    for (std::size_t r = 0; r < newCount; ++r) {
        if (came[r])
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
