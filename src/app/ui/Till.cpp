#include "app/ui/Till.h"

#include "app/qt/Server.h"
#include "app/ui/Hall.h"
#include "core/StationTableMutex.h"
#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/AuditTrail.h"
#include "log/CashTexts.h"
#include "log/SessionLog.h"
#include "log/ui/CashBookWindow.h"
#include "report/ui/CashUpDialog.h"
#include "report/ui/TForm3.h"
#include "stations/StationTable.h"
#include "stations/ui/SummaryWindow.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>

#include <filesystem>

namespace ostrel {

namespace {

void bringUp(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

Till::Till(QWidget* window, QMenuBar* menuBar) : QObject(window), m_window(window)
{
    m_menu = menuBar->addMenu(fromUtf8(cash::Menu));
    m_menu->setObjectName(QStringLiteral("TillMenu"));
    m_cashUpAction = m_menu->addAction(fromUtf8(cash::CashUpItem));
    m_bookAction = m_menu->addAction(fromUtf8(cash::BookItem));
    connect(m_cashUpAction, &QAction::triggered, this, &Till::showCashUp);
    connect(m_bookAction, &QAction::triggered, this, &Till::showBook);
    m_sinceTimer = new QTimer(this);
    m_sinceTimer->setInterval(SinceCashUpRefreshMs);
    connect(m_sinceTimer, &QTimer::timeout, this, [this] { refreshSinceCashUp(); });
}

Till::~Till()
{
    m_sinceReader.join();
    delete m_dialog;
    delete m_bookWindow;
}

void Till::attach(Server& server, TForm3* reportWindow, Hall* hall)
{
    m_server = &server;
    m_reportWindow = reportWindow;
    m_hall = hall;
    const std::filesystem::path logPath(server.parts().sessionLog.path());
    m_book = std::make_unique<CashBook>((logPath.parent_path() / CashBook::FileName).string(), currentUserName());
    if (m_hall)
        connect(m_hall, &Hall::summaryShown, this, [this] {
            refreshSinceCashUp(true);
            m_sinceTimer->start();
        });
}

CashUpDialog* Till::dialog()
{
    if (!m_dialog && m_book && m_server) {
        const SessionLog* log = &m_server->parts().sessionLog;
        CashUpDialog::Sources sources;
        sources.logPath = log->path();
        sources.logLength = [log] { return log->stableLength(); };
        sources.book = m_book.get();
        sources.stationRows = [stations = &m_server->stations()] {
            std::scoped_lock hold(StationTableMutex);
            return stations->rows();
        };
        m_dialog = new CashUpDialog(std::move(sources), m_window);
        connect(m_dialog, &CashUpDialog::handedOver, this, [this] {
            if (m_bookWindow && m_bookWindow->isVisible())
                m_bookWindow->refresh();
            refreshSinceCashUp(true);
        });
        if (m_reportWindow) {
            connect(m_dialog, &CashUpDialog::reportRequested, this,
                    [this, path = log->path()](const WorkReportResult& report, double from, double until) {
                        m_reportWindow->clearReport();
                        m_reportWindow->setReport(report, path);
                        m_reportWindow->setShift(from, until);
                        m_reportWindow->exec();
                    });
        } else {
            m_dialog->reportButton()->hide();
        }
    }
    return m_dialog;
}

CashBookWindow* Till::bookWindow()
{
    if (!m_bookWindow && m_book)
        m_bookWindow = new CashBookWindow(m_book->path(), m_window);
    return m_bookWindow;
}

void Till::showCashUp()
{
    if (CashUpDialog* d = dialog())
        d->start();
}

void Till::showBook()
{
    CashBookWindow* window = bookWindow();
    if (!window)
        return;
    window->refresh();
    bringUp(window);
}

void Till::refreshSinceCashUp(bool always)
{
    SummaryWindow* summary = m_hall ? m_hall->existingSummaryWindow() : nullptr;
    if (!summary || !summary->isVisible()) {
        m_sinceTimer->stop();
        return;
    }
    if (m_sinceReading || !m_book || !m_server)
        return;
    const SessionLog* log = &m_server->parts().sessionLog;
    const auto length = log->stableLength();
    if (!always && length == m_sinceLength)
        return; // no session closed since: the figure stands
    m_sinceLength = length;
    m_sinceReading = true;
    m_sinceReader.start(this, "takeSinceCashUp",
                        [path = log->path(), cashPath = m_book->path(), length = log->stableLength()] {
                            return readShift(path, cashPath, nowDayNumber(), length);
                        });
}

void Till::takeSinceCashUp()
{
    const std::optional<ShiftReading> shift = m_sinceReader.take();
    m_sinceReading = false;
    SummaryWindow* summary = m_hall ? m_hall->existingSummaryWindow() : nullptr;
    if (shift && summary)
        summary->setSinceCashUp(shift->usable() ? fromUtf8(formatKopecks(shift->computed)) : QString());
}

} // namespace ostrel
