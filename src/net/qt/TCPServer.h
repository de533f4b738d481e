#pragma once

#include "commands/CommandTransport.h"
#include "net/Connection.h"
#include "net/ConnectionList.h"
#include "net/HandBackQueue.h"
#include "net/ReaderGate.h"
#include "net/TThreadOnRead.h"

#include <QObject>

#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>

class QSocketNotifier;

namespace ostrel {

class ReportProcessor;

// The stations' TCP listener: a non-blocking IPv4 socket on all local addresses whose readiness,
// like that of every connection, is watched on the main thread. Reading and applying reports
// happens on short-lived reader threads, one per connection at a time. Implements the command
// transport: a command goes to the first open connection from the station's address.
class TCPServer : public QObject, public CommandTransport
{
    Q_OBJECT
public:
    explicit TCPServer(QObject* parent = nullptr);
    // Stops accepting, closes every connection without the disconnect handling (nothing is logged
    // at shutdown) and waits a bounded time for the reader threads. Destroy it on the main thread,
    // never while holding StationTableMutex: it waits for the readers' work under way, which may
    // need the mutex. The report processor must outlive it.
    ~TCPServer() override;

    // Must be set before listen(); reports and disconnects go there.
    void setReportProcessor(ReportProcessor* processor) { m_processor = processor; }
    // The peer name look-up; the default is the reverse DNS look-up. For tests.
    void setNameResolver(Connection::NameResolver resolver) { m_resolver = std::move(resolver); }

    // Keep-alive timing for every connection accepted from now on (setKeepAliveTiming); nullopt
    // leaves the system's defaults.
    void setKeepAliveSeconds(std::optional<int> seconds) { m_keepAliveSeconds = seconds; }

    // Told of every report after it was applied, on the reader thread. Set before listen().
    void setReportObserver(TThreadOnRead::ReportObserver observer) { m_observer = std::move(observer); }

    // Listens on all local addresses at `port` (0: a port the system chooses). False when the
    // socket cannot be created, bound or put into listening state.
    bool listen(quint16 port);
    bool isListening() const { return m_listenFd >= 0; }
    quint16 port() const; // the bound port; 0 when not listening

    SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes) override;
    bool hasConnection(std::string_view address) const override;

    // Closes the first open connection, in accept order, from `address`; its disconnect handling
    // runs before this returns. False when there is none.
    bool closeFirstConnectionFrom(std::string_view address);

    std::size_t connectionCount() const { return m_connections.size(); }
    int runningReaders() const { return m_gate->runningThreads(); }
    int readerThreads() const { return m_pool->threads(); } // idle ones included, until they time out

private:
    struct Watch
    {
        std::shared_ptr<Connection> connection;
        std::unique_ptr<QSocketNotifier> notifier;
    };

    void TCPServerListen(int fd);
    void acceptPending();
    void TCPServerClientConnect(int fd, const std::string& address);
    void TCPServerClientRead(Connection* connection);
    void TCPServerClientDisconnect(Connection& connection);
    void readerFinished(const std::shared_ptr<Connection>& connection);
    void takeHandedBack();
    void unwatch(const Connection* connection);
    void retryLater(const std::shared_ptr<Connection>& connection);
    void closeListener();

    int m_listenFd = -1;
    std::unique_ptr<QSocketNotifier> m_listenNotifier;
    ReportProcessor* m_processor = nullptr;
    std::optional<int> m_keepAliveSeconds;
    Connection::NameResolver m_resolver;
    TThreadOnRead::ReportObserver m_observer;
    ConnectionList m_connections;
    std::unordered_map<const Connection*, Watch> m_watches; // main thread only
    HandBackQueue m_handBack;
    std::unique_ptr<QSocketNotifier> m_handBackNotifier;
    std::shared_ptr<ReaderGate> m_gate = std::make_shared<ReaderGate>();
    std::shared_ptr<ReaderPool> m_pool = ReaderPool::create(std::chrono::seconds(1));
};

} // namespace ostrel
