#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"

#include <string>
#include <string_view>

namespace ostrel {

// Where the audit of commands goes: told of every command with its final result, once, on the
// thread that learned it (the network thread, or the caller's when nothing could be sent).
class CommandAudit
{
public:
    virtual void record(std::string_view address, const StationCommand& command, SendResult result) = 0;

protected:
    ~CommandAudit() = default;
};

// A command transport that records every command it passes on with its final result: what the
// operator's menu posts and what resumption sends go through it alike.
class AuditedTransport : public CommandTransport
{
public:
    AuditedTransport(CommandTransport& inner, CommandAudit& audit) : m_inner(inner), m_audit(audit) {}

    void post(std::string address, const StationCommand& command, SendDone done) override;
    bool hasConnection(std::string_view address) const override { return m_inner.hasConnection(address); }
    void notConnected(std::string_view address, const StationCommand& command) override
    {
        m_audit.record(address, command, SendResult::NoConnection);
    }

private:
    CommandTransport& m_inner;
    CommandAudit& m_audit;
};

} // namespace ostrel
