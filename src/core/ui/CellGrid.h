#pragma once

#include <QMetaObject>
#include <QTableView>

#include <optional>
#include <vector>

namespace ostrel {

// The window's grids: a table view painting through CellDelegate, with a header row of fixed
// height and scroll bars that repaint only when they change. Rows that come or go repaint the grid
// from the first of them down: the rows above keep their places and their pixels, and a station
// arriving below the rows in sight repaints nothing. QTableView repaints the whole grid at each.
class CellGrid : public QTableView
{
public:
    explicit CellGrid(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    void doItemsLayout() override;

private:
    void layOut();

    std::vector<QMetaObject::Connection> m_watches;
    std::optional<int> m_movedFrom; // the first model row that came or went since the last layout
    bool m_otherChange = false;     // a reset, or a move the rows' order alone does not tell
    bool m_inLayout = false;
    bool m_laidOut = false;
};

} // namespace ostrel
