#include "report/ui/TFormC.h"
#include "report/ui/TNomiPeriod.h"
#include "report/ui/UpDown.h"

#include "core/DateTime.h"
#include "core/Texts.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QFocusEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace ostrel;

namespace {

double day(int d, int m, int y)
{
    return *encodeDate(y, m, d);
}

QString status(double beg, double end)
{
    return QStringLiteral("Выбран интервал с %1 по %2")
        .arg(QString::fromStdString(*formatDate(beg)), QString::fromStdString(*formatDate(end)));
}

// The month's period, then the month after it by the month's up arrow.
void oneMonthOn(TFormC& dialog)
{
    dialog.findChild<QRadioButton*>(QStringLiteral("Vid1"))->click();
    dialog.MonthUP->upButton()->click();
}

QColor base(QLineEdit* e)
{
    return e->palette().color(QPalette::Base);
}

} // namespace

TEST(TFormC, OpensInDayModeWithTheInitialControls)
{
    TFormC dialog(day(1, 3, 2024), day(31, 3, 2024));
    dialog.show();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Выбор периода"));
    EXPECT_EQ(dialog.size(), QSize(445, 185));
    EXPECT_EQ(dialog.StatusS->text(), status(day(1, 3, 2024), day(1, 3, 2024)));
    EXPECT_TRUE(dialog.findChild<QRadioButton*>(QStringLiteral("Vid2"))->isChecked());
    EXPECT_EQ(dialog.DayOne->text(), QStringLiteral("01.03.2024"));
    EXPECT_EQ(dialog.DayB->text(), QStringLiteral("01.03.2024"));
    EXPECT_EQ(dialog.DayE->text(), QStringLiteral("31.03.2024"));
    EXPECT_EQ(dialog.MonthYear->text(), QStringLiteral("Март 2024"));
    EXPECT_EQ(dialog.KvartE->text(), QStringLiteral("1 Квартал 2024"));
    EXPECT_TRUE(dialog.DayOne->isEnabled());
    EXPECT_FALSE(dialog.DayB->isEnabled());
    EXPECT_FALSE(dialog.KvartUp->isEnabled());
    EXPECT_EQ(base(dialog.DayB), dialog.palette().color(QPalette::Button));
    EXPECT_EQ(base(dialog.DayOne), QPalette().color(QPalette::Base));
    EXPECT_EQ(dialog.DayOne->inputMask(), QStringLiteral("00.00.9999;_"));
    EXPECT_TRUE(dialog.BitBtn1->isDefault());
}

TEST(TFormC, ControlsDriveThePeriod)
{
    TFormC dialog(day(10, 1, 2024), day(10, 1, 2024));
    dialog.show();
    dialog.findChild<QRadioButton*>(QStringLiteral("Vid1"))->click(); // Месяц
    EXPECT_EQ(dialog.StatusS->text(), status(day(1, 1, 2024), day(31, 1, 2024)));
    EXPECT_TRUE(dialog.MonthUP->isEnabled());
    EXPECT_EQ(base(dialog.MonthYear), QPalette().color(QPalette::Base));
    EXPECT_FALSE(dialog.DayOne->isEnabled());
    EXPECT_FALSE(dialog.MonthCh->isEnabled());
    dialog.MonthUP->downButton()->click();
    EXPECT_EQ(dialog.MonthYear->text(), QStringLiteral("Декабрь 2023"));
    EXPECT_EQ(dialog.StatusS->text(), status(day(1, 12, 2023), day(31, 12, 2023)));
    dialog.YearCh->click();
    EXPECT_EQ(dialog.StatusS->text(), status(day(1, 1, 2023), day(31, 12, 2023)));

    dialog.findChild<QRadioButton*>(QStringLiteral("Vid0"))->click(); // Квартал
    dialog.KvartUp->upButton()->click();
    EXPECT_EQ(dialog.KvartE->text(), QStringLiteral("2 Квартал 2024"));
    EXPECT_EQ(dialog.StatusS->text(), status(day(1, 1, 2024), day(30, 6, 2024)));
    EXPECT_TRUE(dialog.YearCh->isChecked());
    dialog.DayCh->click();
    EXPECT_FALSE(dialog.YearCh->isChecked());
    EXPECT_EQ(dialog.DateBeg(), day(1, 1, 2000));
}

TEST(TFormC, BadFieldIsReportedAndCalendarPicksFillFields)
{
    TFormC dialog(day(15, 5, 2024), day(20, 5, 2024));
    QStringList messages;
    dialog.setMessenger([&](QWidget*, const QString& text) { messages << text; });
    std::vector<double> seeds;
    std::optional<double> answer = day(2, 5, 2024);
    dialog.setDatePicker([&](double seed, QWidget*) {
        seeds.push_back(seed);
        return answer;
    });
    dialog.show();
    dialog.findChild<QRadioButton*>(QStringLiteral("Vid3"))->click(); // Интервал
    EXPECT_TRUE(dialog.DayB->isEnabled());
    EXPECT_EQ(dialog.StatusS->text(), status(day(15, 5, 2024), day(20, 5, 2024)));

    dialog.DayBSP->click();
    EXPECT_EQ(seeds, std::vector<double>{day(15, 5, 2024)});
    EXPECT_EQ(dialog.DayB->text(), QStringLiteral("02.05.2024"));
    EXPECT_EQ(dialog.StatusS->text(), status(day(2, 5, 2024), day(20, 5, 2024)));

    answer.reset(); // cancelled picker: nothing changes
    dialog.DayESP->click();
    EXPECT_EQ(dialog.DayE->text(), QStringLiteral("20.05.2024"));

    dialog.DayE->clear();
    QTest::keyClicks(dialog.DayE, QStringLiteral("25"));
    dialog.DayESP->click(); // not a date: reported, no picker
    EXPECT_EQ(seeds.size(), 2u);
    ASSERT_EQ(messages.size(), 1);
    dialog.DayE->clear();
    QTest::keyClicks(dialog.DayE, QStringLiteral("15.05.20"));
    dialog.DayESP->click(); // a two-digit year is no date either, not the year 20
    EXPECT_EQ(seeds.size(), 2u);
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[1].startsWith(QStringLiteral("\"15.05.20"))) << messages[1].toStdString();
    dialog.DayCh->click(); // the recomputation stops at the end field
    EXPECT_EQ(messages.size(), 3);
    EXPECT_TRUE(dialog.DayCh->isChecked());
    EXPECT_EQ(dialog.DateBeg(), day(1, 1, 2000));
    EXPECT_EQ(dialog.StatusS->text(), status(day(2, 5, 2024), day(20, 5, 2024)));
    EXPECT_EQ(dialog.DateEnd(), day(20, 5, 2024));
}

// A typed date takes effect when the field is left or OK is pressed; a text that is no date keeps
// the dialog open with the date error.
TEST(TFormC, TypedDatesTakeEffect)
{
    TFormC dialog(day(15, 5, 2024), day(20, 5, 2024));
    QStringList messages;
    dialog.setMessenger([&](QWidget*, const QString& text) { messages << text; });
    dialog.show();
    dialog.findChild<QRadioButton*>(QStringLiteral("Vid3"))->click(); // Интервал

    auto type = [](QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClicks(field, text);
    };
    type(dialog.DayE, QStringLiteral("20112026"));
    EXPECT_EQ(dialog.DayE->text(), QStringLiteral("20.11.2026"));
    EXPECT_EQ(dialog.DateEnd(), day(20, 5, 2024)); // still being edited
    QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(dialog.DayE, &leave);
    EXPECT_EQ(dialog.DateEnd(), day(20, 11, 2026));
    EXPECT_EQ(dialog.StatusS->text(), status(day(15, 5, 2024), day(20, 11, 2026)));

    // Losing the focus to another window is not leaving the field.
    type(dialog.DayB, QStringLiteral("01112026"));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(dialog.DayB, &away);
    EXPECT_EQ(dialog.DateBeg(), day(15, 5, 2024));

    // Enter (through the default button) takes the field being edited, then closes with it.
    QTest::keyClick(dialog.DayB, Qt::Key_Return);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.DateBeg(), day(1, 11, 2026));
    EXPECT_TRUE(messages.isEmpty());

    dialog.setResult(0);
    dialog.show();
    type(dialog.DayE, QStringLiteral("31022026"));
    dialog.BitBtn1->click();
    EXPECT_EQ(messages, QStringList{QStringLiteral("\"31.02.2026\" - неверная дата")});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.DateEnd(), day(20, 11, 2026));
}

TEST(TNomiPeriod, ExecuteKeepsTheChoiceOnlyOnOk)
{
    TNomiPeriod period;
    EXPECT_EQ(period.DateBeg(), 0);

    period.setDialogRunner([](TFormC& dialog) {
        dialog.show();
        EXPECT_EQ(dialog.StatusS->text(), status(todayDayNumber(), todayDayNumber()));
        dialog.BitBtn1->click();
        return dialog.result();
    });
    EXPECT_TRUE(period.Execute());
    EXPECT_EQ(period.DateBeg(), todayDayNumber());
    EXPECT_EQ(period.DateEnd(), todayDayNumber());

    period.setDateBeg(day(1, 3, 2024));
    period.setDateEnd(day(31, 3, 2024));
    period.setDialogRunner([](TFormC& dialog) {
        dialog.show();
        oneMonthOn(dialog);
        dialog.BitBtn2->click();
        return dialog.result();
    });
    EXPECT_FALSE(period.Execute());
    EXPECT_EQ(period.DateBeg(), day(1, 3, 2024));

    period.setDialogRunner([](TFormC& dialog) {
        dialog.show();
        EXPECT_TRUE(dialog.findChild<QRadioButton*>(QStringLiteral("Vid2"))->isChecked()); // a fresh dialog
        EXPECT_EQ(dialog.DayE->text(), QStringLiteral("31.03.2024"));
        oneMonthOn(dialog);
        dialog.BitBtn1->click();
        return dialog.result();
    });
    EXPECT_TRUE(period.Execute());
    EXPECT_EQ(period.DateBeg(), day(1, 4, 2024));
    EXPECT_EQ(period.DateEnd(), day(30, 4, 2024));
}

// Each kind of period shows its whole name inside its box, in the dialog's own fonts, and the box
// leaves the fields beside it free.
TEST(TFormC, EveryKindOfPeriodShowsItsWholeName)
{
    TFormC dialog(day(10, 5, 2024), day(10, 5, 2024));
    dialog.show();
    for (QAbstractButton* kind : dialog.VidItems->buttons()) {
        SCOPED_TRACE(kind->text().toStdString());
        EXPECT_GE(kind->width(), kind->sizeHint().width());
        EXPECT_TRUE(dialog.Vid->contentsRect().contains(kind->geometry()));
    }
    for (const QWidget* beside : {static_cast<QWidget*>(dialog.Label1), static_cast<QWidget*>(dialog.Label2),
                                  static_cast<QWidget*>(dialog.KvartE), static_cast<QWidget*>(dialog.DayOne)})
        EXPECT_LT(dialog.Vid->geometry().right(), beside->geometry().left()) << beside->objectName().toStdString();
}
