#include "commands/ui/TForm2.h"

#include <QButtonGroup>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include <algorithm>

namespace ostrel {

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Интервал в минутах"));
    setFixedSize(242, 66);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral("+"));
    SpeedButton1->setCheckable(true);
    SpeedButton1->setGeometry(8, 8, 23, 22);

    SpeedButton2 = new QToolButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setText(QStringLiteral("-"));
    SpeedButton2->setCheckable(true);
    SpeedButton2->setGeometry(32, 8, 23, 22);

    m_signs = new QButtonGroup(this);
    m_signs->setExclusive(true);
    m_signs->addButton(SpeedButton1);
    m_signs->addButton(SpeedButton2);
    SpeedButton1->setChecked(true);

    interval = new QSpinBox(this);
    interval->setObjectName(QStringLiteral("interval"));
    interval->setRange(0, 1440);
    interval->setSingleStep(10);
    interval->setValue(0);
    interval->setToolTip(QStringLiteral("Введите интервал в минутах"));
    interval->setGeometry(64, 8, 170, 22);
    // Whatever is typed, the value used is a whole number from 0 to 1440.
    interval->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);

    BitBtn1 = new QPushButton(QStringLiteral("Ok"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setToolTip(QStringLiteral("Ввести интервал"));
    BitBtn1->setDefault(true);
    BitBtn1->setAutoDefault(true);
    BitBtn1->setGeometry(40, 36, 80, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

    BitBtn2 = new QPushButton(QStringLiteral("Отменить"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setToolTip(QStringLiteral("Отменить ввод интервала"));
    BitBtn2->setGeometry(128, 36, 80, 25);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

    setTabOrder(interval, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
}

void TForm2::showSign(bool show)
{
    SpeedButton1->setVisible(show);
    SpeedButton2->setVisible(show);
    if (show)
        SpeedButton1->setChecked(true);
}

std::optional<IntervalChoice> TForm2::ask(bool withSign)
{
    showSign(withSign);
    const int result = m_exec ? m_exec(*this) : exec();
    if (result != QDialog::Accepted)
        return std::nullopt;
    return IntervalChoice{intervalMinutes(), sign()};
}

int TForm2::intervalMinutes() const
{
    // The text as it stands, even if still being edited: brought into range, and 0 when it is not
    // a whole number (an emptied field included).
    bool ok = false;
    const int typed = interval->cleanText().toInt(&ok);
    if (!ok)
        return 0;
    return std::clamp(typed, interval->minimum(), interval->maximum());
}

IntervalSign TForm2::sign() const
{
    return SpeedButton2->isChecked() ? IntervalSign::Minus : IntervalSign::Plus;
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    interval->setFocus(Qt::OtherFocusReason);
    interval->selectAll();
}

} // namespace ostrel
