#pragma once

#include "report/ui/ReportMessages.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ostrel {

class SessionLog;
class TForm3;
class TNomiPeriod;
struct WorkReportResult;

// The work report run of the main window's menu: period dialog, report over the session log,
// report window.
class WorkReport : public QObject
{
    Q_OBJECT
public:
    // Shows the report window and returns when the operator has closed it; exec() unless replaced.
    using WindowRunner = std::function<void(TForm3& window)>;
    // Builds the report text; buildWorkReport unless replaced.
    using Builder = std::function<WorkReportResult(const std::string& logPath, double dateBeg, double dateEnd,
                                                   std::optional<std::uint64_t> length)>;

    WorkReport(TNomiPeriod& period, const SessionLog& log, TForm3& window, QObject* parent = nullptr);

    void setMessenger(ReportMessenger messenger) { m_messenger = std::move(messenger); }
    void setWindowRunner(WindowRunner runner) { m_runner = std::move(runner); }
    void setBuilder(Builder builder) { m_builder = std::move(builder); }

public slots:
    // The main window's work report menu item: asks for the period, builds the report, shows it.
    void N3Click();

private:
    void outOfMemory();

    TNomiPeriod& m_period;
    const SessionLog& m_log;
    TForm3& m_window;
    ReportMessenger m_messenger;
    WindowRunner m_runner;
    Builder m_builder;
};

} // namespace ostrel
