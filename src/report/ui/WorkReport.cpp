#include "report/ui/WorkReport.h"

#include "log/SessionLog.h"
#include "report/WorkReportBuilder.h"
#include "report/ui/TForm3.h"
#include "report/ui/TNomiPeriod.h"

#include <cstring>
#include <new>
#include <stdexcept>

namespace ostrel {

WorkReport::WorkReport(TNomiPeriod& period, const SessionLog& log, TForm3& window, QObject* parent)
    : QObject(parent), m_period(period), m_log(log), m_window(window), m_messenger(defaultReportMessenger()),
      m_runner([](TForm3& w) { w.exec(); }), m_builder(buildWorkReport)
{}

void WorkReport::N3Click()
{
    if (!m_period.Execute())
        return;
    m_window.clearReport();
    // Only the length the last finished append left is read: a session closing meanwhile neither
    // shows half a record nor makes the log look damaged. A missing log is left missing; the
    // report of it is empty.
    bool damaged = false;
    try {
        const WorkReportResult report =
            m_builder(m_log.path(), m_period.DateBeg(), m_period.DateEnd(), m_log.stableLength());
        if (report.outcome == WorkReportResult::Outcome::OpenFailed) {
            m_messenger(m_window.parentWidget(), QStringLiteral("Не удается открыть файл %1: %2")
                                                     .arg(QString::fromStdString(m_log.path()),
                                                          QString::fromLocal8Bit(std::strerror(report.error))));
            return;
        }
        m_window.setReport(report, m_log.path());
        m_window.setPeriod(m_period.DateBeg(), m_period.DateEnd());
        damaged = report.damaged();
    } catch (const std::bad_alloc&) {
        // The sessions of a long period may not fit in memory. The report is given up, what it
        // took is freed, and the server goes on; a shorter period can still be reported.
        outOfMemory();
        return;
    } catch (const std::length_error&) {
        outOfMemory();
        return;
    }
    if (damaged)
        m_messenger(m_window.parentWidget(), QStringLiteral("Файл отчета разрушен"));
    m_runner(m_window);
}

void WorkReport::outOfMemory()
{
    m_window.clearReport();
    m_messenger(m_window.parentWidget(),
                QStringLiteral("Недостаточно памяти для отчета за этот период: выберите период короче."));
}

} // namespace ostrel
