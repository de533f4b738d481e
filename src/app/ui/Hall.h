#pragma once

#include "stations/AlertRules.h"

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
class ReportProcessor;
class SessionLog;
class StationTable;
class StationTableModel;
class SummaryWindow;

// The "Зал" menu and what hangs on it: the dropped stations, the alerts and the day's summary.
// The menu exists from the window's creation; the watching starts once the server's parts exist
// (attach). Windows are made on first use and are non-modal.
class Hall : public QObject
{
    Q_OBJECT

public:
    struct Parts
    {
        StationTable& stations;
        SessionLog& log;
        ReportProcessor& processor;
        StationTableModel* stationModel = nullptr; // draws the over-run marks
        AlertSettings alerts;
    };

    // `window` parents the windows; the menu is added to `menuBar` after its last menu.
    Hall(QWidget* window, QMenuBar* menuBar, QSystemTrayIcon* tray, std::function<bool()> trayAvailable);
    ~Hall() override; // before the parts it was attached to go; no report may be applied during it

    void attach(const Parts& parts);

    QMenu* menu() const { return m_menu; }
    QAction* droppedAction() const { return m_droppedAction; }
    QAction* summaryAction() const { return m_summaryAction; }
    HallWatch* watch() const { return m_watch.get(); }

    DroppedStationsWindow* droppedWindow(); // made when first asked for
    SummaryWindow* summaryWindow();

public slots:
    void showDropped();
    void showSummary();

private:
    void collect(); // on the GUI thread: takes what the watch recorded
    void refreshSummary();
    void alert(const QString& text);

    QWidget* m_window;
    QSystemTrayIcon* m_tray;
    std::function<bool()> m_trayAvailable;
    QMenu* m_menu = nullptr;
    QAction* m_droppedAction = nullptr;
    QAction* m_summaryAction = nullptr;

    StationTable* m_stations = nullptr;
    SessionLog* m_log = nullptr;
    std::unique_ptr<HallWatch> m_watch;
    std::unique_ptr<LiveSummary> m_summary;
    std::atomic<bool> m_collectPosted{false};
    std::atomic<bool> m_summaryPosted{false};
    QTimer* m_burstTimer = nullptr;
    QTimer* m_summaryTimer = nullptr;
    DroppedStationsWindow* m_droppedWindow = nullptr;
    SummaryWindow* m_summaryWindow = nullptr;
};

} // namespace ostrel
