#pragma once

#include "report/ui/ReportMessages.h"

#include <QObject>

#include <functional>

namespace ostrel {

class SessionLog;
class TForm3;
class TNomiPeriod;

// The work report run of the main window's menu: period dialog, report over the session log,
// report window.
class WorkReport : public QObject
{
    Q_OBJECT
public:
    // Shows the report window and returns when the operator has closed it; exec() unless replaced.
    using WindowRunner = std::function<void(TForm3& window)>;

    WorkReport(TNomiPeriod& period, const SessionLog& log, TForm3& window, QObject* parent = nullptr);

    void setMessenger(ReportMessenger messenger) { m_messenger = std::move(messenger); }
    void setWindowRunner(WindowRunner runner) { m_runner = std::move(runner); }

public slots:
    void N3Click();

private:
    TNomiPeriod& m_period;
    const SessionLog& m_log;
    TForm3& m_window;
    ReportMessenger m_messenger;
    WindowRunner m_runner;
};

} // namespace ostrel
