#pragma once

#include "app/StartupSequence.h"
#include "core/TariffList.h"
#include "log/HistoryTable.h"
#include "net/BroadcastAddress.h"
#include "stations/AlertRules.h"
#include "stations/StationTable.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QModelIndex;
class QSystemTrayIcon;
class QTableView;

namespace ostrel {

class CommandMenu;
class GifAnimator;
class Hall;
class HistoryTableModel;
class ReportProcessor;
class SessionLog;
class StationTableModel;
class TCPServer;
class TForm2;
class TForm3;
class TNomiPeriod;
class UDPServer;
class WorkReport;

// What a test replaces; every empty member means the real thing.
struct MainWindowOptions
{
    QString exeDir;                       // where Ostrel.ini and Ostrel.log live: the executable's folder
    std::function<void()> showIniCorrupt; // the start-up failure's message box
    std::function<bool()> confirmUnload;  // the unload question: true for Yes
    std::function<bool()> trayAvailable;  // whether the desktop shows tray icons
    bool start = true;                    // false: only build the window, start nothing
    TForm2* intervalDialog = nullptr;     // the command menu's game dialog; without it no PMenu is built
    TForm3* reportWindow = nullptr;       // the work report's window; without it N3 does nothing
    std::function<std::vector<HostAddress>()> hostAddresses; // the list `Net` counts
};

// The main window: the station table on top, the history table below, the report menu and the
// tray icon. Creating it starts the server (FormCreate); closing it only hides it, and the server
// is unloaded from the tray.
class TForm1 : public QMainWindow, private StartupSteps
{
    Q_OBJECT

public:
    using Options = MainWindowOptions;

    static const QString Caption; // before start-up appends "(Open)"
    static const QString WebAddress;

    explicit TForm1(Options options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    // Set when start-up took the failure path; the text says why, for the maintainer.
    const std::optional<std::string>& startupFailure() const { return m_startupFailure; }

    // Live state created by start-up, read by the other windows and by tests.
    TariffList Prices{"Prices"};
    TariffList Games{"Games"};
    bool CloseAfterReset = true;
    bool WaitAfterReset = true;
    std::string BroadcastAddress;
    const std::string& sessionLogPath() const { return m_sessionLogPath; }
    TCPServer* tcpServer() const { return m_tcpServer.get(); }
    UDPServer* udpServer() const { return m_udpServer; }
    quint16 listenerPort() const { return m_listenerPort; }

    // The components, under the names the salon's maintainers know them by.
    QFrame* Bevel1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    GifAnimator* RxGIFAnimator1 = nullptr;
    QLabel* Image1 = nullptr;
    QTableView* logGrid = nullptr;
    QTableView* Grid = nullptr;
    QAction* FileMenu = nullptr; // "Файл": no items, no action
    QMenu* ReportsMenu = nullptr;
    QAction* N3 = nullptr;
    QMenu* HallMenu = nullptr; // "Зал": dropped stations, summary
    QSystemTrayIcon* RxTrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Close1 = nullptr;
    CommandMenu* PMenu = nullptr; // built by start-up
    TNomiPeriod* NomiPeriod1 = nullptr;

    // Asked before every close; true lets the window close, which unloads the server.
    bool FormCloseQuery();

public slots:
    void Image1Click();
    void N3Click();
    void Close1Click();
    void RxTrayIcon1DblClick();
    // Shows the window, hidden or minimised, in front of the others.
    void showAndRaise();
    void GridDblClick(const QModelIndex& index);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createComponents();
    void setUpTable(QTableView* view, std::span<const int> widths, int rowHeight);
    void FormCreate();
    void failStartup(const std::string& cause);

    // The start-up steps, in the order runStartupSequence calls them.
    void hideTaskbarEntry() override;
    void appendOpenToCaption() override;
    void setSessionLogPath(const std::string& path) override;
    void createDiscoveryEndpoint() override;
    void setBroadcastAddress(int net) override;
    void setDiscoveryLocalPort(int port) override;
    void setDiscoveryRemotePort(int port) override;
    void setResetFlags(bool closeAfterReset, bool waitAfterReset) override;
    void attachDiscoveryHandler() override;
    void setListenerPort(int port) override;
    void setStationKeepAlive(std::optional<int> seconds) override;
    void setTariffs(TariffList prices, TariffList games) override;
    void setWarnMinutes(int minutes) override;
    void startListening() override;
    void buildCommandMenu() override;
    void writeHeaderRows() override;
    void announce() override;

    Options m_options;
    std::optional<std::string> m_startupFailure;
    std::string m_sessionLogPath;
    quint16 m_listenerPort = 0;

    StationTable m_stations;
    HistoryTable m_history;
    std::unique_ptr<SessionLog> m_sessionLog;
    std::unique_ptr<ReportProcessor> m_processor;
    StationTableModel* m_stationModel = nullptr;
    HistoryTableModel* m_historyModel = nullptr;
    std::unique_ptr<TCPServer> m_tcpServer; // the stations' listener and network thread
    UDPServer* m_udpServer = nullptr;       // the discovery endpoint, the window's UDPServer
    WorkReport* m_workReport = nullptr;
    Hall* m_hall = nullptr;
    int m_warnMinutes = AlertSettings{}.warnMinutes;

public:
    Hall* hall() const { return m_hall; }
};

} // namespace ostrel
