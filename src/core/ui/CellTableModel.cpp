#include "core/ui/CellTableModel.h"

#include "core/Cp1251.h"

#include <QMetaObject>

namespace ostrel {

CellTableModel::CellTableModel(int columnCount, QObject* parent)
    : QAbstractTableModel(parent), m_columnCount(columnCount)
{}

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
