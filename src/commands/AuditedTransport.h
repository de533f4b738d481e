#pragma once

#include "commands/CommandTransport.h"

#include <functional>
#include <string>
#include <string_view>

namespace ostrel {

class AuditTrail;

// A command transport that records every command it passes on in the audit trail, with its final
// result: what the operator's menu posts and what resumption sends go through it alike.
class AuditedTransport : public CommandTransport
{
public:
    struct Hooks
    {
        // The computer name the station table shows for the address, Windows-1251; empty when none.
        std::function<std::string(std::string_view address)> stationName{};
        // False on a thread that must not do file work (the window's): the line is then handed to
        // the log's thread. Empty: every thread may.
        std::function<bool()> mayWriteHere{};
        std::function<double()> clock{}; // local date-time as a day number; empty: now
    };

    AuditedTransport(CommandTransport& inner, AuditTrail& trail, Hooks hooks);

    SendResult sendToAddress(std::string_view address, std::span<const std::uint8_t> bytes) override;
    SendResult sendWithOutcome(std::string_view address, std::span<const std::uint8_t> bytes, SendDone done) override;
    void postToAddress(std::string address, std::vector<std::uint8_t> bytes, SendDone done) override;
    bool hasConnection(std::string_view address) const override;
    void notConnected(std::string_view address, std::span<const std::uint8_t> bytes) override;

private:
    // Wraps `done` so that the result is recorded before it is told.
    SendDone recording(std::string_view address, std::span<const std::uint8_t> bytes, SendDone done);
    void record(const std::string& address, const std::vector<std::uint8_t>& bytes, SendResult result);

    CommandTransport& m_inner;
    AuditTrail& m_trail;
    Hooks m_hooks;
};

} // namespace ostrel
