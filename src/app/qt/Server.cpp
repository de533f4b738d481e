#include "app/qt/Server.h"

#include "app/CommandAuditTrail.h"
#include "app/ServerConfig.h"
#include "app/StartupError.h"
#include "chain/ChainShipper.h"
#include "commands/AuditedTransport.h"
#include "commands/ShutdownNotes.h"
#include "core/DateTime.h"
#include "core/StationTableMutex.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "log/SessionLog.h"
#include "log/ui/HistoryTableModel.h"
#include "net/NeighbourTable.h"
#include "net/TCPServer.h"
#include "net/WakeOnLan.h"
#include "net/qt/UDPServer.h"
#include "stations/HallWatch.h"
#include "stations/ReportProcessor.h"
#include "stations/RunningSessions.h"
#include "stations/ui/StationTableModel.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>

#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace ostrel {

namespace {

// The server keeps every file it writes beside the session log.
std::string besideLog(const std::string& logPath, std::string_view name)
{
    const auto slash = logPath.rfind('/');
    std::string path = slash == std::string::npos ? std::string() : logPath.substr(0, slash + 1);
    path += name;
    return path;
}

} // namespace

Server::Server(Options options)
    : m_options(std::move(options)), m_stationModel(std::make_unique<StationTableModel>(m_stations)),
      m_historyModel(std::make_unique<HistoryTableModel>(m_history))
{
    if (m_options.exeDir.isEmpty())
        m_options.exeDir = QCoreApplication::applicationDirPath();
    // main() destroys the windows after the event loop, and only then the server.
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &Server::stop);
}

Server::~Server()
{
    // The threads that tell of faults may run on while the members go; nothing is posted to a
    // server on its way out.
    if (m_sessionLog)
        m_sessionLog->setFaultListener({});
    if (m_knownStations)
        m_knownStations->setFaultListener({});
    // The processor goes before the keeper it settles into.
    if (m_runningSessions)
        m_runningSessions->setExpiryHandler({});
    stop();
}

bool Server::start(StartupWindow& window)
{
    m_window = &window;
    try {
        runStartupSequence(*this, QFile::encodeName(m_options.exeDir).toStdString());
    } catch (const ChainConfigError& error) {
        // A key the operator sets by hand for the chain: the box says which.
        failStartup(error.what(), error.what());
    } catch (const std::exception& error) {
        failStartup(error.what());
    } catch (...) {
        failStartup("unknown error");
    }
    m_window = nullptr;
    return !m_startupFailure;
}

void Server::failStartup(const std::string& cause, const std::string& shownDetail)
{
    m_startupFailure = cause;
    // The message box says the same for every cause; the maintainer learns the real one here.
    std::fprintf(stderr, "ostrel-server: Ini file is corrupt: %s\n", cause.c_str());
    std::fflush(stderr);
    if (m_options.showIniCorrupt)
        m_options.showIniCorrupt(shownDetail);
}

void Server::build()
{
    buildLog();
    buildNetwork();
    buildProcessing();
    // The stations are taken from here on.
    if (!m_tcpServer->listen(m_settings.listenerPort))
        throw StartupError("cannot listen on TCP port " + std::to_string(m_settings.listenerPort) +
                           " (is another program using it?)");
    m_settings.listenerPort = m_tcpServer->port();
    buildChain();
    m_parts.emplace(ServerParts{*m_sessionLog, *m_auditTrail, *m_knownStations, *m_udpServer, *m_tcpServer,
                                *m_auditedTransport, *m_hallWatch, m_runningSessions.get(), m_chain.get()});
}

void Server::stop()
{
    if (std::exchange(m_stopped, true))
        return;
    if (m_chain)
        m_chain->stop();
    if (m_tcpServer)
        m_tcpServer->stop();
    // The log's own thread ends with the log, which the windows that read it (the summary, the
    // work report) need until they go; what it still holds is made durable here. A file that does
    // not take it (a full disk) holds the quit a few seconds at most: the log's last round then
    // says on stderr how many sessions were lost.
    if (m_sessionLog)
        m_sessionLog->waitDurable(std::chrono::seconds(3));
}

// The session log and the files written beside it.
void Server::buildLog()
{
    const std::string& path = m_settings.sessionLogPath;
    m_sessionLog = std::make_unique<SessionLog>(path, m_history);
    m_auditTrail = std::make_unique<AuditTrail>(besideLog(path, AuditTrail::FileName), *m_sessionLog);
    m_knownStations =
        std::make_shared<KnownStations>(besideLog(path, KnownStations::FileName), [] { return readNeighbourTable(); });
    // Told on the thread that met the fault, the network's or the log's: only posts, once a burst.
    // The mark is shared, as the stations file's worker may outlive this server.
    const auto tell = [this, burst = m_faultsPost] { burst.post(this, [this] { emit writeFaultsChanged(); }); };
    m_sessionLog->setFaultListener(tell);
    m_knownStations->setFaultListener(tell);
}

// The discovery endpoint, and the network thread that watches its socket besides the stations'.
void Server::buildNetwork()
{
    m_tcpServer = std::make_unique<TCPServer>();
    m_tcpServer->setKeepAliveSeconds(m_settings.keepAliveSeconds);
    m_udpServer = std::make_unique<UDPServer>();
    if (!m_udpServer->setLocalPort(m_settings.discoveryLocalPort))
        throw StartupError("the discovery endpoint's UDP socket cannot be created");
    m_udpServer->setRemotePort(m_settings.discoveryRemotePort);
    m_udpServer->attachTcpServer(m_tcpServer.get());
}

// The commands' audit, report processing and what watches it, handed to the network thread.
void Server::buildProcessing()
{
    CommandAuditTrail::Hooks hooks;
    // Runs where the result is known, mostly the network thread, which takes this mutex for reports
    // anyway; a thread that holds it never waits for the network thread to send.
    hooks.stationName = [this](std::string_view address) {
        std::scoped_lock hold(StationTableMutex);
        for (int r = 1; r < m_stations.rowCount() - 1; ++r) {
            if (m_stations.cell(r, ColAddress) == address)
                return m_stations.cell(r, ColComputer);
        }
        return std::string();
    };
    // A result answered at once on the window's thread (no network thread running) is written by
    // the log's thread instead.
    hooks.mayWriteHere = [] {
        const QCoreApplication* app = QCoreApplication::instance();
        return !app || QThread::currentThread() != app->thread();
    };
    m_commandAudit = std::make_unique<CommandAuditTrail>(*m_auditTrail, std::move(hooks));
    m_shutdownNotes = std::make_unique<ShutdownNotes>();
    const std::vector<CommandAudit*> audits{m_commandAudit.get(), m_shutdownNotes.get()};
    m_auditedTransport = std::make_unique<AuditedTransport>(*m_tcpServer, audits);
    // Resumption's commands are the server's own, and the audit trail says so.
    m_resumptionTransport = std::make_unique<AuditedTransport>(*m_tcpServer, audits, CommandOrigin::Server);

    const std::string& logPath = m_settings.sessionLogPath;
    m_processor = std::make_unique<ReportProcessor>(
        m_stations, m_history, *m_sessionLog, *m_resumptionTransport, m_settings.prices, m_settings.games,
        ResumeSettings{m_settings.closeAfterReset, m_settings.waitAfterReset, m_settings.resumeMinutes});
    m_processor->setShutdownNotes(m_shutdownNotes.get());
    m_processor->seedResumptions(logPath);
    if (m_settings.returnSeconds > 0) {
        m_runningSessions = std::make_unique<RunningSessions>(besideLog(logPath, RunningSessions::FileName), logPath,
                                                              std::chrono::seconds(m_settings.returnSeconds));
        m_processor->setRunningSessions(m_runningSessions.get());
        m_runningSessions->setExpiryHandler([processor = m_processor.get()] { processor->settleExpired(); });
    }
    // Runs on the network thread, after the mutex is released: the models only post a reload.
    m_processor->setChangedCallback([stations = m_stationModel.get(), history = m_historyModel.get()] {
        stations->requestReload();
        history->requestReload();
    });
    m_hallWatch = std::make_unique<HallWatch>(AlertSettings{.warnMinutes = m_settings.warnMinutes});
    m_hallWatch->setShutdownNotes(m_shutdownNotes.get());
    // Called on the network thread under StationTableMutex: only posts, once per burst of calls.
    m_hallWatch->setWake([this] { m_hallChangePost.post(this, [this] { emit hallChanged(); }); });
    m_stationModel->setOverrunSource([watch = m_hallWatch.get()] { return watch->overrunStations(); });
    m_processor->addObserver(*m_hallWatch);
    m_tcpServer->setReportProcessor(m_processor.get());
    m_tcpServer->setStationSeen([known = m_knownStations](const std::string& name, const std::string& address) {
        known->seen(name, address, nowDayNumber());
    });
}

void Server::buildChain()
{
    const auto ini =
        IniFile::load(QFile::encodeName(m_options.exeDir).toStdString() + "/" + std::string(ServerConfig::FileName));
    const auto settings = ini ? readChainSettings(*ini) : std::nullopt;
    if (!settings)
        return;
    const std::string& logPath = m_settings.sessionLogPath;
    ChainSources sources{logPath, m_auditTrail->path(), besideLog(logPath, CashBook::FileName), {}, {}, {}};
    // Only what is durable here: a record a power cut could still take must not be in the database.
    sources.logLength = [log = m_sessionLog.get()] { return log->durableLength(); };
    sources.auditLength = [trail = m_auditTrail.get()] { return trail->durableLength(); };
    // A short hold, as the windows take it to paint; the title row and the blank last row left out.
    sources.hall = [this] {
        std::vector<HallRow> rows;
        std::scoped_lock hold(StationTableMutex);
        for (int r = 1; r < m_stations.rowCount() - 1; ++r) {
            rows.push_back({m_stations.cell(r, ColComputer), m_stations.cell(r, ColAddress),
                            m_stations.cell(r, ColStatus), m_stations.cell(r, ColPrice), m_stations.cell(r, ColStart),
                            m_stations.cell(r, ColSum)});
        }
        return rows;
    };
    m_chain = std::make_unique<ChainShipper>(*settings, std::move(sources));
    m_chain->start();
}

WriteFaultCounts Server::writeFaults() const
{
    WriteFaultCounts counts;
    if (m_sessionLog) {
        const LogFaults faults = m_sessionLog->faults();
        counts.sessions = faults.sessions.count;
        counts.sessionsError = faults.sessions.error;
        counts.lines = faults.lines.count;
        counts.linesError = faults.lines.error;
    }
    if (m_knownStations)
        counts.stationsError = m_knownStations->writeError();
    return counts;
}

void Server::setBroadcastAddress(int net)
{
    const auto hosts = m_options.hostAddresses ? m_options.hostAddresses() : hostAddresses();
    auto address = broadcastAddressFrom(addressesOf(hosts), net);
    if (!address)
        throw StartupError("[Server] Net = " + std::to_string(net) + " names no address of this host (" +
                           std::to_string(hosts.size()) + " listed by ostrel-server --list-addresses)");
    m_settings.broadcastAddress = std::move(*address);
    m_settings.wakeAddress = wakeAddressOf(hosts[static_cast<std::size_t>(net)]);
}

void Server::writeHeaderRows()
{
    // Both tables carry their header rows from their creation; this shows them with the rows.
    m_stationModel->reload();
    m_historyModel->reload();
}

void Server::announce()
{
    m_udpServer->sendDiscovery(m_settings.broadcastAddress);
}

void Server::wake(WakePlan plan)
{
    std::vector<HardwareAddress> hardware;
    std::vector<std::string> names;
    for (const KnownStation& s : plan.send) { // every one has its hardware address
        hardware.push_back(*s.hardware);
        names.push_back(s.name);
    }
    if (hardware.empty() || !m_tcpServer || !m_tcpServer->isListening()) {
        emit wakeSent(0, plan.unknown, names); // with no network thread to send on, none went out
        return;
    }
    m_tcpServer->post([this, hardware = std::move(hardware), names = std::move(names),
                       unknown = std::move(plan.unknown), to = m_settings.wakeAddress,
                       port = m_options.wakePort]() mutable {
        const auto sent = sendMagicPackets(hardware, to, port);
        std::size_t count = 0;
        std::vector<std::string> failed;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            if (sent[i])
                ++count;
            else
                failed.push_back(names[i]);
        }
        QMetaObject::invokeMethod(
            this,
            [this, count, unknown = std::move(unknown), failed = std::move(failed)] {
                emit wakeSent(count, unknown, failed);
            },
            Qt::QueuedConnection);
    });
}

} // namespace ostrel
