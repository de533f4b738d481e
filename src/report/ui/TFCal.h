#pragma once

#include "report/CalendarMonth.h"

#include <QDialog>

class QLabel;
class QMenu;
class QToolBar;
class QToolButton;

namespace ostrel {

class MonthGrid;

// TFCal, the calendar picker: a month grid with year and month buttons and a date menu. A click on the
// grid or a keyboard move in it closes the picker with OK; the close icon closes it with Cancel.
class TFCal : public QDialog
{
    Q_OBJECT
public:
    explicit TFCal(QWidget* parent = nullptr);

    CalendarMonth& calendar() { return m_calendar; }
    double date() const { return m_calendar.dayNumber(); }
    void setDate(double dayNumber);

    // Shows a picker seeded with `seed` modally; the picked date, or nullopt when cancelled.
    static std::optional<double> pick(double seed, QWidget* parent);

    QToolBar* ToolBar1;
    QToolButton* ToolButton1;  // previous year
    QToolButton* ToolButton3;  // previous month
    QToolButton* ToolButton6;  // opens the date menu
    QToolButton* ToolButton9;  // next month
    QToolButton* ToolButton10; // next year
    QMenu* PopupMenu1;         // the date menu: today, first and last of the month and of the year
    QLabel* Panel1;            // the month and year shown
    MonthGrid* Calendar1;

public slots:
    void Calendar1Change();
    void Calendar1Click();
    void ToolButton1Click();
    void ToolButton3Click();
    void ToolButton9Click();
    void ToolButton10Click();
    // The date menu's items in order: today, first and last of the month, first and last of the year.
    void N1Click();
    void N3Click();
    void N4Click();
    void N6Click();
    void N7Click();

private:
    // Runs a change of the grid's date and raises the change event when the date moved.
    template <typename F> void change(F&& f);

    CalendarMonth m_calendar;
};

} // namespace ostrel
