#pragma once

#include <QAbstractTableModel>
#include <QString>

#include <atomic>
#include <span>
#include <string>
#include <vector>

namespace ostrel {

// What the models of the station grid and the history grid share: the table's title row as the
// horizontal headers, cells turned from Windows-1251 into display text, and reload requests from any
// thread coalesced into one call on the model's thread.
class CellTableModel : public QAbstractTableModel
{
public:
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Safe from any thread, also while holding StationTableMutex: posts one runPendingReload() to
    // the model's thread; a burst of requests before it runs posts only once.
    void requestReload();

    static QString cellText(const std::string& cp1251);

protected:
    CellTableModel(int columnCount, QObject* parent);

    virtual void runPendingReload() = 0;

    // A reload calls this before it copies: a change made after that point posts a reload of its own.
    void clearReloadRequest() { m_reloadPosted.store(false); }

    // Takes the table's title row; `notify` tells the views when it changed (not wanted inside a reset).
    void setHeaders(std::span<const std::string> titles, bool notify);

private:
    const int m_columnCount;
    std::vector<QString> m_headers;
    std::atomic<bool> m_reloadPosted{false};
};

} // namespace ostrel
