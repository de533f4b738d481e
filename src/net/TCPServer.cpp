#include "net/TCPServer.h"

#include "net/CommandSender.h"
#include "net/Connection.h"
#include "net/ConnectionRegistry.h"
#include "net/DatagramWatch.h"
#include "net/NetworkThread.h"
#include "net/SocketOptions.h"
#include "net/StationAcceptor.h"
#include "stations/StationLink.h"

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <utility>

namespace ostrel {

struct TCPServer::Impl
{
    Impl() : lookup(NameLookup::create(reverseLookUp)) {}

    // First, so that it outlives every socket and timer on its io_context. Everything below that
    // names the network thread is touched only there.
    NetworkThread network;
    asio::io_context& io = network.io();
    std::atomic<std::uint16_t> boundPort{0};

    StationReportSink* processor = nullptr;
    TThreadOnRead::ReportObserver observer;
    StationSeen stationSeen;
    std::shared_ptr<NameLookup> lookup;
    std::array<std::uint8_t, 16 * 1024> readBuffer{}; // network thread
    // Every connection object not yet finished with, open or closed with its disconnect handling
    // still owed; the open ones are read from any thread (hasConnection).
    ConnectionRegistry registry;
    StationAcceptor acceptor{io, registry, [this](UniqueFd fd, const std::string& address) {
                                 TCPServerClientConnect(std::move(fd), address);
                             }};
    // A failed send, a queue over its bound or a command past its time closes the connection.
    CommandSender sender{registry,
                         [this](const ConnectionPtr& connection) { TCPServerClientDisconnect(connection, true); }};
    DatagramWatch datagrams{io};
    bool stopping = false; // network thread: set by stop()

    void stop();

    // A station connected: the new connection is registered and its name look-up started.
    void TCPServerClientConnect(UniqueFd fd, const std::string& address);
    void nameArrived(const ConnectionPtr& connection, std::string name);
    // A station's socket is readable: its reports are applied (TThreadOnRead).
    void TCPServerClientRead(const ConnectionPtr& connection);
    void waitReadable(const ConnectionPtr& connection);
    // A station's connection ended: closed, and with `runHandling` its session logged and row removed.
    void TCPServerClientDisconnect(const ConnectionPtr& connection, bool runHandling);
    void noteSeen(const Connection& connection);
};

void TCPServer::Impl::stop()
{
    if (!network.running()) {
        lookup->stop();
        return;
    }
    asio::post(io, [this] {
        stopping = true; // a look-up answer that comes later names nobody
        acceptor.close();
        datagrams.unwatch();
        // Nothing is logged at shutdown: the connections go without their disconnect handling.
        registry.abandonAll();
        network.release(); // run() returns once the cancelled waits have finished
    });
    network.join();
    boundPort = 0;
    registry.clear();
    // Then the look-ups: none is waited for, and no answer is delivered after this.
    lookup->stop();
}

// Network thread: takes one accepted connection and starts looking its station's name up.
void TCPServer::Impl::TCPServerClientConnect(UniqueFd fd, const std::string& address)
{
    ConnectionPtr connection;
    try {
        connection = std::make_shared<Connection>(io, std::move(fd), address);
    } catch (...) {
        return; // `fd` still owns the descriptor when the allocation failed
    }
    if (!connection->socket().is_open())
        return; // the reactor could not take it; the descriptor is closed already
    registry.add(connection);

    // Nothing is read before the name is known: the station's reports wait in its socket, which
    // bounds them, and only for its own name. After NameWait the dotted address stands in, and at
    // once when the look-ups' queue is full.
    connection->startNameLimit(NameWait);
    connection->setLookUpTicket(lookup->lookUp(address, [this, weak = std::weak_ptr(connection)](std::string name) {
        // On a look-up thread: only post.
        asio::post(io, [this, weak, name = std::move(name)]() mutable {
            if (const auto c = weak.lock())
                nameArrived(c, std::move(name));
        });
    }));
    if (!connection->lookUpTicket()) {
        nameArrived(connection, address);
        return;
    }
    connection->onNameLimit([this, connection](const asio::error_code& ec) {
        if (!ec)
            nameArrived(connection, connection->address());
    });
}

void TCPServer::Impl::nameArrived(const ConnectionPtr& connection, std::string name)
{
    if (connection->hostNameKnown() || stopping)
        return; // the time limit came first, or the answer did, or the server stops
    connection->setHostName(std::move(name));
    connection->stopNameLimit();
    // Named by the time limit, the look-up waits no more; after its answer this finds nothing.
    lookup->cancel(connection->takeLookUpTicket());
    noteSeen(*connection);
    if (connection->isClosed()) {
        if (processor && connection->takeOwedDisconnect())
            processor->stationDisconnected(*connection);
        registry.forgetIfFinished(connection);
        return;
    }
    TCPServerClientRead(connection);
}

// Network thread: the connection's socket is readable; receives and applies its reports.
void TCPServer::Impl::TCPServerClientRead(const ConnectionPtr& connection)
{
    if (connection->isClosed() || !processor)
        return; // nobody to take reports: the connection stays unwatched
    TThreadOnRead::Outcome outcome;
    try {
        outcome =
            TThreadOnRead::readAvailable(*connection, *processor, readBuffer, TThreadOnRead::MaxBytesPerRun, &observer);
    } catch (...) {
        // A connection whose reports cannot be applied is dropped.
        outcome = TThreadOnRead::Outcome::Closed;
    }
    switch (outcome) {
    case TThreadOnRead::Outcome::Drained:
        waitReadable(connection);
        break;
    case TThreadOnRead::Outcome::More:
        // Bytes still wait: read on after the events already due, so no station waits behind this one.
        asio::post(io, [this, connection] { TCPServerClientRead(connection); });
        break;
    case TThreadOnRead::Outcome::Closed:
        TCPServerClientDisconnect(connection, true);
        break;
    }
}

void TCPServer::Impl::waitReadable(const ConnectionPtr& connection)
{
    connection->waitReadable([this, connection] { TCPServerClientRead(connection); });
}

// Network thread: the connection ended (the station closed, a receive or send failed, or discovery
// or the server closed it); with `runHandling`, its running session is logged "Reset" and its row
// removed.
void TCPServer::Impl::TCPServerClientDisconnect(const ConnectionPtr& connection, bool runHandling)
{
    // The flag is set before the disconnect handling runs, so a report of this connection that
    // reaches report processing afterwards is dropped instead of adding the row again.
    if (!connection->markClosed())
        return;
    registry.removeOpen(connection);
    connection->stopSendLimit();
    // Commands still waiting for the socket never went out whole.
    connection->failPending();

    if (runHandling && connection->hostNameKnown())
        noteSeen(*connection);
    if (runHandling && processor) {
        if (connection->hostNameKnown())
            processor->stationDisconnected(*connection);
        else
            connection->oweDisconnect(); // under its real name, once the look-up answers
    }
    // A look-up that still waits for a thread is not waited for: the address names the
    // connection now, and its handling runs under it.
    if (!connection->hostNameKnown() && lookup->cancel(connection->lookUpTicket())) {
        nameArrived(connection, connection->address());
        return;
    }
    registry.forgetIfFinished(connection);
}

void TCPServer::Impl::noteSeen(const Connection& connection)
{
    if (!stationSeen)
        return;
    try {
        stationSeen(connection.hostName(), connection.address());
    } catch (...) {
        // Out of memory: the station goes unnoted this time, its reports and handling do not.
    }
}

TCPServer::TCPServer() : m(std::make_unique<Impl>()) {}

TCPServer::~TCPServer()
{
    m->stop();
}

void TCPServer::setReportProcessor(StationReportSink* processor)
{
    m->network.run([&] { m->processor = processor; });
}

void TCPServer::setNameResolver(NameResolver resolver)
{
    m->network.run([&] {
        m->lookup->stop();
        m->lookup = NameLookup::create(std::move(resolver));
    });
}

void TCPServer::setReportObserver(TThreadOnRead::ReportObserver observer)
{
    m->network.run([&] { m->observer = std::move(observer); });
}

void TCPServer::setKeepAliveSeconds(std::optional<int> seconds)
{
    m->network.run([&] { m->acceptor.setKeepAliveSeconds(seconds); });
}

void TCPServer::setStationSeen(StationSeen seen)
{
    m->network.run([&] { m->stationSeen = std::move(seen); });
}

bool TCPServer::listen(std::uint16_t port)
{
    UniqueFd owned(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = owned.get();
    if (!owned)
        return false;
    const int reuse = 1;
    (void)::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

    const sockaddr_in local = anyAddress(port);
    // As long a queue as the system allows: on Linux a full queue drops a station's handshake
    // silently, the station believes it is connected, and its reports wait for retransmissions
    // (or are lost if it resets first). Bursts of thousands of stations coming back must fit.
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return false;
    setKeepAlive(fd, 1);
    if (::listen(fd, SOMAXCONN) != 0)
        return false;
    const std::uint16_t boundPort = localPort(fd);

    const bool taken = m->network.run([&] {
        if (!m->acceptor.adopt(fd))
            return false;
        static_cast<void>(owned.release()); // the acceptor owns it now
        m->boundPort = boundPort;
        if (m->network.running())
            m->acceptor.acceptPending();
        else
            asio::post(m->io, [this] { m->acceptor.acceptPending(); });
        return true;
    });
    if (taken && !m->network.running() && !m->network.start()) {
        m->acceptor.close(); // nothing was accepted: no back-off is under way
        m->boundPort = 0;
        return false;
    }
    return taken;
}

bool TCPServer::isListening() const
{
    return m->boundPort.load() != 0;
}

std::uint16_t TCPServer::port() const
{
    return m->boundPort.load();
}

SendResult TCPServer::sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes)
{
    return m->network.run([&] { return m->sender.send(address, bytes, nullptr); });
}

SendResult TCPServer::sendWithOutcome(std::string_view address, std::span<const std::uint8_t> bytes, SendDone done)
{
    return m->network.run([&] { return m->sender.send(address, bytes, std::move(done)); });
}

void TCPServer::postToAddress(std::string address, std::vector<std::uint8_t> bytes, SendDone done)
{
    if (!m->network.running()) {
        if (done)
            done(SendResult::NoConnection);
        return;
    }
    asio::post(m->io, [this, address = std::move(address), bytes = std::move(bytes), done = std::move(done)]() mutable {
        m->sender.send(address, bytes, std::move(done));
    });
}

void TCPServer::post(std::string address, const StationCommand& command, SendDone done)
{
    const CommandBytes bytes = encodeStationCommand(command);
    if (m->network.onThread()) {
        m->sender.send(address, bytes, std::move(done));
        return;
    }
    postToAddress(std::move(address), std::vector<std::uint8_t>(bytes.begin(), bytes.end()), std::move(done));
}

bool TCPServer::hasConnection(std::string_view address) const
{
    return m->registry.firstOpenFrom(address) != nullptr;
}

bool TCPServer::closeFirstConnectionFrom(std::string_view address)
{
    return m->network.run([&] {
        const auto c = m->registry.firstOpenFrom(address);
        if (!c)
            return false;
        m->TCPServerClientDisconnect(c, true);
        return true;
    });
}

void TCPServer::watchDatagrams(int fd, std::function<bool()> readable)
{
    m->network.run([&] { m->datagrams.watch(fd, std::move(readable)); });
}

void TCPServer::unwatchDatagrams()
{
    m->network.run([this] { m->datagrams.unwatch(); });
}

void TCPServer::post(std::function<void()> job)
{
    if (!m->network.running()) {
        job();
        return;
    }
    asio::post(m->io, std::move(job));
}

std::size_t TCPServer::connectionCount() const
{
    return m->registry.openCount();
}

bool TCPServer::onNetworkThread() const
{
    return m->network.onThread();
}

std::uint64_t TCPServer::acceptBackOffs() const
{
    return m->acceptor.backOffs();
}

std::uint64_t TCPServer::refusedConnections() const
{
    return m->acceptor.refused();
}

void TCPServer::stop()
{
    m->stop();
}

int TCPServer::lookUpThreads() const
{
    return m->lookup ? m->lookup->threads() : 0;
}

std::size_t TCPServer::lookUpsWaiting() const
{
    return m->lookup ? m->lookup->waiting() : 0;
}

} // namespace ostrel
