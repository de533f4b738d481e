#include "commands/StationCommand.h"
#include "commands/SendStationCommand.h"
#include "support/CommandsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ostrel {
namespace {

std::vector<std::uint8_t> slice(const CommandBytes& bytes, std::size_t from, std::size_t count)
{
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

bool allZero(const CommandBytes& bytes, std::size_t from, std::size_t to)
{
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                       bytes.begin() + static_cast<std::ptrdiff_t>(to), [](std::uint8_t b) { return b == 0; });
}

TEST(StationCommandCodec, PlainCodesCarryOnlySignatureAndCode)
{
    const struct
    {
        CommandCode code;
        std::vector<std::uint8_t> codeBytes;
    } cases[] = {
        {CommandCode::cmdFree, {0x00, 0, 0, 0}},     {CommandCode::cmdBlock, {0x01, 0, 0, 0}},
        {CommandCode::cmdKillApps, {0x65, 0, 0, 0}}, {CommandCode::cmdReboot, {0x66, 0, 0, 0}},
        {CommandCode::cmdPowerOff, {0x67, 0, 0, 0}}, {CommandCode::cmdLogOff, {0x69, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        StationCommand command;
        command.code = c.code;
        const auto bytes = encodeStationCommand(command);
        EXPECT_EQ(slice(bytes, 0, 4), (std::vector<std::uint8_t>{0x02, 0x48, 0x49, 0x00}));
        EXPECT_EQ(slice(bytes, 4, 4), c.codeBytes) << static_cast<int>(c.code);
        EXPECT_TRUE(allZero(bytes, 8, 48)) << static_cast<int>(c.code);
    }
}

TEST(StationCommandCodec, TariffCodesCarryNamePriceAndTime)
{
    const struct
    {
        CommandCode code;
        std::uint8_t codeByte;
    } cases[] = {{CommandCode::cmdStartPaid, 2},
                 {CommandCode::cmdWaitPaid, 3},
                 {CommandCode::cmdStartGame, 5},
                 {CommandCode::cmdWaitGame, 6}};
    for (const auto& c : cases) {
        StationCommand command{c.code, "Day", 1.5, 90 / 1440.0};
        const auto bytes = encodeStationCommand(command);
        EXPECT_EQ(slice(bytes, 4, 4), (std::vector<std::uint8_t>{c.codeByte, 0, 0, 0}));
        EXPECT_EQ(slice(bytes, 8, 4), (std::vector<std::uint8_t>{3, 'D', 'a', 'y'}));
        EXPECT_TRUE(allZero(bytes, 12, 32));
        EXPECT_EQ(slice(bytes, 32, 8), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0xF8, 0x3F})); // 1.5
        EXPECT_EQ(slice(bytes, 40, 8), (std::vector<std::uint8_t>{0, 0, 0, 0, 0, 0, 0xB0, 0x3F})); // 0.0625
    }
}

TEST(StationCommandCodec, LongTariffIsCutToTwentyBytes)
{
    const std::string name = "ABCDEFGHIJKLMNOPQRSTUVWXY"; // 25 bytes
    const auto bytes = encodeStationCommand({CommandCode::cmdStartPaid, name, 0, 0});
    EXPECT_EQ(bytes[8], 0x14);
    EXPECT_EQ(std::string(bytes.begin() + 9, bytes.begin() + 29), name.substr(0, 20));
    EXPECT_TRUE(allZero(bytes, 29, 48));
}

TEST(StationCommandCodec, DecodesWhatItEncodesAndRefusesOtherSignatures)
{
    const StationCommand command{CommandCode::cmdWaitGame, "\xC8\xE3\xF0\xE0", 2.25, 0.5};
    const auto bytes = encodeStationCommand(command);
    const auto back = decodeStationCommand(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->code, command.code);
    EXPECT_EQ(back->tariff, command.tariff);
    EXPECT_EQ(back->price, command.price);
    EXPECT_EQ(back->time, command.time);

    for (std::size_t at : {0, 1, 2}) {
        auto damaged = bytes;
        damaged[at] ^= 0x20;
        EXPECT_FALSE(decodeStationCommand(damaged)) << at;
    }
    auto hostileLength = bytes;
    hostileLength[8] = 0xFF; // never reads past the 20-byte field
    EXPECT_EQ(decodeStationCommand(hostileLength)->tariff.size(), 20u);
}

TEST(SendStationCommand, GoesToTheRowsAddress)
{
    testing::FakeTransport transport;
    transport.connected = {"192.168.0.7"};
    const auto row = testing::stationRow("PC1", "192.168.0.7", words::Closed);
    EXPECT_EQ(SendStationCommand(transport, row, {}), SendResult::Sent);
    ASSERT_EQ(transport.sent.size(), 1u);
    EXPECT_EQ(transport.sent[0].address, "192.168.0.7");
    EXPECT_EQ(slice(transport.sent[0].bytes, 0, 8), (std::vector<std::uint8_t>{0x02, 0x48, 0x49, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(allZero(transport.sent[0].bytes, 8, 48));

    const auto elsewhere = testing::stationRow("PC2", "192.168.0.8", words::Closed);
    EXPECT_EQ(SendStationCommand(transport, elsewhere, {}), SendResult::NoConnection);
    EXPECT_EQ(transport.sent.size(), 1u);
}

} // namespace
} // namespace ostrel
