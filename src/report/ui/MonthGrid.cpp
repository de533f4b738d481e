#include "report/ui/MonthGrid.h"

#include "report/CalendarMonth.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace ostrel {

namespace {

const QString ShortDayNames[7] = {QStringLiteral("Пн"), QStringLiteral("Вт"), QStringLiteral("Ср"),
                                  QStringLiteral("Чт"), QStringLiteral("Пт"), QStringLiteral("Сб"),
                                  QStringLiteral("Вс")};
constexpr int Rows = CalendarMonth::Weeks + 1;

} // namespace

MonthGrid::MonthGrid(CalendarMonth& month, QWidget* parent) : QWidget(parent), m_month(month)
{
    setFocusPolicy(Qt::StrongFocus);
    QFont small = font();
    small.setPixelSize(8);
    setFont(small);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, p.color(QPalette::Button));
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);
}

QRect MonthGrid::cellRect(int row, int column) const
{
    const int left = column * width() / CalendarMonth::WeekDays;
    const int right = (column + 1) * width() / CalendarMonth::WeekDays;
    const int top = row * height() / Rows;
    const int bottom = (row + 1) * height() / Rows;
    return QRect(left, top, right - left, bottom - top);
}

void MonthGrid::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    for (int c = 0; c < CalendarMonth::WeekDays; ++c)
        painter.drawText(cellRect(0, c), Qt::AlignCenter, ShortDayNames[c]);
    for (int w = 0; w < CalendarMonth::Weeks; ++w) {
        for (int c = 0; c < CalendarMonth::WeekDays; ++c) {
            const int day = m_month.cellDay(w, c);
            if (day == 0)
                continue;
            const QRect r = cellRect(w + 1, c);
            const bool selected = w == m_month.selectedWeek() && c == m_month.selectedWeekDay();
            if (selected) {
                painter.fillRect(r, palette().color(QPalette::Highlight));
                painter.setPen(palette().color(QPalette::HighlightedText));
            }
            painter.drawText(r, Qt::AlignCenter, QString::number(day));
            if (selected)
                painter.setPen(palette().color(QPalette::WindowText));
        }
    }
}

void MonthGrid::select(int week, int weekDay)
{
    if (m_month.selectCell(week, weekDay)) {
        update();
        emit changed();
    }
    emit clicked();
}

void MonthGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint p = event->position().toPoint();
    if (!rect().contains(p))
        return;
    const int row = p.y() * Rows / height();
    const int column = p.x() * CalendarMonth::WeekDays / width();
    if (row < 1)
        return;
    select(row - 1, column);
}

void MonthGrid::keyPressEvent(QKeyEvent* event)
{
    int week = m_month.selectedWeek();
    int day = m_month.selectedWeekDay();
    switch (event->key()) {
    case Qt::Key_Left:
        --day;
        break;
    case Qt::Key_Right:
        ++day;
        break;
    case Qt::Key_Up:
        --week;
        break;
    case Qt::Key_Down:
        ++week;
        break;
    case Qt::Key_Home:
        day = 0;
        break;
    case Qt::Key_End:
        day = CalendarMonth::WeekDays - 1;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    // The selection stops at the grid's edges; inside it, a blank target keeps the date.
    if (week < 0 || week >= CalendarMonth::Weeks || day < 0 || day >= CalendarMonth::WeekDays)
        return;
    select(week, day);
}

} // namespace ostrel
