#include "net/TThreadOnRead.h"

#include "stations/ReportProcessor.h"

#include <sys/socket.h>

#include <array>
#include <cerrno>

namespace ostrel {

TThreadOnRead::TThreadOnRead(std::shared_ptr<Connection> connection, std::shared_ptr<ReaderGate> gate,
                             ReportProcessor& processor, Connection::NameResolver resolver,
                             std::function<void(Outcome)> done, const ReportObserver* observer)
    : m_connection(std::move(connection)), m_gate(std::move(gate)), m_processor(processor),
      m_resolver(std::move(resolver)), m_done(std::move(done)), m_observer(observer)
{}

void TThreadOnRead::start(ReaderPool& pool, std::unique_ptr<TThreadOnRead> reader)
{
    auto gate = reader->m_gate;
    gate->threadStarted();
    try {
        pool.post(std::move(reader));
    } catch (...) {
        gate->threadEnded();
        throw;
    }
}

void TThreadOnRead::run() noexcept
{
    Outcome outcome = Outcome::Closed;
    try {
        if (!m_connection->isClosed())
            m_connection->lookUpHostName(m_resolver);
    } catch (...) {
        // Without a name the station's row cannot be told apart; treat it as a failed receive.
        m_connection->closeSilently();
    }
    if (m_gate->beginWork()) {
        try {
            outcome = m_connection->isClosed() ? Outcome::Closed
                                               : readAvailable(*m_connection, m_processor, MaxBytesPerRun, m_observer);
        } catch (...) {
            // Nothing may leave a worker thread; a connection whose reports cannot be applied is dropped.
            try {
                m_connection->close();
            } catch (...) {
            }
            outcome = Outcome::Closed;
        }
        try {
            if (m_done)
                m_done(outcome);
        } catch (...) {
        }
        m_gate->endWork();
    }
    // Release the connection before the gate lets the listener's destructor go on.
    m_connection.reset();
    m_done = nullptr;
    auto gate = std::move(m_gate);
    gate->threadEnded();
}

TThreadOnRead::Outcome TThreadOnRead::readAvailable(Connection& connection, ReportProcessor& processor,
                                                    std::size_t maxBytes, const ReportObserver* observer)
{
    std::array<std::uint8_t, 16 * 1024> buffer;
    std::size_t taken = 0;
    while (taken < maxBytes) {
        if (connection.isClosed())
            return Outcome::Closed;
        const std::size_t want = std::min(buffer.size(), maxBytes - taken);
        const ssize_t got = ::recv(connection.fd(), buffer.data(), want, MSG_DONTWAIT);
        if (got > 0) {
            taken += static_cast<std::size_t>(got);
            for (const auto& report :
                 connection.stream().append(std::span(buffer.data(), static_cast<std::size_t>(got)))) {
                processor.applyReport(connection, report);
                if (observer && *observer)
                    (*observer)(connection, report);
            }
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return Outcome::Drained;
        // End of stream (the station closed) or a receive error: either way the connection ends here,
        // and its disconnect handling runs on this thread.
        connection.close();
        return Outcome::Closed;
    }
    return Outcome::Drained;
}

} // namespace ostrel
