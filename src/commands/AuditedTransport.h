#pragma once

#include "commands/CommandTransport.h"
#include "commands/StationCommand.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

// Who gave a command: the operator, through the menu, or the server itself (a session resumed after
// a station's reset).
enum class CommandOrigin
{
    Operator,
    Server,
};

// Where the audit of commands goes: told of every command with its final result, once, on the
// thread that learned it (the network thread, or the caller's when nothing could be sent).
class CommandAudit
{
public:
    virtual void record(std::string_view address, const StationCommand& command, SendResult result,
                        CommandOrigin origin) = 0;

protected:
    ~CommandAudit() = default;
};

// A command transport that tells each of its audits of every command it passes on, with its final
// result and who gave it: the operator's menu posts through one, resumption through another.
class AuditedTransport : public CommandTransport
{
public:
    AuditedTransport(CommandTransport& inner, std::vector<CommandAudit*> audits,
                     CommandOrigin origin = CommandOrigin::Operator)
        : m_inner(inner), m_audits(std::move(audits)), m_origin(origin)
    {}

    void post(std::string address, const StationCommand& command, SendDone done) override;
    bool hasConnection(std::string_view address) const override { return m_inner.hasConnection(address); }
    void notConnected(std::string_view address, const StationCommand& command) override
    {
        record(address, command, SendResult::NoConnection);
    }

private:
    void record(std::string_view address, const StationCommand& command, SendResult result) const
    {
        for (CommandAudit* audit : m_audits)
            audit->record(address, command, result, m_origin);
    }

    CommandTransport& m_inner;
    std::vector<CommandAudit*> m_audits;
    CommandOrigin m_origin;
};

} // namespace ostrel
