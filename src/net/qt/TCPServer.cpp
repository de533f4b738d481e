#include "net/qt/TCPServer.h"

#include "net/SocketOptions.h"
#include "stations/ReportProcessor.h"

#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace ostrel {

namespace {

// accept() failing for lack of descriptors or memory leaves the connection pending and the
// listener readable; the notifier rests this long instead of firing in a loop.
constexpr std::chrono::milliseconds AcceptBackOff{100};
// No thread could be started for a reader; the connection is watched again after this pause.
constexpr std::chrono::milliseconds ReaderBackOff{50};
// Connections taken per listener notification, so a flood of connects cannot starve other events.
constexpr int AcceptsPerNotification = 64;
constexpr std::chrono::milliseconds ReaderWaitAtShutdown{2000};

} // namespace

TCPServer::TCPServer(QObject* parent) : QObject(parent)
{
    if (m_handBack.isValid()) {
        m_handBackNotifier = std::make_unique<QSocketNotifier>(m_handBack.fd(), QSocketNotifier::Read);
        connect(m_handBackNotifier.get(), &QSocketNotifier::activated, this, [this] { takeHandedBack(); });
    }
}

TCPServer::~TCPServer()
{
    closeListener();
    // Nothing is logged at shutdown: the connections go without their disconnect handling.
    for (const auto& c : m_connections.snapshot())
        c->closeSilently();
    // Work under way may still send or close through this object; let it finish first.
    m_gate->stop(ReaderWaitAtShutdown);
    m_pool->shutdown();
    // Notifiers go before their descriptors, which close with the last owner of each connection.
    m_watches.clear();
    m_handBackNotifier.reset();
}

bool TCPServer::listen(quint16 port)
{
    closeListener();
    if (!m_handBack.isValid())
        return false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const int reuse = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ::close(fd);
        return false;
    }
    TCPServerListen(fd);
    // As long a queue as the system allows: on Linux a full queue drops a station's handshake
    // silently, the station believes it is connected, and its reports wait for retransmissions
    // (or are lost if it resets first). Bursts of hundreds of stations coming back must fit.
    if (::listen(fd, SOMAXCONN) != 0) {
        ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_listenNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    connect(m_listenNotifier.get(), &QSocketNotifier::activated, this, [this] {
        try {
            acceptPending();
        } catch (...) {
            // Nothing leaves an event handler; pending connections are taken on the next notification.
        }
    });
    return true;
}

quint16 TCPServer::port() const
{
    if (m_listenFd < 0)
        return 0;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

void TCPServer::closeListener()
{
    m_listenNotifier.reset();
    if (m_listenFd >= 0) {
        ::close(m_listenFd);
        m_listenFd = -1;
    }
}

void TCPServer::TCPServerListen(int fd)
{
    setKeepAlive(fd, 1);
}

void TCPServer::acceptPending()
{
    for (int i = 0; i < AcceptsPerNotification && m_listenFd >= 0; ++i) {
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int fd = ::accept4(m_listenFd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            TCPServerClientConnect(fd, dottedAddress(peer));
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        // Out of descriptors or memory, or anything else that would fail again at once.
        m_listenNotifier->setEnabled(false);
        QTimer::singleShot(AcceptBackOff, this, [this] {
            if (m_listenNotifier)
                m_listenNotifier->setEnabled(true);
        });
        return;
    }
}

void TCPServer::TCPServerClientConnect(int fd, const std::string& address)
{
    setKeepAlive(fd, 1000);
    setKeepAlive(m_listenFd, 1000);
    if (m_keepAliveSeconds)
        setKeepAliveTiming(fd, *m_keepAliveSeconds);

    std::shared_ptr<Connection> connection;
    try {
        connection = std::make_shared<Connection>(fd, address, [this](Connection& c) { TCPServerClientDisconnect(c); });
    } catch (...) {
        ::close(fd); // not yet owned by anything
        return;
    }
    try {
        auto notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        Connection* key = connection.get();
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, key] {
            try {
                TCPServerClientRead(key);
            } catch (...) {
                // Nothing leaves an event handler; the connection is watched again shortly.
                if (const auto it = m_watches.find(key); it != m_watches.end())
                    retryLater(it->second.connection);
            }
        });
        m_watches.emplace(key, Watch{connection, std::move(notifier)});
        m_connections.add(connection);
    } catch (...) {
        // Out of memory half-way: the connection goes (its descriptor with it) as if it failed.
        m_watches.erase(connection.get());
        connection->closeSilently();
    }
}

void TCPServer::TCPServerClientRead(Connection* key)
{
    const auto it = m_watches.find(key);
    if (it == m_watches.end())
        return;
    // Level-triggered: until the reader has received, the socket stays readable. One reader at a time.
    it->second.notifier->setEnabled(false);
    const auto connection = it->second.connection;
    if (connection->isClosed()) {
        // Not deleted here: this runs inside the notifier's own signal.
        m_handBack.push(connection);
        return;
    }
    if (!m_processor)
        return; // nobody to take reports: the connection stays unwatched
    auto done = [this, connection](TThreadOnRead::Outcome) { m_handBack.push(connection); };
    try {
        TThreadOnRead::start(*m_pool, std::make_unique<TThreadOnRead>(connection, m_gate, *m_processor, m_resolver,
                                                                      std::move(done), &m_observer));
    } catch (...) {
        // No thread could be had: the notifier rests rather than firing again at once.
        retryLater(connection);
    }
}

void TCPServer::retryLater(const std::shared_ptr<Connection>& connection)
{
    QTimer::singleShot(ReaderBackOff, this, [this, weak = std::weak_ptr(connection)] {
        if (const auto c = weak.lock())
            readerFinished(c);
    });
}

void TCPServer::readerFinished(const std::shared_ptr<Connection>& connection)
{
    const auto it = m_watches.find(connection.get());
    if (it == m_watches.end())
        return;
    if (connection->isClosed())
        unwatch(connection.get());
    else
        it->second.notifier->setEnabled(true);
}

void TCPServer::takeHandedBack()
{
    for (const auto& connection : m_handBack.takeAll())
        readerFinished(connection);
}

void TCPServer::unwatch(const Connection* key)
{
    // Only a closed connection's watch goes; the key may already name a newer connection.
    const auto it = m_watches.find(key);
    if (it != m_watches.end() && it->second.connection->isClosed())
        m_watches.erase(it);
}

void TCPServer::TCPServerClientDisconnect(Connection& connection)
{
    // Runs on whichever thread closed the connection: the main thread, a reader whose receive
    // failed, or a thread whose send failed (then inside its hold of StationTableMutex).
    m_connections.remove(&connection);
    if (m_processor)
        m_processor->stationDisconnected(connection);
    if (QThread::currentThread() == thread()) {
        const auto it = m_watches.find(&connection);
        if (it != m_watches.end())
            it->second.notifier->setEnabled(false);
    }
    // The watch goes on the main thread, outside whatever signal of its notifier may be running.
    m_handBack.push(connection.shared_from_this());
}

SendResult TCPServer::sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes)
{
    const auto connection = m_connections.firstOpenFrom(address);
    if (!connection)
        return SendResult::NoConnection;
    if (!connection->sendBytes(bytes))
        connection->close(); // the error handling: the disconnect handling runs here, on this thread
    return SendResult::Sent;
}

bool TCPServer::hasConnection(std::string_view address) const
{
    return m_connections.firstOpenFrom(address) != nullptr;
}

bool TCPServer::closeFirstConnectionFrom(std::string_view address)
{
    const auto connection = m_connections.firstOpenFrom(address);
    if (!connection)
        return false;
    connection->close();
    return true;
}

} // namespace ostrel
