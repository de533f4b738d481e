#include "core/ui/FixedHeightHeader.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTableView>
#include <gtest/gtest.h>

namespace ostrel {
namespace {

class CountingHeader : public FixedHeightHeader
{
public:
    using FixedHeightHeader::FixedHeightHeader;
    mutable int measured = 0;

protected:
    QSize sectionSizeFromContents(int logicalIndex) const override
    {
        ++measured;
        return FixedHeightHeader::sectionSizeFromContents(logicalIndex);
    }
};

// Rows arriving and cells changing, as a busy hall's grid sees them, lay the grid out again each
// time; a header of fixed height must not measure its titles for it, and keeps its height.
TEST(FixedHeightHeader, AFixedHeightIsNotMeasuredAtEveryLayout)
{
    struct Case
    {
        const char* name;
        bool fixed;
        bool measures;
    };
    const Case cases[] = {{"fixed height", true, false}, {"free height", false, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QStandardItemModel model(30, 4);
        QTableView view;
        auto* header = new CountingHeader(&view);
        view.setHorizontalHeader(header);
        view.setModel(&model);
        if (c.fixed)
            header->setFixedHeight(17);
        view.resize(300, 200);
        view.show();
        QApplication::processEvents();
        const int height = header->height();

        header->measured = 0;
        for (int i = 0; i < 5; ++i) {
            model.insertRow(3);
            model.setData(model.index(4, 1), QString::number(i));
            view.doItemsLayout();
        }
        EXPECT_EQ(header->measured > 0, c.measures);
        EXPECT_EQ(header->height(), height);
        if (c.fixed) {
            EXPECT_EQ(header->sizeHint().height(), 17);
        }
    }
}

} // namespace
} // namespace ostrel
