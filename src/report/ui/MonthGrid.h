#pragma once

#include <QWidget>

namespace ostrel {

class CalendarMonth;

// The month grid of the calendar picker: a header row of weekday names over six weeks starting on
// Monday. It shows a CalendarMonth and moves its selection; blank cells never take the selection.
class MonthGrid : public QWidget
{
    Q_OBJECT
public:
    MonthGrid(CalendarMonth& month, QWidget* parent = nullptr);

    // The rectangle of a cell; row 0 is the header, rows 1..6 the weeks.
    QRect cellRect(int row, int column) const;

signals:
    // A click below the header row (on release) or a move of the selection by keyboard, after the
    // selection has moved (or stayed, on a blank cell). `changed` is raised before it when the day moved.
    void clicked();
    void changed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void select(int week, int weekDay);

    CalendarMonth& m_month;
};

} // namespace ostrel
