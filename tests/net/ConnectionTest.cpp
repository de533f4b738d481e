// A connection over a socketpair: its queue of waiting commands, without a server around it.

#include "net/Connection.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <numeric>
#include <utility>
#include <vector>

namespace ostrel {
namespace {

struct Pair
{
    Pair()
    {
        int fds[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) == 0) {
            ours = UniqueFd(fds[0]);
            peer = UniqueFd(fds[1]);
        }
    }
    UniqueFd ours;
    UniqueFd peer;
};

std::vector<std::uint8_t> command(std::size_t size, std::uint8_t first)
{
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

TEST(Connection, WaitingCommandsGoOutOldestFirstEachFromWhereTheSocketLeftIt)
{
    struct Waiting
    {
        std::size_t size;
        std::size_t sentAlready; // what the socket took before the command had to wait
    };
    const Waiting rows[] = {{48, 20}, {48, 0}, {48, 47}, {3, 0}};

    asio::io_context io;
    Pair pair;
    ASSERT_TRUE(pair.ours);
    auto connection = std::make_shared<Connection>(io, std::move(pair.ours), "10.0.0.7");
    std::vector<std::uint8_t> expected;
    std::vector<int> told; // row index per Sent, in the order told
    std::size_t waiting = 0;
    for (int i = 0; i < static_cast<int>(std::size(rows)); ++i) {
        const auto bytes = command(rows[i].size, static_cast<std::uint8_t>(i * 64));
        connection->queueOutput(bytes, rows[i].sentAlready, [&told, i](SendResult r) {
            if (r == SendResult::Sent)
                told.push_back(i);
        });
        expected.insert(expected.end(), bytes.begin() + static_cast<std::ptrdiff_t>(rows[i].sentAlready), bytes.end());
        waiting += rows[i].size - rows[i].sentAlready;
    }
    EXPECT_EQ(connection->pendingBytes(), waiting);

    while (connection->hasPendingOutput()) {
        const auto partial = connection->sendOldest();
        ASSERT_TRUE(partial.has_value());
        ASSERT_FALSE(*partial); // a socketpair's buffer takes these at once
        connection->dropOldest()(SendResult::Sent);
    }
    EXPECT_EQ(told, (std::vector<int>{0, 1, 2, 3}));
    std::vector<std::uint8_t> arrived(expected.size() + 1);
    ASSERT_EQ(::recv(pair.peer.get(), arrived.data(), arrived.size(), MSG_DONTWAIT),
              static_cast<ssize_t>(expected.size()));
    arrived.resize(expected.size());
    EXPECT_EQ(arrived, expected); // no command cut short, none repeated, none interleaved
}

TEST(Connection, AFailedSendAndShutdownTellEveryWaitingCommandNotDeliveredOnce)
{
    asio::io_context io;
    Pair pair;
    ASSERT_TRUE(pair.ours);
    auto connection = std::make_shared<Connection>(io, std::move(pair.ours), "10.0.0.7");
    std::vector<SendResult> told;
    for (int i = 0; i < 3; ++i)
        connection->queueOutput(command(48, 0), 0, [&told](SendResult r) { told.push_back(r); });
    connection->oweDisconnect();
    pair.peer.reset();

    EXPECT_FALSE(connection->sendOldest().has_value()); // EPIPE, and no SIGPIPE
    connection->abandon();
    EXPECT_TRUE(connection->isClosed());
    EXPECT_FALSE(connection->disconnectOwed()); // nothing is logged at shutdown
    EXPECT_FALSE(connection->hasPendingOutput());
    EXPECT_EQ(connection->pendingBytes(), 0u);
    EXPECT_EQ(told, std::vector<SendResult>(3, SendResult::NotDelivered));
    connection->failPending();
    EXPECT_EQ(told.size(), 3u);
}

} // namespace
} // namespace ostrel
