#include "commands/ui/TForm2.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <functional>

namespace ostrel {
namespace {

// Runs the real modal loop, with `answer` called from inside it once the dialog shows.
TForm2::Exec answeredBy(std::function<void(TForm2&)> answer)
{
    return [answer](TForm2& dialog) {
        QTimer::singleShot(0, &dialog, [&dialog, answer] { answer(dialog); });
        QTimer::singleShot(5000, &dialog, &QDialog::reject); // never hang a test on a modal loop
        return dialog.exec();
    };
}

void pressKey(QWidget* target, int key)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
}

void typeInto(QSpinBox* spin, const QString& text)
{
    spin->findChild<QLineEdit*>()->setText(text);
}

TEST(TForm2, LooksAsTheOperatorKnowsIt)
{
    TForm2 dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Интервал в минутах"));
    EXPECT_EQ(dialog.size(), QSize(242, 66));
    EXPECT_EQ(dialog.SpeedButton1->text(), QStringLiteral("+"));
    EXPECT_EQ(dialog.SpeedButton2->text(), QStringLiteral("-"));
    EXPECT_TRUE(dialog.SpeedButton1->isChecked());
    EXPECT_FALSE(dialog.SpeedButton2->isChecked());
    EXPECT_EQ(dialog.interval->minimum(), 0);
    EXPECT_EQ(dialog.interval->maximum(), 1440);
    EXPECT_EQ(dialog.interval->singleStep(), 10);
    EXPECT_EQ(dialog.interval->value(), 0);
    EXPECT_EQ(dialog.interval->toolTip(), QStringLiteral("Введите интервал в минутах"));
    EXPECT_EQ(dialog.BitBtn1->text(), QStringLiteral("Ok"));
    EXPECT_TRUE(dialog.BitBtn1->isDefault());
    EXPECT_EQ(dialog.BitBtn1->toolTip(), QStringLiteral("Ввести интервал"));
    EXPECT_EQ(dialog.BitBtn2->text(), QStringLiteral("Отменить"));
    EXPECT_EQ(dialog.BitBtn2->toolTip(), QStringLiteral("Отменить ввод интервала"));

    dialog.SpeedButton2->click();
    EXPECT_FALSE(dialog.SpeedButton1->isChecked()); // one group: exactly one is down
    EXPECT_TRUE(dialog.SpeedButton2->isChecked());
}

TEST(TForm2, AnswersAndKeepsTheLastValue)
{
    TForm2 dialog;
    bool focused = false;
    dialog.setExec(answeredBy([&focused](TForm2& d) {
        focused = d.focusWidget() == d.interval; // the window need not be active offscreen
        d.interval->setValue(90);
        d.SpeedButton2->click();
        d.BitBtn1->click();
    }));
    auto choice = dialog.ask(true);
    EXPECT_TRUE(focused);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->minutes, 90);
    EXPECT_EQ(choice->sign, IntervalSign::Minus);

    // Opened again with the sign shown: "+" is down again, the field still says 90; Enter accepts.
    int shownValue = -1;
    dialog.setExec(answeredBy([&shownValue](TForm2& d) {
        shownValue = d.interval->value();
        pressKey(d.interval, Qt::Key_Return);
    }));
    choice = dialog.ask(true);
    EXPECT_EQ(shownValue, 90);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->minutes, 90);
    EXPECT_EQ(choice->sign, IntervalSign::Plus);

    dialog.setExec(answeredBy([](TForm2& d) { pressKey(d.interval, Qt::Key_Escape); }));
    EXPECT_FALSE(dialog.ask(true));
    dialog.setExec(answeredBy([](TForm2& d) { d.BitBtn2->click(); }));
    EXPECT_FALSE(dialog.ask(false));
}

TEST(TForm2, HidesTheSignWhenThereIsNoSessionToChange)
{
    TForm2 dialog;
    dialog.SpeedButton2->click();
    dialog.showSign(false);
    EXPECT_TRUE(dialog.SpeedButton1->isHidden());
    EXPECT_TRUE(dialog.SpeedButton2->isHidden());
    EXPECT_TRUE(dialog.SpeedButton2->isChecked()); // left as it was
    dialog.showSign(true);
    EXPECT_FALSE(dialog.SpeedButton1->isHidden());
    EXPECT_FALSE(dialog.SpeedButton2->isHidden());
    EXPECT_TRUE(dialog.SpeedButton1->isChecked());
}

TEST(TForm2, TypedTextBecomesAWholeNumberInRange)
{
    TForm2 dialog;
    const std::pair<QString, int> cases[] = {{"45", 45}, {"2000", 1440}, {"", 0}, {"abc", 0}, {"-5", 0}};
    for (const auto& [text, minutes] : cases) {
        typeInto(dialog.interval, text);
        EXPECT_EQ(dialog.intervalMinutes(), minutes) << text.toStdString();
    }
}

} // namespace
} // namespace ostrel
