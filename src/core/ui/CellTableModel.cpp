#include "core/ui/CellTableModel.h"

#include "core/Cp1251.h"

#include <QMetaObject>

namespace ostrel {

CellTableModel::CellTableModel(int columnCount, const std::atomic<std::uint64_t>& version, int minimumIntervalMs,
                               QObject* parent)
    : QAbstractTableModel(parent), m_columnCount(columnCount), m_minimumIntervalMs(minimumIntervalMs),
      m_tableVersion(version)
{
    m_deferred.setSingleShot(true);
    connect(&m_deferred, &QTimer::timeout, this, [this] { reload(); });
}

void CellTableModel::clearReloadRequest()
{
    m_reloadPosted.store(false);
    m_deferred.stop();
    m_sinceReload.start();
}

void CellTableModel::runPendingReload()
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

int CellTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_columnCount;
}

QVariant CellTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < 0 || section >= m_columnCount || static_cast<std::size_t>(section) >= m_headers.size())
        return {};
    return m_headers[static_cast<std::size_t>(section)];
}

void CellTableModel::requestReload()
{
    // The caller changed the table before asking: when the version it made is the one shown, a
    // reload since has copied it, and waking the model's thread would find nothing to do.
    if (m_tableVersion.load(std::memory_order_acquire) == m_shownVersion.load(std::memory_order_acquire))
        return;
    // Only the first request after a reload posts; the rest ride on it.
    if (m_reloadPosted.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this, [this] { runPendingReload(); }, Qt::QueuedConnection);
}

QString CellTableModel::cellText(const std::string& cp1251)
{
    return QString::fromStdString(cp1251ToUtf8(cp1251));
}

void CellTableModel::setCellText(QString& target, std::string_view cp1251)
{
    const auto length = static_cast<qsizetype>(cp1251.size());
    if (target.size() == length) {
        qsizetype same = 0;
        while (same < length && target.at(same) == QChar(cp1251ToUtf16(cp1251[static_cast<std::size_t>(same)])))
            ++same;
        if (same == length)
            return;
    }
    // A string the view still holds a copy of is shared: resize() then gives this one storage of
    // its own, and the copy keeps the old text.
    target.resize(length);
    QChar* out = target.data();
    for (qsizetype i = 0; i < length; ++i)
        out[i] = QChar(cp1251ToUtf16(cp1251[static_cast<std::size_t>(i)]));
}

void CellTableModel::setHeaders(std::span<const std::string> titles, bool notify)
{
    std::vector<QString> headers;
    headers.reserve(titles.size());
    for (const std::string& title : titles)
        headers.push_back(cellText(title));
    if (headers == m_headers)
        return;
    m_headers = std::move(headers);
    if (notify)
        emit headerDataChanged(Qt::Horizontal, 0, m_columnCount - 1);
}

} // namespace ostrel
