#include "core/ui/CellGrid.h"

#include <QApplication>
#include <QEvent>
#include <QHeaderView>
#include <QImage>
#include <QPaintEvent>
#include <QRegion>
#include <QScreen>
#include <QStandardItemModel>
#include <gtest/gtest.h>

#include <functional>

namespace ostrel {
namespace {

class PaintedRegion : public QObject
{
public:
    QRegion region;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

void settle()
{
    for (int round = 0; round < 5; ++round)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Rows come and go as stations do: the grid repaints from the first of them down, or nothing when
// they are all below the rows in sight, and what the window shows is always what a whole repaint
// paints, and what a plain QTableView paints.
TEST(CellGrid, RowsThatComeAndGoRepaintFromTheFirstOfThemDown)
{
    QStandardItemModel model;
    int made = 0;
    const auto row = [&] {
        QList<QStandardItem*> cells;
        for (int c = 0; c < 3; ++c)
            cells.push_back(new QStandardItem(QStringLiteral("r%1c%2").arg(made).arg(c)));
        ++made;
        return cells;
    };
    for (int r = 0; r < 40; ++r)
        model.appendRow(row());

    // The grid, and a plain QTableView beside it over the same rows: what the grid shows must be
    // what the plain view paints whole.
    CellGrid grid;
    QTableView plain;
    for (QTableView* view : {static_cast<QTableView*>(&grid), &plain}) {
        view->setModel(&model);
        view->setWordWrap(false);
        // Fewer rows than fit would otherwise take the bar away, and its width with it: a whole
        // repaint.
        view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view->verticalHeader()->hide(); // as the window's grids: no row numbers, whose width changes
        view->resize(300, 200);
        view->show();
    }
    settle();
    PaintedRegion painted;
    grid.viewport()->installEventFilter(&painted);

    struct Step
    {
        const char* what;
        std::function<void()> change;
        int repaintedFromRow; // -1: nothing; the row's top after the change, or the last row's bottom
    };
    const auto topOf = [&](int r) {
        if (r < model.rowCount())
            return std::max(0, grid.rowViewportPosition(r));
        const int last = model.rowCount() - 1;
        return grid.rowViewportPosition(last) + grid.rowHeight(last);
    };
    const Step steps[] = {
        {"a row arriving below the rows in sight", [&] { model.insertRow(30, row()); }, -1},
        {"a row leaving below them", [&] { model.removeRow(35); }, -1},
        {"a row arriving among them", [&] { model.insertRow(2, row()); }, 2},
        {"two apart, the first among them",
         [&] {
             model.insertRow(3, row());
             model.insertRow(20, row());
         },
         3},
        {"the first row leaving", [&] { model.removeRow(0); }, 0},
        {"a direct layout after an arrival, as a view following its newest row asks",
         [&] {
             model.insertRow(1, row());
             grid.doItemsLayout();
             plain.doItemsLayout();
         },
         1},
        {"scrolled to the end, a row arriving above the rows in sight",
         [&] {
             grid.scrollToBottom();
             plain.scrollToBottom();
             settle();
             painted.region = {};
             model.insertRow(0, row());
         },
         0},
        {"the last rows leaving at the end", [&] { model.removeRows(model.rowCount() - 3, 3); }, 0},
        {"back at the top, all but three rows leaving: from below the third",
         [&] {
             grid.scrollToTop();
             plain.scrollToTop();
             settle();
             painted.region = {};
             model.removeRows(3, model.rowCount() - 3);
         },
         3},
        {"a reset",
         [&] {
             model.clear();
             model.appendRow(row());
         },
         0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        painted.region = {};
        step.change();
        settle();
        if (step.repaintedFromRow < 0) {
            EXPECT_TRUE(painted.region.isEmpty());
        } else {
            ASSERT_FALSE(painted.region.isEmpty());
            EXPECT_EQ(painted.region.boundingRect().top(), topOf(step.repaintedFromRow));
        }
        const QImage shown = grid.screen()->grabWindow(grid.winId()).toImage();
        const QImage whole = plain.grab().toImage();
        EXPECT_EQ(shown.convertToFormat(whole.format()), whole);
        EXPECT_EQ(grid.verticalHeader()->offset(), plain.verticalHeader()->offset());
    }
}

} // namespace
} // namespace ostrel
