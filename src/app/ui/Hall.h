#pragma once

#include "core/ui/OncePerBurst.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QMenu;
class QMenuBar;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace ostrel {

class ChainWatch;

class CommandMenu;
class AuditWindow;
class DroppedStationsWindow;
class HallWatch;
class LiveSummary;
class Server;
struct DroppedStation;
class SessionLog;
class StationTable;
class SummaryWindow;

// The "Зал" menu and what hangs on it: the dropped stations, the alerts and the day's summary.
// The menu exists from the window's creation; it shows what the server's hall watch records once
// start-up has made it (attach). Windows are made on first use and are non-modal.
class Hall : public QObject
{
    Q_OBJECT

public:
    // `window` parents the windows; the menu is added to `menuBar` after its last menu.
    Hall(QWidget* window, QMenuBar* menuBar, QSystemTrayIcon* tray, std::function<bool()> trayAvailable);
    ~Hall() override;

    void attach(Server& server);

    // Adds the whole room's commands, which go out through the station command menu: power off or
    // reboot the free stations, power off every station after a question.
    void addRoomCommands(CommandMenu& commands);
    QAction* powerOffFreeAction() const { return m_powerOffFreeAction; }
    QAction* rebootFreeAction() const { return m_rebootFreeAction; }
    QAction* powerOffAllAction() const { return m_powerOffAllAction; }

    QMenu* menu() const { return m_menu; }
    QAction* droppedAction() const { return m_droppedAction; }
    QAction* summaryAction() const { return m_summaryAction; }
    HallWatch* watch() const; // null before attach

    // Tells the operator at once: a tray notification, or without a tray a line in the dropped
    // stations' window, which comes up.
    void alert(const QString& text);

    DroppedStationsWindow* droppedWindow(); // made when first asked for
    SummaryWindow* summaryWindow();         // made when first asked for; showSummary() fills it
    SummaryWindow* existingSummaryWindow() const { return m_summaryWindow; } // null until made
    QAction* auditAction() const { return m_auditAction; }
    AuditWindow* auditWindow(); // null before attach

signals:
    void summaryShown(); // the summary window was brought up

public slots:
    void showDropped();
    void showSummary();
    void showAudit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void collect(); // on the GUI thread: takes what the watch recorded
    void refreshSummary();
    std::vector<DroppedStation> droppedEntries() const; // the dropped stations, then the sessions waiting
    void refreshDropped();
    void commandRoom(int tag, bool freeOnly);
    void addAuditItem();
    SessionLog* log() const;
    StationTable* stations() const;
    void connectWake(DroppedStationsWindow* window);
    void watchChain(); // the tray's alert when the chain's database has been away too long

    QWidget* m_window;
    QSystemTrayIcon* m_tray;
    std::function<bool()> m_trayAvailable;
    QMenu* m_menu = nullptr;
    QAction* m_droppedAction = nullptr;
    QAction* m_summaryAction = nullptr;

    Server* m_server = nullptr; // set by attach; it outlives the windows
    std::unique_ptr<LiveSummary> m_summary;
    OncePerBurst m_summaryPost;
    QTimer* m_burstTimer = nullptr;
    QTimer* m_summaryTimer = nullptr;
    QTimer* m_waitTimer = nullptr;
    QTimer* m_droppedTimer = nullptr; // the shown dropped-stations list, at most twice a second
    DroppedStationsWindow* m_droppedWindow = nullptr;
    SummaryWindow* m_summaryWindow = nullptr;

    CommandMenu* m_commands = nullptr;
    QAction* m_powerOffFreeAction = nullptr;
    QAction* m_rebootFreeAction = nullptr;
    QAction* m_powerOffAllAction = nullptr;
    QAction* m_auditAction = nullptr;
    AuditWindow* m_auditWindow = nullptr;
    std::unique_ptr<ChainWatch> m_chainWatch; // with the server's chain link only
};

} // namespace ostrel
