#pragma once

#include <QRect>
#include <QScrollBar>

#include <optional>

namespace ostrel {

// A grid's scroll bar that repaints on a new range or value only when what it shows changes: the
// handle's place and length, and whether either end is reached (the arrows' look). A busy hall
// changes a grid's row count several times a second, and among hundreds of rows a row more or less
// rarely moves the handle by a pixel.
class SteadyScrollBar : public QScrollBar
{
public:
    explicit SteadyScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent* event) override;

private:
    struct Look
    {
        QRect handle;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };
    Look look() const;

    std::optional<Look> m_painted;
};

} // namespace ostrel
