#include "core/ui/CellGrid.h"

#include "core/ui/CellDelegate.h"
#include "core/ui/FixedHeightHeader.h"
#include "core/ui/SteadyScrollBar.h"

#include <QHeaderView>
#include <QScrollBar>

#include <algorithm>
#include <utility>

namespace ostrel {

CellGrid::CellGrid(QWidget* parent) : QTableView(parent)
{
    setHorizontalHeader(new FixedHeightHeader(this));
    setVerticalScrollBar(new SteadyScrollBar(Qt::Vertical, this));
    setHorizontalScrollBar(new SteadyScrollBar(Qt::Horizontal, this));
    setItemDelegate(new CellDelegate(this));
}

void CellGrid::setModel(QAbstractItemModel* model)
{
    for (const QMetaObject::Connection& watch : m_watches)
        disconnect(watch);
    m_watches.clear();
    m_movedFrom.reset();
    m_otherChange = true;
    QTableView::setModel(model);
    if (!model)
        return;
    const auto moved = [this](const QModelIndex& parent, int first, int) {
        if (parent.isValid())
            m_otherChange = true;
        m_movedFrom = std::min(m_movedFrom.value_or(first), first);
    };
    const auto other = [this] { m_otherChange = true; };
    m_watches = {
        connect(model, &QAbstractItemModel::rowsInserted, this, moved),
        connect(model, &QAbstractItemModel::rowsRemoved, this, moved),
        connect(model, &QAbstractItemModel::rowsMoved, this, other),
        connect(model, &QAbstractItemModel::columnsInserted, this, other),
        connect(model, &QAbstractItemModel::columnsRemoved, this, other),
        connect(model, &QAbstractItemModel::columnsMoved, this, other),
        connect(model, &QAbstractItemModel::layoutChanged, this, other),
        connect(model, &QAbstractItemModel::modelReset, this, other),
    };
}

void CellGrid::doItemsLayout()
{
    // Called while a layout is still posted (a caller that wants the scroll range now): the posted
    // one runs first, which comes back here, and is then the only one.
    if (!m_inLayout) {
        m_inLayout = true;
        m_laidOut = false;
        executeDelayedItemsLayout();
        m_inLayout = false;
        if (m_laidOut)
            return;
    }
    layOut();
    m_laidOut = true;
}

void CellGrid::layOut()
{
    const std::optional<int> from = std::exchange(m_movedFrom, std::nullopt);
    const bool other = std::exchange(m_otherChange, false);
    if (!from || other || !isVisible() || !model()) {
        QTableView::doItemsLayout();
        return;
    }

    // What QTableView does, less its repaint of the whole grid.
    updateGeometries();
    QHeaderView* rows = verticalHeader();
    const QScrollBar* bar = verticalScrollBar();
    if (verticalScrollMode() == ScrollPerItem) {
        if (bar->maximum() > 0 && bar->value() == bar->maximum())
            rows->setOffsetToLastSection();
        else
            rows->setOffsetToSectionPosition(bar->value());
    } else {
        rows->setOffset(bar->value());
    }
    if (!rows->updatesEnabled())
        rows->setUpdatesEnabled(true);

    // From the first row that came or went down, or below the last row when the rows from there
    // on all went.
    const int count = model()->rowCount(rootIndex());
    int top = 0;
    if (*from < count)
        top = rowViewportPosition(*from);
    else if (count > 0)
        top = rowViewportPosition(count - 1) + rowHeight(count - 1);
    const QRect area = viewport()->rect();
    top = std::max(top, area.top());
    if (top < area.bottom() + 1)
        viewport()->update(QRect(area.left(), top, area.width(), area.bottom() + 1 - top));
}

} // namespace ostrel
