#include "core/ui/SteadyScrollBar.h"

#include <QApplication>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace ostrel {
namespace {

class CountingBar : public SteadyScrollBar
{
public:
    using SteadyScrollBar::SteadyScrollBar;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        ++paints;
        SteadyScrollBar::paintEvent(event);
    }
};

// A grid's rows come and go and the view follows its newest row: the bar repaints when its handle
// or an end's look changes, and what it skips would have painted the same pixels.
TEST(SteadyScrollBar, RepaintsOnlyWhatItShowsChanging)
{
    struct Step
    {
        const char* what;
        std::function<void(QScrollBar&)> change;
        bool repaints;
    };
    const Step steps[] = {
        {"nothing at all", [](QScrollBar&) {}, false},
        {"a row more, the handle in place", [](QScrollBar& b) { b.setRange(0, 296); }, false},
        {"a row less", [](QScrollBar& b) { b.setRange(0, 295); }, false},
        {"scrolled to the middle", [](QScrollBar& b) { b.setValue(150); }, true},
        {"many rows more: the handle moves", [](QScrollBar& b) { b.setRange(0, 600); }, true},
        {"to the end", [](QScrollBar& b) { b.setValue(b.maximum()); }, true},
        {"a row more: the end no longer reached", [](QScrollBar& b) { b.setRange(0, 601); }, true},
        {"followed to the end again", [](QScrollBar& b) { b.setValue(601); }, true},
        {"nothing to scroll", [](QScrollBar& b) { b.setRange(0, 0); }, true},
        {"rows again", [](QScrollBar& b) { b.setRange(0, 600); }, true},
        {"one row down from the top: the handle stays, the top is left", [](QScrollBar& b) { b.setValue(1); }, true},
    };
    for (const char* style : {"Fusion", "Windows"}) {
        SCOPED_TRACE(style);
        std::unique_ptr<QStyle> look(QStyleFactory::create(QString::fromLatin1(style)));
        CountingBar bar(Qt::Vertical);
        bar.setStyle(look.get());
        bar.setRange(0, 295);
        bar.setPageStep(10);
        bar.resize(16, 180);
        bar.show();
        // The first exposure's paints come in more than one round.
        for (int round = 0; round < 5; ++round)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            const QImage before = bar.grab().toImage();
            bar.paints = 0;
            step.change(bar);
            QApplication::processEvents();
            EXPECT_EQ(bar.paints > 0, step.repaints);
            if (!step.repaints) {
                EXPECT_EQ(bar.grab().toImage(), before);
            }
        }
    }
}

} // namespace
} // namespace ostrel
