#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// What the models of the station grid and the history grid share: the table's title row as the
// horizontal headers, cells turned from Windows-1251 into display text, and reload requests from any
// thread coalesced into one call on the model's thread, none at all while the model already shows
// the table's version, and reloads spaced by a minimum interval.
class CellTableModel : public QAbstractTableModel
{
public:
    // Reloads that requests start are spaced by at least this many milliseconds; 0 reloads as
    // soon as the posted request runs. A request within the interval reloads at its end.
    void setMinimumInterval(int milliseconds) { m_minimumIntervalMs = milliseconds; }

    // Copies the table if it changed and tells the views what moved; on the model's thread.
    virtual void reload() = 0;

    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Safe from any thread, also while holding StationTableMutex: posts one runPendingReload() to
    // the model's thread; a burst of requests before it runs posts only once, and a request for
    // the version the model already shows posts nothing.
    void requestReload();

    static QString cellText(const std::string& cp1251);
    // Writes the text into `target`, reusing its storage: no allocation once it has held a text as
    // long, and none when the text is the same.
    static void setCellText(QString& target, std::string_view cp1251);

protected:
    // `version` is the table's change counter, read without StationTableMutex.
    CellTableModel(int columnCount, const std::atomic<std::uint64_t>& version, int minimumIntervalMs, QObject* parent);

    // A reload calls this before it copies: a change made after that point posts a reload of its
    // own, and the interval to the next reload starts.
    void clearReloadRequest();
    // A reload tells this the version it copied, under StationTableMutex.
    void setShownVersion(std::uint64_t version) { m_shownVersion.store(version, std::memory_order_release); }

    // Takes the table's title row; `notify` tells the views when it changed (not wanted inside a reset).
    void setHeaders(std::span<const std::string> titles, bool notify);

private:
    void runPendingReload();

    const int m_columnCount;
    int m_minimumIntervalMs;
    QElapsedTimer m_sinceReload;
    QTimer m_deferred;
    std::vector<QString> m_headers;
    const std::atomic<std::uint64_t>& m_tableVersion;
    std::atomic<std::uint64_t> m_shownVersion{~std::uint64_t{0}};
    std::atomic<bool> m_reloadPosted{false};
};

} // namespace ostrel
