#pragma once

#include "core/UniqueFd.h"

#include <QObject>

#include <mutex>
#include <string>
#include <string_view>

namespace ostrel {

class TCPServer;

// UDPServer, the discovery endpoint: one IPv4 UDP socket that receives stations' requests and sends the
// "Hi Client" datagram, the start-up announcement included, so every datagram leaves from LocalPort.
// Once attached to the TCP server, its socket is watched and used on the network thread: a request
// closes the station's older connection there and is answered right after, and the window's
// thread does no socket work for it.
class UDPServer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::string_view DiscoveryDatagram = "Hi Client"; // 9 bytes, no terminator
    static constexpr std::size_t ReceiveBufferSize = 2048;

    explicit UDPServer(QObject* parent = nullptr);
    // Stops the watch first; destroy it before the TCP server it is attached to.
    ~UDPServer() override;

    // Gives the endpoint a fresh socket bound to all local addresses at `port`, watched once the
    // endpoint is attached. False only when no socket can be created; a port that cannot be bound
    // is not reported (no requests then arrive, and sends leave from a port the system chooses).
    bool setLocalPort(quint16 port);
    quint16 LocalPort() const { return m_localPort; }
    quint16 boundPort() const; // what the socket is actually bound to; 0 when unbound

    void setRemotePort(quint16 port);
    quint16 RemotePort() const;
    void setRemoteHost(std::string host);
    std::string RemoteHost() const;

    // The network thread that watches the socket and whose connections a request closes. Until
    // it is attached, no request is read.
    void attachTcpServer(TCPServer* server);

    // Sends the discovery datagram to RemoteHost at RemotePort. Every failure is swallowed: the
    // announcement is best effort and nobody is told.
    void sendDiscovery();
    // The start-up announcement: RemoteHost becomes `host`, then one datagram is sent (on the
    // network thread once attached).
    void sendDiscovery(const std::string& host);

    // A station asked for the server: its first TCP connection, if any, is closed (the disconnect
    // handling runs on the network thread), then the answer goes to `fromIP` at RemotePort, not to
    // the request's source port.
    void UDPServerDataReceived(const std::string& fromIP);

private:
    bool receivePending(); // network thread; true once drained
    void closeSocket();
    void watch();

    UniqueFd m_fd;
    quint16 m_localPort = 0;
    mutable std::mutex m_mutex; // the remote end, between the window's thread and the network thread
    quint16 m_remotePort = 0;
    std::string m_remoteHost;
    TCPServer* m_tcp = nullptr;
};

} // namespace ostrel
