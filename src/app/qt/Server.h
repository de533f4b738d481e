#pragma once

#include "app/StartupSequence.h"
#include "core/TariffList.h"
#include "core/Texts.h"
#include "core/ui/OncePerBurst.h"
#include "log/HistoryTable.h"
#include "net/BroadcastAddress.h"
#include "stations/AlertRules.h"
#include "stations/KnownStations.h"
#include "stations/StationTable.h"
#include "stations/WakePlan.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel {

class AuditTrail;
class AuditedTransport;
class ShutdownNotes;
class ChainShipper;
class CommandAuditTrail;
class CommandTransport;
class HallWatch;
class HistoryTableModel;
class ReportProcessor;
class RunningSessions;
class SessionLog;
class StationTableModel;
class TCPServer;
class UDPServer;

// The window's own steps of start-up, which Server::start runs at their places in the order.
class StartupWindow
{
public:
    virtual ~StartupWindow() = default;

    virtual void hideTaskbarEntry() = 0;
    virtual void appendOpenToCaption() = 0;
    virtual void buildCommandMenu() = 0; // also the work report and the hall, which need the running server
};

// What a test replaces; every empty member means the real thing.
struct ServerOptions
{
    QString exeDir{}; // where Ostrel.ini and Ostrel.log live: the executable's folder
    // The start-up failure's message, with what the operator can mend (UTF-8, naming the key) or
    // nothing more; nothing is shown when empty.
    std::function<void(const std::string& detail)> showIniCorrupt{};
    std::function<std::vector<HostAddress>()> hostAddresses{}; // the list `Net` counts
    std::uint16_t wakePort = 9;                                // where the wake-up packet goes
};

// The server without its windows: the configuration's values, the tariff lists, the station and
// history tables with their models, the session log, report processing with the hall's watch, the
// network thread and discovery. main() builds it before the windows and it outlives them; start-up
// fills it in.
class Server : public QObject, private StartupSteps
{
    Q_OBJECT

public:
    using Options = ServerOptions;

    explicit Server(Options options = {});
    ~Server() override; // calls stop()

    // Stops the network thread, then the name look-ups, and drains the session log: every
    // session and command logged so far, a command still queued for a station and told
    // NotDelivered now included, is durable when this returns. Runs on the application's
    // aboutToQuit, before any window goes, so no late answer meets a window being destroyed.
    // Later calls do nothing.
    void stop();

    // Runs start-up, the window's steps in their places. False after the failure path: the cause
    // is written to stderr and kept, and the one message is shown.
    bool start(StartupWindow& window);
    // Set when start-up took the failure path; the text says why, for the maintainer.
    const std::optional<std::string>& startupFailure() const { return m_startupFailure; }

    const TariffList& prices() const { return m_prices; }
    const TariffList& games() const { return m_games; }
    bool closeAfterReset() const { return m_closeAfterReset; }
    bool waitAfterReset() const { return m_waitAfterReset; }
    const std::string& broadcastAddress() const { return m_broadcastAddress; }
    const std::string& sessionLogPath() const { return m_sessionLogPath; }
    std::uint16_t listenerPort() const { return m_listenerPort; }
    int warnMinutes() const { return m_warnMinutes; }

    StationTable& stations() { return m_stations; }
    const QString& exeDir() const { return m_options.exeDir; } // the executable's folder, unless a test chose one
    StationTableModel& stationModel() { return *m_stationModel; }
    HistoryTableModel& historyModel() { return *m_historyModel; }
    SessionLog* sessionLog() const { return m_sessionLog.get(); } // made by start-up
    TCPServer& tcpServer() const { return *m_tcpServer; }
    UDPServer* udpServer() const { return m_udpServer.get(); }    // made by start-up
    HallWatch* hallWatch() const { return m_hallWatch.get(); }    // made by start-up
    AuditTrail* auditTrail() const { return m_auditTrail.get(); } // made by start-up, beside the log
    // How commands reach the stations: the network thread's, each recorded in the audit trail.
    CommandTransport& commandTransport() const; // made by start-up

    // The running sessions' keeper, made by start-up unless [Server] ReturnSeconds is 0.
    RunningSessions* runningSessions() const { return m_runningSessions.get(); }

    // The copy into the chain's database, made by start-up when [Chain] sets one; else nullptr.
    ChainShipper* chain() const { return m_chain.get(); }

    // The stations file's keeper, made by start-up.
    KnownStations* knownStations() const { return m_knownStations.get(); }
    // What the session log, the audit trail and the stations file could not write yet.
    WriteFaultCounts writeFaults() const;

    // Sends each planned station's wake-up packet to the broadcast address of `Net`'s interface, on
    // the network thread; wakeSent answers later on this thread.
    void wake(WakePlan plan);

signals:
    // writeFaults() may have changed; queued to the GUI thread, once a burst.
    void writeFaultsChanged();
    // What the hall shows changed (a drop, an alert, an over-run); queued to the GUI thread, once a burst.
    void hallChanged();
    // How many packets went out; the stations without a hardware address and those whose packet
    // could not be sent, by name (Windows-1251).
    void wakeSent(std::size_t sent, const std::vector<std::string>& unknown, const std::vector<std::string>& failed);

private:
    void failStartup(const std::string& cause, const std::string& shownDetail = {});
    void startChain(const std::string& exeDir); // throws ChainConfigError for a bad [Chain]

    // The start-up steps, in the order runStartupSequence calls them.
    void hideTaskbarEntry() override { m_window->hideTaskbarEntry(); }
    void appendOpenToCaption() override { m_window->appendOpenToCaption(); }
    void setSessionLogPath(const std::string& path) override;
    void createDiscoveryEndpoint() override;
    void setBroadcastAddress(int net) override;
    void setDiscoveryLocalPort(int port) override;
    void setDiscoveryRemotePort(int port) override;
    void setResetFlags(bool closeAfterReset, bool waitAfterReset) override
    {
        m_closeAfterReset = closeAfterReset;
        m_waitAfterReset = waitAfterReset;
    }
    void attachDiscoveryHandler() override;
    void setListenerPort(int port) override { m_listenerPort = static_cast<std::uint16_t>(port); }
    void setStationKeepAlive(std::optional<int> seconds) override;
    void setTariffs(TariffList prices, TariffList games) override
    {
        m_prices = std::move(prices);
        m_games = std::move(games);
    }
    void setWarnMinutes(int minutes) override { m_warnMinutes = minutes; }
    void setSessionReturn(int returnSeconds, int resumeMinutes) override
    {
        m_returnSeconds = returnSeconds;
        m_resumeMinutes = resumeMinutes;
    }
    void startListening() override;
    void buildCommandMenu() override { m_window->buildCommandMenu(); }
    void writeHeaderRows() override;
    void announce() override;

    Options m_options;
    StartupWindow* m_window = nullptr; // during start() only
    std::optional<std::string> m_startupFailure;
    std::string m_sessionLogPath;
    std::uint16_t m_listenerPort = 0;
    TariffList m_prices{"Prices"};
    TariffList m_games{"Games"};
    bool m_closeAfterReset = true;
    bool m_waitAfterReset = true;
    std::string m_broadcastAddress;
    std::string m_wakeAddress; // the broadcast address of `Net`'s interface, by its netmask
    int m_warnMinutes = AlertSettings{}.warnMinutes;
    int m_returnSeconds = 0;
    int m_resumeMinutes = 0;
    OncePerBurst m_hallChangePost;
    OncePerBurst m_faultsPost;
    bool m_stopped = false;

    // Declared in the order they are needed, so they go in reverse: the discovery endpoint and the
    // network thread stop before the processor, the models and the tables they use.
    StationTable m_stations;
    HistoryTable m_history;
    std::unique_ptr<SessionLog> m_sessionLog;
    std::unique_ptr<AuditTrail> m_auditTrail; // synced by the log's thread
    std::unique_ptr<CommandAuditTrail> m_commandAudit;
    std::unique_ptr<ShutdownNotes> m_shutdownNotes;
    std::unique_ptr<AuditedTransport>
        m_auditedTransport; // the operator's; told of results until the network thread stops
    std::unique_ptr<AuditedTransport> m_resumptionTransport; // the server's own, for resumption
    std::unique_ptr<StationTableModel> m_stationModel;
    std::unique_ptr<HistoryTableModel> m_historyModel;
    std::unique_ptr<HallWatch> m_hallWatch;             // an observer of the processor, which cannot drop it
    std::unique_ptr<RunningSessions> m_runningSessions; // told by the processor, so it outlives it
    std::unique_ptr<ReportProcessor> m_processor;
    std::unique_ptr<TCPServer> m_tcpServer; // the stations' listener and network thread
    std::unique_ptr<UDPServer> m_udpServer; // the discovery endpoint
    // Shared with the network thread's note of each connecting station, which may outlive this member.
    std::shared_ptr<KnownStations> m_knownStations;
    // Reads the log and the station table: stopped first, and goes before them.
    std::unique_ptr<ChainShipper> m_chain;
};

} // namespace ostrel
