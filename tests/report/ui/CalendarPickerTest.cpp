#include "report/ui/MonthGrid.h"
#include "report/ui/TFCal.h"

#include "core/DateTime.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

double day(int d, int m, int y)
{
    return *encodeDate(y, m, d);
}

} // namespace

TEST(TFCal, WindowAndControls)
{
    TFCal cal;
    EXPECT_EQ(cal.windowTitle(), QStringLiteral("Календарь"));
    EXPECT_EQ(cal.size(), QSize(157, 157));
    EXPECT_EQ(cal.pos(), QPoint(433, 187));
    EXPECT_TRUE(cal.windowFlags() & Qt::Tool);
    QStringList captions;
    for (QAction* a : cal.PopupMenu1->actions())
        if (!a->isSeparator())
            captions << a->text();
    EXPECT_EQ(captions, (QStringList{QStringLiteral("Текущая дата"), QStringLiteral("Начало месяца"),
                                     QStringLiteral("Конец месяца"), QStringLiteral("Начало года"),
                                     QStringLiteral("Конец года")}));
    EXPECT_EQ(cal.ToolButton6->menu(), cal.PopupMenu1);
    EXPECT_EQ(cal.date(), todayDayNumber());
}

TEST(TFCal, ToolButtonsAndMenuMoveTheDateAndKeepThePickerOpen)
{
    TFCal cal;
    cal.setDate(day(31, 5, 2024));
    cal.show();
    EXPECT_EQ(cal.Panel1->text(), QStringLiteral("Май 2024"));
    QTest::mouseClick(cal.ToolButton3, Qt::LeftButton);
    EXPECT_EQ(cal.date(), day(30, 4, 2024));
    EXPECT_EQ(cal.Panel1->text(), QStringLiteral("Апрель 2024"));
    QTest::mouseClick(cal.ToolButton10, Qt::LeftButton);
    QTest::mouseClick(cal.ToolButton9, Qt::LeftButton);
    EXPECT_EQ(cal.date(), day(30, 5, 2025));
    QTest::mouseClick(cal.ToolButton1, Qt::LeftButton);
    EXPECT_EQ(cal.date(), day(30, 5, 2024));
    cal.findChild<QAction*>(QStringLiteral("N7"))->trigger();
    EXPECT_EQ(cal.date(), day(31, 12, 2024));
    EXPECT_EQ(cal.Panel1->text(), QStringLiteral("Декабрь 2024"));
    cal.findChild<QAction*>(QStringLiteral("N1"))->trigger();
    EXPECT_EQ(cal.date(), todayDayNumber());
    EXPECT_TRUE(cal.isVisible());
    EXPECT_EQ(cal.result(), QDialog::Rejected);
}

TEST(TFCal, GridClicksAndKeysConfirm)
{
    struct Case
    {
        const char* name;
        std::function<void(TFCal&)> act;
        double expected;
        int result;
    };
    const double seed = day(10, 5, 2024); // May 2024 starts on a Wednesday
    const Case cases[] = {
        {"right arrow", [](TFCal& c) { QTest::keyClick(c.Calendar1, Qt::Key_Right); }, day(11, 5, 2024),
         QDialog::Accepted},
        {"up arrow", [](TFCal& c) { QTest::keyClick(c.Calendar1, Qt::Key_Up); }, day(3, 5, 2024), QDialog::Accepted},
        {"click on a day",
         [](TFCal& c) { QTest::mouseClick(c.Calendar1, Qt::LeftButton, {}, c.Calendar1->cellRect(3, 0).center()); },
         day(13, 5, 2024), QDialog::Accepted},
        {"click on a blank cell",
         [](TFCal& c) { QTest::mouseClick(c.Calendar1, Qt::LeftButton, {}, c.Calendar1->cellRect(1, 0).center()); },
         seed, QDialog::Accepted},
        {"click on the header",
         [](TFCal& c) { QTest::mouseClick(c.Calendar1, Qt::LeftButton, {}, c.Calendar1->cellRect(0, 3).center()); },
         seed, QDialog::Rejected},
        {"close icon after moving",
         [](TFCal& c) {
             c.ToolButton9Click();
             c.close();
         },
         day(10, 6, 2024), QDialog::Rejected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TFCal cal;
        cal.setDate(seed);
        int result = -1;
        QTimer::singleShot(0, &cal, [&] {
            c.act(cal);
            if (cal.isVisible()) // nothing closed it: answer as the close icon would
                cal.reject();
        });
        result = cal.exec();
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(cal.date(), c.expected);
    }
}

TEST(TFCal, PickReturnsNothingWhenCancelled)
{
    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* cal = qobject_cast<TFCal*>(w); cal && cal->isVisible())
                QTest::keyClick(cal->Calendar1, Qt::Key_Left);
    });
    EXPECT_EQ(TFCal::pick(day(10, 5, 2024), nullptr), day(9, 5, 2024));

    QTimer::singleShot(0, [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* cal = qobject_cast<TFCal*>(w); cal && cal->isVisible())
                cal->reject();
    });
    EXPECT_EQ(TFCal::pick(day(10, 5, 2024), nullptr), std::nullopt);
}
