#include "report/ui/TNomiPeriod.h"

#include "core/DateTime.h"
#include "report/ui/TFormC.h"

namespace ostrel {

TNomiPeriod::TNomiPeriod(QObject* parent) : QObject(parent), m_runner([](TFormC& dialog) { return dialog.exec(); }) {}

bool TNomiPeriod::Execute()
{
    double beg = m_dateBeg;
    double end = m_dateEnd;
    if (beg == 0 || end == 0)
        beg = end = todayDayNumber();
    // A fresh dialog every time: each showing starts in Day mode with no box checked.
    TFormC dialog(beg, end, m_dialogParent);
    if (m_runner(dialog) != QDialog::Accepted)
        return false;
    m_dateBeg = dialog.DateBeg();
    m_dateEnd = dialog.DateEnd();
    return true;
}

} // namespace ostrel
