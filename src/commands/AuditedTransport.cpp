#include "commands/AuditedTransport.h"

#include <utility>

namespace ostrel {

void AuditedTransport::post(std::string address, const StationCommand& command, SendDone done)
{
    // The result is recorded before it is told.
    SendDone recording = [this, address, command, done = std::move(done)](SendResult result) {
        record(address, command, result);
        if (done)
            done(result);
    };
    m_inner.post(std::move(address), command, std::move(recording));
}

} // namespace ostrel
