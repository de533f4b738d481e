#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QMenuBar;
class QSystemTrayIcon;
class QTimer;
class QWidget;

namespace ostrel {

class DroppedStationsWindow;
class HallWatch;
class LiveSummary;
class Server;
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

    QMenu* menu() const { return m_menu; }
    QAction* droppedAction() const { return m_droppedAction; }
    QAction* summaryAction() const { return m_summaryAction; }
    HallWatch* watch() const { return m_watch; }

    DroppedStationsWindow* droppedWindow(); // made when first asked for
    SummaryWindow* summaryWindow();

public slots:
    void showDropped();
    void showSummary();

private:
    void collect(); // on the GUI thread: takes what the watch recorded
    void refreshSummary();
    void alert(const QString& text);
    void attachWake(Server& server);
    void connectWake(DroppedStationsWindow* window);

    QWidget* m_window;
    QSystemTrayIcon* m_tray;
    std::function<bool()> m_trayAvailable;
    QMenu* m_menu = nullptr;
    QAction* m_droppedAction = nullptr;
    QAction* m_summaryAction = nullptr;

    StationTable* m_stations = nullptr;
    SessionLog* m_log = nullptr;
    HallWatch* m_watch = nullptr;
    std::unique_ptr<LiveSummary> m_summary;
    std::atomic<bool> m_summaryPosted{false};
    QTimer* m_burstTimer = nullptr;
    QTimer* m_summaryTimer = nullptr;
    DroppedStationsWindow* m_droppedWindow = nullptr;
    SummaryWindow* m_summaryWindow = nullptr;
    Server* m_server = nullptr; // for waking stations
};

} // namespace ostrel
