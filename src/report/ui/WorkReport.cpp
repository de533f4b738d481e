#include "report/ui/WorkReport.h"

#include "log/SessionLog.h"
#include "report/WorkReportBuilder.h"
#include "report/ui/TForm3.h"
#include "report/ui/TNomiPeriod.h"

#include <cstring>

namespace ostrel {

WorkReport::WorkReport(TNomiPeriod& period, const SessionLog& log, TForm3& window, QObject* parent)
    : QObject(parent), m_period(period), m_log(log), m_window(window), m_messenger(defaultReportMessenger()),
      m_runner([](TForm3& w) { w.exec(); })
{}

void WorkReport::N3Click()
{
    if (!m_period.Execute())
        return;
    m_window.clearReport();
    // Only the length the last finished append left is read: a session closing meanwhile neither
    // shows half a record nor makes the log look damaged. A missing log is left missing; the
    // report of it is empty.
    const WorkReportResult report =
        buildWorkReport(m_log.path(), m_period.DateBeg(), m_period.DateEnd(), m_log.stableLength());
    if (report.outcome == WorkReportResult::Outcome::OpenFailed) {
        m_messenger(m_window.parentWidget(), QStringLiteral("Не удается открыть файл %1: %2")
                                                 .arg(QString::fromStdString(m_log.path()),
                                                      QString::fromLocal8Bit(std::strerror(report.error))));
        return;
    }
    m_window.setReport(report, m_log.path());
    m_window.setPeriod(m_period.DateBeg(), m_period.DateEnd());
    if (report.damaged())
        m_messenger(m_window.parentWidget(), QStringLiteral("Файл отчета разрушен"));
    m_runner(m_window);
}

} // namespace ostrel
