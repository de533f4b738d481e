#include "core/ui/SteadyScrollBar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace ostrel {

SteadyScrollBar::SteadyScrollBar(Qt::Orientation orientation, QWidget* parent) : QScrollBar(orientation, parent) {}

SteadyScrollBar::Look SteadyScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this),
            option.sliderValue <= option.minimum, option.sliderValue >= option.maximum};
}

void SteadyScrollBar::sliderChange(SliderChange change)
{
    const bool moved = change == SliderRangeChange || change == SliderValueChange;
    if (moved && m_painted && *m_painted == look())
        return;
    QScrollBar::sliderChange(change);
}

void SteadyScrollBar::paintEvent(QPaintEvent* event)
{
    m_painted = look();
    QScrollBar::paintEvent(event);
}

} // namespace ostrel
