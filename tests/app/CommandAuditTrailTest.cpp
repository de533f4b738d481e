#include "app/CommandAuditTrail.h"

#include "commands/AuditedTransport.h"
#include "commands/SendStationCommand.h"
#include "log/AuditTrail.h"
#include "support/StationsTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <optional>

namespace ostrel {
namespace {

using namespace testing;

StationRow stationRow(std::string name, std::string address)
{
    StationRow row;
    row[ColComputer] = std::move(name);
    row[ColAddress] = std::move(address);
    return row;
}

TEST(AuditedTransport, RecordsEachCommandWithItsFinalResultWhereverItWasSent)
{
    StationsWorld w;
    AuditTrail trail(w.dir.file("Ostrel.audit.csv"), w.log, "op");
    bool onWindowThread = false;
    CommandAuditTrail audit(trail, {.stationName =
                                        [](std::string_view address) {
                                            return address == "127.0.0.2" ? std::string("pc1") : std::string();
                                        },
                                    .mayWriteHere = [&] { return !onWindowThread; },
                                    .clock = [] { return at(12, 0, 0); }});
    AuditedTransport audited(w.transport, {&audit});
    AuditedTransport resumption(w.transport, {&audit}, CommandOrigin::Server);
    StationCommand game{CommandCode::cmdStartGame, "Quake", 3, 45 * Minute};
    StationCommand reboot{CommandCode::cmdReboot, {}, 0, 0};
    const struct
    {
        const char* name;
        bool connected;
        SendResult deliver;
        bool posted;
        StationCommand command;
        const char* line;
        bool automatic = false;
    } cases[] = {
        {"sent", true, SendResult::Sent, false, game,
         "08.12.2026 12:00:00;op;pc1;127.0.0.2;Игра;Quake;3,00;45;отправлена"},
        {"no connection", false, SendResult::Sent, false, reboot,
         "08.12.2026 12:00:00;op;pc1;127.0.0.2;Перезагрузка;;;;нет подключения"},
        {"posted, not delivered", true, SendResult::NotDelivered, true, reboot,
         "08.12.2026 12:00:00;op;pc1;127.0.0.2;Перезагрузка;;;;не доставлена"},
        {"posted from the window, no connection", false, SendResult::Sent, true, game,
         "08.12.2026 12:00:00;op;pc1;127.0.0.2;Игра;Quake;3,00;45;нет подключения"},
        {"resumed by the server", true, SendResult::Sent, true, game,
         "08.12.2026 12:00:00;автоматически;pc1;127.0.0.2;Игра;Quake;3,00;45;отправлена", true},
    };
    std::string expected = auditHeaderLine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        w.transport.connected = c.connected;
        w.transport.deliver = c.deliver;
        onWindowThread = c.posted && !c.connected;
        const SendResult want = c.connected ? c.deliver : SendResult::NoConnection;
        std::optional<SendResult> told;
        if (c.posted)
            (c.automatic ? resumption : audited).post("127.0.0.2", c.command, [&](SendResult r) { told = r; });
        else
            told = SendStationCommand(audited, stationRow("pc1", "127.0.0.2"), c.command);
        EXPECT_EQ(told, want);
        w.log.waitDurable();
        expected += std::string(c.line) + "\r\n";
        EXPECT_EQ(readWholeFile(trail.path()), expected);
    }

    // The menu's own check found no connection: recorded without minutes, nothing sent.
    onWindowThread = true;
    const std::size_t sentBefore = w.transport.sent.size();
    audited.notConnected("127.0.0.2", {CommandCode::cmdStartGame, "Quake", 3, 0});
    w.log.waitDurable();
    EXPECT_EQ(readWholeFile(trail.path()),
              expected + "08.12.2026 12:00:00;op;pc1;127.0.0.2;Игра;Quake;3,00;;нет подключения\r\n");
    EXPECT_EQ(w.transport.sent.size(), sentBefore);
}

} // namespace
} // namespace ostrel
