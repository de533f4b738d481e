#pragma once

#include <QHeaderView>
#include <QSize>

namespace ostrel {

// A grid's header row at the height the window gives it. While that height is fixed (minimum and
// maximum the same) the size hint is that height and the sections' length: QHeaderView would
// otherwise measure every title again each time the grid lays out its rows, which under a busy
// hall is several times a second, for a height the grid then clamps to the fixed one anyway.
class FixedHeightHeader : public QHeaderView
{
public:
    explicit FixedHeightHeader(QWidget* parent = nullptr) : QHeaderView(Qt::Horizontal, parent) {}

    QSize sizeHint() const override
    {
        if (minimumHeight() != maximumHeight())
            return QHeaderView::sizeHint();
        return {length(), maximumHeight()};
    }
};

} // namespace ostrel
