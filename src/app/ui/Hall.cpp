#include "app/ui/Hall.h"

#include "app/qt/Server.h"

#include "chain/ChainShipper.h"
#include "chain/ChainTexts.h"
#include "commands/CommandMenuModel.h"
#include "commands/MenuCommand.h"
#include "commands/StationRows.h"
#include "commands/ui/CommandMenu.h"
#include "core/Cp1251.h"
#include "core/StationTableMutex.h"
#include "core/Texts.h"
#include "core/ui/Utf8Text.h"
#include "log/AuditTexts.h"
#include "log/AuditTrail.h"
#include "log/SessionLog.h"
#include "log/ui/AuditWindow.h"
#include "net/TCPServer.h"
#include "stations/HallTexts.h"
#include "stations/HallWatch.h"
#include "stations/KnownStations.h"
#include "stations/LiveSummary.h"
#include "stations/RunningSessions.h"
#include "stations/StationTable.h"
#include "stations/WakePlan.h"
#include "stations/ui/DroppedStationsWindow.h"
#include "stations/ui/SummaryWindow.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace ostrel {

namespace {

std::string utf8(const std::string& cp1251)
{
    return cp1251ToUtf8(cp1251);
}

QString alertText(const HallAlert& alert)
{
    switch (alert.kind) {
    case HallAlert::Kind::Dropped:
        return fromUtf8(droppedAlertText(utf8(alert.computer), utf8(alert.tariff), utf8(alert.sum)));
    case HallAlert::Kind::PowerCut:
        return fromUtf8(powerCutAlertText(alert.count));
    case HallAlert::Kind::TimeLow:
        return fromUtf8(timeLowAlertText(utf8(alert.computer), utf8(alert.left)));
    }
    return {};
}

constexpr int SummaryRefreshMs = 1000; // the running sums grow by the minute; a second is live enough
// A busy hall drops and takes back stations many times a second: the shown list follows them in
// one go every half second rather than once for each.
constexpr int DroppedRefreshMs = 500;
constexpr int TrayMessageMs = 15000;

void bringUp(QWidget* window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace

Hall::Hall(QWidget* window, QMenuBar* menuBar, QSystemTrayIcon* tray, std::function<bool()> trayAvailable)
    : QObject(window), m_window(window), m_tray(tray), m_trayAvailable(std::move(trayAvailable))
{
    m_menu = menuBar->addMenu(fromUtf8(hall::Menu));
    m_menu->setObjectName(QStringLiteral("HallMenu"));
    m_droppedAction = m_menu->addAction(fromUtf8(hall::DroppedItem));
    m_summaryAction = m_menu->addAction(fromUtf8(hall::SummaryItem));
    connect(m_droppedAction, &QAction::triggered, this, &Hall::showDropped);
    connect(m_summaryAction, &QAction::triggered, this, &Hall::showSummary);

    m_burstTimer = new QTimer(this);
    m_burstTimer->setSingleShot(true);
    connect(m_burstTimer, &QTimer::timeout, this, &Hall::collect);
    m_waitTimer = new QTimer(this);
    m_waitTimer->setInterval(1000); // the waiting sessions' seconds count down
    connect(m_waitTimer, &QTimer::timeout, this, &Hall::refreshDropped);
    m_droppedTimer = new QTimer(this);
    m_droppedTimer->setSingleShot(true);
    m_droppedTimer->setInterval(DroppedRefreshMs);
    connect(m_droppedTimer, &QTimer::timeout, this, &Hall::refreshDropped);
    m_summaryTimer = new QTimer(this);
    m_summaryTimer->setInterval(SummaryRefreshMs);
    connect(m_summaryTimer, &QTimer::timeout, this, &Hall::refreshSummary);
    addAuditItem();
}

HallWatch* Hall::watch() const
{
    return m_server ? &m_server->parts().hallWatch : nullptr;
}

SessionLog* Hall::log() const
{
    return m_server ? &m_server->parts().sessionLog : nullptr;
}

StationTable* Hall::stations() const
{
    return m_server ? &m_server->stations() : nullptr;
}

Hall::~Hall()
{
    // The summary's reader and the log's observer list go first, while the log still exists.
    m_summary.reset();
    delete m_droppedWindow;
    delete m_summaryWindow;
    delete m_auditWindow;
}

void Hall::attach(Server& server)
{
    m_server = &server;
    if (const RunningSessions* running = server.parts().runningSessions; running && running->fromBefore() > 0)
        alert(fromUtf8(returnAlertText(running->fromBefore())));
    connect(&server, &Server::hallChanged, this, &Hall::collect);
    if (server.parts().chain) {
        m_chainWatch = std::make_unique<ChainWatch>();
        auto* timer = new QTimer(this);
        timer->setInterval(10'000);
        connect(timer, &QTimer::timeout, this, &Hall::watchChain);
        timer->start();
    }
    connect(&server, &Server::wakeSent, this,
            [this](std::size_t sent, const std::vector<std::string>& unknown, const std::vector<std::string>& failed) {
                std::vector<std::string> unknownUtf8;
                std::vector<std::string> failedUtf8;
                for (const auto& name : unknown)
                    unknownUtf8.push_back(utf8(name));
                for (const auto& name : failed)
                    failedUtf8.push_back(utf8(name));
                droppedWindow()->showNote(fromUtf8(wakeResultText(sent, unknownUtf8, failedUtf8)));
            });
}

std::vector<DroppedStation> Hall::droppedEntries() const
{
    std::vector<DroppedStation> entries = watch() ? watch()->dropped() : std::vector<DroppedStation>{};
    // The sessions of the previous run still waiting for their station, with the time until they
    // are logged "Reset" where a game shows its time left.
    if (const RunningSessions* running = m_server ? m_server->parts().runningSessions : nullptr) {
        for (const auto& [session, seconds] : running->waiting()) {
            const StationRow& row = session.row;
            entries.push_back({row[ColComputer], row[ColAddress], session.lastReport, row[ColStatus], row[ColPrice],
                               row[ColSum], utf8ToCp1251(awaitingReturnText(seconds))});
        }
    }
    return entries;
}

bool Hall::eventFilter(QObject* watched, QEvent* event)
{
    // The windows are kept up to date only while shown: each is filled as it comes up.
    if (event->type() == QEvent::Show) {
        if (watched == m_droppedWindow)
            refreshDropped();
        else if (watched == m_summaryWindow)
            refreshSummary();
    }
    return QObject::eventFilter(watched, event);
}

void Hall::refreshDropped()
{
    if (!m_droppedWindow)
        return;
    if (!m_droppedWindow->isVisible()) {
        m_waitTimer->stop(); // started again when the window is shown
        return;
    }
    const auto entries = droppedEntries();
    m_droppedWindow->setEntries(entries);
    const RunningSessions* running = m_server ? m_server->parts().runningSessions : nullptr;
    if (running && !running->waiting().empty())
        m_waitTimer->start();
    else
        m_waitTimer->stop();
}

void Hall::connectWake(DroppedStationsWindow* window)
{
    // Plans from copies in memory; the packets go out on the network thread.
    const auto known = [this] { return m_server->parts().knownStations.snapshot(); };
    connect(window, &DroppedStationsWindow::wakeRequested, this, [this, known](const DroppedStation& station) {
        if (m_server)
            m_server->wake(planWake(known(), std::span(&station, 1)));
    });
    connect(window, &DroppedStationsWindow::wakeAllRequested, this, [this, known] {
        if (!m_server)
            return;
        const TCPServer& network = m_server->parts().tcpServer;
        auto plan =
            planWakeAll(known(), [&network](const std::string& address) { return network.hasConnection(address); });
        if (plan.send.empty() && plan.unknown.empty()) {
            m_droppedWindow->showNote(fromUtf8(wake::NothingToWake));
            return;
        }
        m_server->wake(std::move(plan));
    });
}

void Hall::collect()
{
    if (!watch())
        return;
    const auto alerts = watch()->takeAlerts();
    if (!alerts.empty()) {
        QStringList texts;
        for (const HallAlert& a : alerts)
            texts << alertText(a);
        alert(texts.join(QLatin1Char('\n')));
    }
    if (const auto closes = watch()->burstClosesAt()) {
        const double ms = (*closes - watch()->now()) * 86'400'000.0;
        const int wait = std::isfinite(ms) ? static_cast<int>(std::clamp(ms, 0.0, 60'000.0)) + 20 : 20;
        m_burstTimer->start(wait);
    }
    if (m_droppedWindow && m_droppedWindow->isVisible() && !m_droppedTimer->isActive())
        m_droppedTimer->start();
}

void Hall::watchChain()
{
    if (m_server && m_server->parts().chain && m_chainWatch) {
        if (const auto text = m_chainWatch->takeAlert(m_server->parts().chain->status()))
            alert(fromUtf8(*text));
    }
}

void Hall::alert(const QString& text)
{
    if (m_tray && m_trayAvailable && m_trayAvailable() && QSystemTrayIcon::supportsMessages()) {
        m_tray->showMessage(fromUtf8(hall::Menu), text, QSystemTrayIcon::Warning, TrayMessageMs);
        return;
    }
    droppedWindow()->showAlert(text);
}

DroppedStationsWindow* Hall::droppedWindow()
{
    if (!m_droppedWindow) {
        m_droppedWindow = new DroppedStationsWindow(m_window);
        m_droppedWindow->installEventFilter(this);
        connect(m_droppedWindow, &DroppedStationsWindow::removeRequested, this, [this](const std::string& computer) {
            if (watch()) {
                watch()->removeDropped(computer);
                refreshDropped();
            }
        });
        connect(m_droppedWindow, &DroppedStationsWindow::removeAllRequested, this, [this] {
            if (watch()) {
                watch()->clearDropped();
                refreshDropped();
            }
        });
        refreshDropped();
        connectWake(m_droppedWindow);
    }
    return m_droppedWindow;
}

SummaryWindow* Hall::summaryWindow()
{
    if (!m_summaryWindow) {
        m_summaryWindow = new SummaryWindow(m_window);
        m_summaryWindow->installEventFilter(this);
        if (log() && !m_summary) {
            m_summary = std::make_unique<LiveSummary>(*log());
            m_summary->setWake([this] { m_summaryPost.post(this, [this] { refreshSummary(); }); });
            m_summary->start();
        }
    }
    return m_summaryWindow;
}

void Hall::showDropped()
{
    DroppedStationsWindow* window = droppedWindow();
    refreshDropped();
    bringUp(window);
}

void Hall::showSummary()
{
    SummaryWindow* window = summaryWindow();
    refreshSummary();
    bringUp(window);
    m_summaryTimer->start();
    emit summaryShown();
}

void Hall::addAuditItem()
{
    m_auditAction = m_menu->addAction(fromUtf8(audit::MenuItem));
    connect(m_auditAction, &QAction::triggered, this, &Hall::showAudit);
}

AuditWindow* Hall::auditWindow()
{
    if (!m_auditWindow && m_server)
        m_auditWindow = new AuditWindow(m_server->parts().auditTrail.path(), m_window);
    return m_auditWindow;
}

void Hall::showAudit()
{
    AuditWindow* window = auditWindow();
    if (!window)
        return;
    window->refresh(); // read again each time: commands went out since
    bringUp(window);
}

void Hall::refreshSummary()
{
    if (!m_summaryWindow)
        return;
    if (!m_summaryWindow->isVisible()) {
        m_summaryTimer->stop(); // started again when the window is shown
        return;
    }
    std::vector<StationRow> rows;
    if (stations()) {
        std::scoped_lock hold(StationTableMutex);
        rows = stations()->rows();
    }
    if (const ChainShipper* chain = m_server ? m_server->parts().chain : nullptr)
        m_summaryWindow->setChainLine(fromUtf8(ChainWatch::summaryLine(chain->status())));
    if (!m_summary) {
        m_summaryWindow->setFigures(DaySummary(0).figures(rows));
        return;
    }
    m_summaryWindow->setFigures(m_summary->figures(rows));
    const auto loaded = m_summary->loaded();
    if (!loaded)
        m_summaryWindow->setNote(fromUtf8(hall::LogReading));
    else if (*loaded == LogScanStatus::Complete || *loaded == LogScanStatus::Missing)
        m_summaryWindow->setNote({});
    else
        m_summaryWindow->setNote(fromUtf8(hall::LogUnread));
}

void Hall::addRoomCommands(CommandMenu& commands)
{
    m_commands = &commands;
    m_menu->addSeparator();
    m_powerOffFreeAction = m_menu->addAction(fromUtf8(fleet::PowerOffFree));
    m_rebootFreeAction = m_menu->addAction(fromUtf8(fleet::RebootFree));
    m_powerOffAllAction = m_menu->addAction(fromUtf8(fleet::PowerOffAll));
    connect(m_powerOffFreeAction, &QAction::triggered, this, [this] { commandRoom(tags::PowerOff, true); });
    connect(m_rebootFreeAction, &QAction::triggered, this, [this] { commandRoom(tags::Reboot, true); });
    connect(m_powerOffAllAction, &QAction::triggered, this, [this] { commandRoom(tags::PowerOff, false); });
}

void Hall::commandRoom(int tag, bool freeOnly)
{
    if (!m_commands || !stations())
        return;
    const RoomCommand command = roomCommand(StationRows::of(*stations()), tag, freeOnly);
    if (command.targets.empty()) {
        m_commands->warn(fromUtf8(freeOnly ? fleet::NoFreeStations : fleet::NoStations));
        return;
    }
    // A whole room is asked about every time, once, with how many stations it reaches.
    m_commands->sendToStations(tag, command.targets, fromUtf8(command.question));
}

} // namespace ostrel
