#pragma once

#include <QObject>

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

class QSocketNotifier;

namespace ostrel {

class TCPServer;

// The discovery endpoint: one IPv4 UDP socket that receives stations' requests and sends the
// "Hi Client" datagram, the start-up announcement included, so every datagram leaves from LocalPort.
class UDPServer : public QObject
{
    Q_OBJECT
public:
    static constexpr std::string_view DiscoveryDatagram = "Hi Client"; // 9 bytes, no terminator
    static constexpr std::size_t ReceiveBufferSize = 2048;

    explicit UDPServer(QObject* parent = nullptr);
    ~UDPServer() override;

    // Gives the endpoint a fresh socket bound to all local addresses at `port` and watches it.
    // False only when no socket can be created; a port that cannot be bound is not reported (no
    // requests then arrive, and sends leave from a port the system chooses).
    bool setLocalPort(quint16 port);
    quint16 LocalPort() const { return m_localPort; }
    quint16 boundPort() const; // what the socket is actually bound to; 0 when unbound

    void setRemotePort(quint16 port) { m_remotePort = port; }
    quint16 RemotePort() const { return m_remotePort; }
    void setRemoteHost(std::string host) { m_remoteHost = std::move(host); }
    const std::string& RemoteHost() const { return m_remoteHost; }

    // The connections a request closes. Until it is attached, requests are still answered.
    void attachTcpServer(TCPServer* server) { m_tcp = server; }

    // Sends the discovery datagram to RemoteHost at RemotePort. Every failure is swallowed: the
    // announcement is best effort and nobody is told.
    void sendDiscovery();
    // The start-up announcement: RemoteHost becomes `host`, then one datagram is sent.
    void sendDiscovery(const std::string& host);

    // A station asked for the server: its first TCP connection, if any, is closed on the network
    // thread (the disconnect handling runs there), and only then does the answer go to `fromIP` at
    // RemotePort, not to the request's source port.
    void UDPServerDataReceived(const std::string& fromIP);

private:
    void receivePending();
    void closeSocket();
    void answer(const std::string& fromIP);

    // Lets the network thread hand the answer back only while this object exists.
    struct Handle
    {
        std::mutex lock;
        UDPServer* server = nullptr;
    };

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint16 m_localPort = 0;
    quint16 m_remotePort = 0;
    std::string m_remoteHost;
    TCPServer* m_tcp = nullptr;
    std::shared_ptr<Handle> m_handle = std::make_shared<Handle>();
};

} // namespace ostrel
