#include "stations/ui/StationTableModel.h"

#include "core/StationTableMutex.h"
#include "stations/StationTable.h"

#include <QBrush>
#include <QColor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace ostrel {

namespace {

int screenFrameMs()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double rate = screen ? screen->refreshRate() : 0.0;
    if (!std::isfinite(rate) || rate < 1.0)
        return 16;
    return std::clamp(static_cast<int>(1000.0 / rate), 1, 100);
}

} // namespace

StationTableModel::StationTableModel(const StationTable& table, QObject* parent)
    : CellTableModel(StationColumnCount, parent), m_table(table), m_minimumIntervalMs(screenFrameMs())
{
    m_deferred.setSingleShot(true);
    connect(&m_deferred, &QTimer::timeout, this, &StationTableModel::reload);
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
            return QBrush(QColor(0xFF, 0xB0, 0xB0)); // a light red that keeps the black text readable
        return {};
    }
    if (role != Qt::DisplayRole)
        return {};
    return m_display[static_cast<std::size_t>(index.row())][static_cast<std::size_t>(index.column())];
}

void StationTableModel::runPendingReload()
{
    if (m_minimumIntervalMs > 0 && m_sinceReload.isValid()) {
        const qint64 waited = m_sinceReload.elapsed();
        if (waited < m_minimumIntervalMs) {
            if (!m_deferred.isActive())
                m_deferred.start(static_cast<int>(m_minimumIntervalMs - waited));
            return;
        }
    }
    reload();
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
    m_deferred.stop();
    m_sinceReload.start();

    std::vector<StationRow> fresh;
    {
        std::scoped_lock hold(StationTableMutex);
        if (m_loaded && m_table.version() == m_version)
            return;
        m_version = m_table.version();
        const int count = m_table.rowCount();
        fresh.reserve(static_cast<std::size_t>(std::max(0, count - 1)));
        for (int r = 1; r < count; ++r)
            fresh.push_back(m_table.row(r));
    }
    m_loaded = true;

    // The marks are taken after the rows: an observer sets a mark before the change that posts
    // this reload, so the copy is never older than the rows it marks.
    std::vector<bool> overrunRows(fresh.size(), false);
    if (m_overrunSource) {
        const std::vector<std::string> names = m_overrunSource();
        for (std::size_t r = 0; r < fresh.size(); ++r)
            overrunRows[r] = std::find(names.begin(), names.end(), fresh[r][ColComputer]) != names.end();
    }
    const std::vector<bool> oldOverrun = std::move(m_overrun);
    m_overrun = std::move(overrunRows);

    std::vector<DisplayRow> display(fresh.size());
    for (std::size_t r = 0; r < fresh.size(); ++r) {
        for (std::size_t c = 0; c < StationColumnCount; ++c)
            display[r][c] = cellText(fresh[r][c]);
    }

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

    std::vector<StationRow> old = std::move(m_rows);
    // For each new row, the old row it continues, or none for an inserted row.
    std::vector<std::optional<std::size_t>> origin(newCount);
    const auto takeFresh = [&] {
        m_rows = std::move(fresh);
        m_display = std::move(display);
    };
    if (oldCount == newCount) {
        for (std::size_t r = 0; r < newCount; ++r)
            origin[r] = r;
        takeFresh();
    } else if (oldCount - prefix - suffix == 0) {
        const std::size_t added = newCount - oldCount;
        beginInsertRows({}, static_cast<int>(prefix), static_cast<int>(prefix + added - 1));
        takeFresh();
        endInsertRows();
        for (std::size_t r = 0; r < newCount; ++r) {
            if (r < prefix)
                origin[r] = r;
            else if (r >= prefix + added)
                origin[r] = r - added;
        }
    } else if (newCount - prefix - suffix == 0) {
        const std::size_t removed = oldCount - newCount;
        beginRemoveRows({}, static_cast<int>(prefix), static_cast<int>(prefix + removed - 1));
        takeFresh();
        endRemoveRows();
        for (std::size_t r = 0; r < newCount; ++r)
            origin[r] = r < prefix ? r : r + removed;
    } else {
        beginResetModel();
        takeFresh();
        endResetModel();
        return;
    }

    // One dataChanged per run of consecutive changed rows.
    std::size_t r = 0;
    while (r < newCount) {
        const auto changed = [&](std::size_t i) {
            return origin[i] && (old[*origin[i]] != m_rows[i] ||
                                 (*origin[i] < oldOverrun.size() && oldOverrun[*origin[i]] != m_overrun[i]));
        };
        if (!changed(r)) {
            ++r;
            continue;
        }
        const std::size_t first = r;
        while (r < newCount && changed(r))
            ++r;
        emit dataChanged(index(static_cast<int>(first), 0), index(static_cast<int>(r - 1), StationColumnCount - 1),
                         {Qt::DisplayRole, Qt::BackgroundRole});
    }
}

} // namespace ostrel
