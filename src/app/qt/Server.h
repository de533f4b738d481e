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

// What start-up read from Ostrel.ini, in the order it reads it; the parts are built from it.
struct ServerRunSettings
{
    std::string sessionLogPath;
    std::string broadcastAddress; // where the discovery announcement goes
    std::string wakeAddress;      // the broadcast address of `Net`'s interface, by its netmask
    std::uint16_t discoveryLocalPort = 0;
    std::uint16_t discoveryRemotePort = 0;
    bool closeAfterReset = true;
    bool waitAfterReset = true;
    std::uint16_t listenerPort = 0; // once listening: the port the stations' listener has
    std::optional<int> keepAliveSeconds;
    TariffList prices{"Prices"};
    TariffList games{"Games"};
    int warnMinutes = AlertSettings{}.warnMinutes;
    int returnSeconds = 0;
    int resumeMinutes = 0;
};

// The parts a successful start-up built, each there until the server goes; the windows built on
// the running server take what they show from here.
struct ServerParts
{
    SessionLog& sessionLog;
    AuditTrail& auditTrail; // beside the log, synced by the log's thread
    KnownStations& knownStations;
    UDPServer& udpServer; // the discovery endpoint
    TCPServer& tcpServer; // the stations' listener and network thread
    // How the operator's commands reach the stations: the network thread's, each recorded in the audit trail.
    CommandTransport& commandTransport;
    HallWatch& hallWatch;
    RunningSessions* runningSessions; // none when [Server] ReturnSeconds is 0
    ChainShipper* chain;              // the copy into the chain's database; none without [Chain]
};

// The server without its windows: the station and history tables with their models, from its
// creation; the configuration's values and every other part (the session log, report processing
// with the hall's watch, the network thread and discovery), built by start() in the order the
// start-up sequence needs them and stopped by stop() in reverse. main() builds it before the windows
// and it outlives them.
class Server : public QObject, private StartupSteps
{
    Q_OBJECT

public:
    using Options = ServerOptions;

    explicit Server(Options options = {});
    ~Server() override; // calls stop()

    // Runs start-up, the window's steps in their places. False after the failure path: the cause
    // is written to stderr and kept, and the one message is shown.
    bool start(StartupWindow& window);
    // Set when start-up took the failure path; the text says why, for the maintainer.
    const std::optional<std::string>& startupFailure() const { return m_startupFailure; }

    // Stops the parts with threads of their own in the reverse of their start: the chain's copy,
    // the network thread and the name look-ups, then drains the session log: every session and
    // command logged so far, a command still queued for a station and told NotDelivered now
    // included, is durable when this returns. Runs on the application's aboutToQuit, before any
    // window goes, so no late answer meets a window being destroyed; the parts themselves go with
    // the server, after the windows that read them. Later calls do nothing.
    void stop();

    const ServerRunSettings& settings() const { return m_settings; } // complete once start() succeeded
    // The built parts, from start-up's listening step on (before, it throws std::bad_optional_access).
    const ServerParts& parts() const { return m_parts.value(); }
    bool started() const { return m_parts.has_value(); } // whether parts() has them

    StationTable& stations() { return m_stations; }
    const QString& exeDir() const { return m_options.exeDir; } // the executable's folder, unless a test chose one
    StationTableModel& stationModel() { return *m_stationModel; }
    HistoryTableModel& historyModel() { return *m_historyModel; }

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
    // Every part, in the order each needs the one before; throws StartupError (ChainConfigError for
    // a bad [Chain]) from the first that cannot be had.
    void build();
    void buildLog();
    void buildNetwork();
    void buildProcessing();
    void buildChain(); // when [Chain] sets one

    // The start-up steps, in the order runStartupSequence calls them. Those that read Ostrel.ini
    // keep what they read; the listening step builds the parts.
    void hideTaskbarEntry() override { m_window->hideTaskbarEntry(); }
    void appendOpenToCaption() override { m_window->appendOpenToCaption(); }
    void setSessionLogPath(const std::string& path) override { m_settings.sessionLogPath = path; }
    void createDiscoveryEndpoint() override {}
    void setBroadcastAddress(int net) override;
    void setDiscoveryLocalPort(int port) override { m_settings.discoveryLocalPort = static_cast<std::uint16_t>(port); }
    void setDiscoveryRemotePort(int port) override
    {
        m_settings.discoveryRemotePort = static_cast<std::uint16_t>(port);
    }
    void setResetFlags(bool closeAfterReset, bool waitAfterReset) override
    {
        m_settings.closeAfterReset = closeAfterReset;
        m_settings.waitAfterReset = waitAfterReset;
    }
    void attachDiscoveryHandler() override {}
    void setListenerPort(int port) override { m_settings.listenerPort = static_cast<std::uint16_t>(port); }
    void setStationKeepAlive(std::optional<int> seconds) override { m_settings.keepAliveSeconds = seconds; }
    void setTariffs(TariffList prices, TariffList games) override
    {
        m_settings.prices = std::move(prices);
        m_settings.games = std::move(games);
    }
    void setWarnMinutes(int minutes) override { m_settings.warnMinutes = minutes; }
    void setSessionReturn(int returnSeconds, int resumeMinutes) override
    {
        m_settings.returnSeconds = returnSeconds;
        m_settings.resumeMinutes = resumeMinutes;
    }
    void startListening() override { build(); }
    void buildCommandMenu() override { m_window->buildCommandMenu(); }
    void writeHeaderRows() override;
    void announce() override;

    Options m_options;
    StartupWindow* m_window = nullptr; // during start() only
    std::optional<std::string> m_startupFailure;
    ServerRunSettings m_settings;
    OncePerBurst m_hallChangePost;
    OncePerBurst m_faultsPost;
    bool m_stopped = false;

    // Declared in the order build() makes them, so they go in reverse: the discovery endpoint and
    // the network thread stop before the processor, the models and the tables they use.
    StationTable m_stations;
    HistoryTable m_history;
    std::unique_ptr<StationTableModel> m_stationModel;
    std::unique_ptr<HistoryTableModel> m_historyModel;
    std::unique_ptr<SessionLog> m_sessionLog;
    std::unique_ptr<AuditTrail> m_auditTrail; // synced by the log's thread
    // Shared with the network thread's note of each connecting station, which may outlive this member.
    std::shared_ptr<KnownStations> m_knownStations;
    std::unique_ptr<CommandAuditTrail> m_commandAudit;
    std::unique_ptr<ShutdownNotes> m_shutdownNotes;
    std::unique_ptr<AuditedTransport>
        m_auditedTransport; // the operator's; told of results until the network thread stops
    std::unique_ptr<AuditedTransport> m_resumptionTransport; // the server's own, for resumption
    std::unique_ptr<HallWatch> m_hallWatch;                  // an observer of the processor, which cannot drop it
    std::unique_ptr<RunningSessions> m_runningSessions;      // told by the processor, so it outlives it
    std::unique_ptr<ReportProcessor> m_processor;
    std::unique_ptr<TCPServer> m_tcpServer; // the stations' listener and network thread
    std::unique_ptr<UDPServer> m_udpServer; // the discovery endpoint, which answers from the listener's port
    // Reads the log and the station table: stopped first, and goes before them.
    std::unique_ptr<ChainShipper> m_chain;
    std::optional<ServerParts> m_parts; // once build() is through
};

} // namespace ostrel
