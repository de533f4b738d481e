#include "log/ui/FollowNewestRows.h"

#include <QAbstractItemView>
#include <QScrollBar>

namespace ostrel {

FollowNewestRows::FollowNewestRows(QAbstractItemView& view) : QObject(&view), m_view(view)
{
    QAbstractItemModel* model = view.model();
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, &FollowNewestRows::remember);
    connect(model, &QAbstractItemModel::rowsInserted, this, &FollowNewestRows::follow);
    connect(model, &QAbstractItemModel::modelAboutToBeReset, this, &FollowNewestRows::remember);
    connect(model, &QAbstractItemModel::modelReset, this, &FollowNewestRows::follow);
}

void FollowNewestRows::remember()
{
    const QScrollBar* bar = m_view.verticalScrollBar();
    m_atEnd = bar->value() >= bar->maximum();
}

void FollowNewestRows::follow()
{
    if (!m_atEnd)
        return;
    // The scroll bar's range follows the new rows only at the view's next layout: lay out now.
    m_view.doItemsLayout();
    m_view.scrollToBottom();
}

} // namespace ostrel
