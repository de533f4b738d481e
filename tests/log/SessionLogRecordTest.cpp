#include "log/SessionLogRecord.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace ostrel {
namespace {

SessionLogRecord sampleRecord()
{
    SessionLogRecord r;
    r.closedAt = 46000.5;
    r.price = 30;
    r.start = 0.25;
    r.duration = 0.0625;
    r.finish = 0.3125;
    r.sum = 45;
    r.computer = "PC-01";
    r.address = "127.0.0.2";
    r.status = "\xD7\xE0\xF1"; // Час
    r.comment = "Reset";
    return r;
}

// The expected file bytes, built by hand from the layout rather than through the encoder.
LogRecordBytes expectedSampleBytes()
{
    LogRecordBytes b{};
    auto put = [&](std::size_t at, std::vector<std::uint8_t> bytes) {
        for (std::size_t i = 0; i < bytes.size(); ++i)
            b[at + i] = bytes[i];
    };
    put(0, {0x00, 0x00, 0x00, 0x00, 0x10, 0x76, 0xE6, 0x40});  // 46000.5
    put(8, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3E, 0x40});  // 30.0
    put(16, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD0, 0x3F}); // 0.25
    put(24, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xB0, 0x3F}); // 0.0625
    put(32, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD4, 0x3F}); // 0.3125
    put(40, {0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x46, 0x40}); // 45.0
    // 48..56 reserved, zero. From 57 on every byte is XORed with 0x5B, the zero padding included.
    for (std::size_t i = 57; i < 168; ++i)
        b[i] = 0x5B;
    auto text = [&](std::size_t at, const std::string& s) {
        b[at] = static_cast<std::uint8_t>(s.size() ^ 0x5B);
        for (std::size_t i = 0; i < s.size(); ++i)
            b[at + 1 + i] = static_cast<std::uint8_t>(static_cast<unsigned char>(s[i]) ^ 0x5B);
    };
    text(57, "PC-01");
    text(88, "127.0.0.2");
    text(105, "\xD7\xE0\xF1");
    text(146, "Reset");
    return b;
}

TEST(SessionLogRecord, EncodesEveryByteAtItsOffset)
{
    const LogRecordBytes actual = encodeLogRecord(sampleRecord());
    const LogRecordBytes expected = expectedSampleBytes();
    for (std::size_t i = 0; i < SessionLogRecordSize; ++i)
        EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
}

TEST(SessionLogRecord, DecodeReadsBackWhatEncodeWrote)
{
    const SessionLogRecord r = decodeLogRecord(expectedSampleBytes());
    EXPECT_EQ(r.closedAt, 46000.5);
    EXPECT_EQ(r.price, 30);
    EXPECT_EQ(r.start, 0.25);
    EXPECT_EQ(r.duration, 0.0625);
    EXPECT_EQ(r.finish, 0.3125);
    EXPECT_EQ(r.sum, 45);
    EXPECT_EQ(r.computer, "PC-01");
    EXPECT_EQ(r.address, "127.0.0.2");
    EXPECT_EQ(r.status, "\xD7\xE0\xF1");
    EXPECT_EQ(r.comment, "Reset");
    EXPECT_EQ(logRecordClosedAt(expectedSampleBytes()), 46000.5);
}

TEST(SessionLogRecord, ScramblingTouchesOnlyBytes57To167AndIsItsOwnInverse)
{
    LogRecordBytes bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const LogRecordBytes original = bytes;

    ScrambleLogRecord(bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        EXPECT_EQ(bytes[i], i < 57 ? original[i] : original[i] ^ 0x5B) << "byte " << i;
    ScrambleLogRecord(bytes);
    EXPECT_EQ(bytes, original);
}

TEST(SessionLogRecord, TextsAreCutToTheirCapacities)
{
    struct Case
    {
        std::string SessionLogRecord::*field;
        std::size_t offset;
        std::size_t capacity;
    };
    const Case cases[] = {
        {&SessionLogRecord::computer, 57, 30},
        {&SessionLogRecord::address, 88, 16},
        {&SessionLogRecord::status, 105, 40},
        {&SessionLogRecord::comment, 146, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        for (const std::size_t length : {std::size_t{0}, c.capacity - 1, c.capacity, c.capacity + 5}) {
            SessionLogRecord r;
            std::string text;
            for (std::size_t i = 0; i < length; ++i)
                text += static_cast<char>('A' + i % 26);
            r.*c.field = text;
            LogRecordBytes bytes = encodeLogRecord(r);
            const std::size_t stored = std::min(length, c.capacity);
            EXPECT_EQ(decodeLogRecord(bytes).*c.field, text.substr(0, stored));

            ScrambleLogRecord(bytes);
            EXPECT_EQ(bytes[c.offset], stored);
            for (std::size_t i = stored; i < c.capacity; ++i)
                EXPECT_EQ(bytes[c.offset + 1 + i], 0) << "text byte " << i; // zero after the text
        }
    }
}

TEST(SessionLogRecord, CommentsKeepTheirLengthsBeforeScrambling)
{
    for (const std::string comment : {"Ok", "Reset"}) {
        SessionLogRecord r;
        r.comment = comment;
        LogRecordBytes bytes = encodeLogRecord(r);
        EXPECT_EQ(bytes[146], comment.size() ^ 0x5B);
        ScrambleLogRecord(bytes);
        EXPECT_EQ(bytes[146], comment.size());
        EXPECT_EQ(bytes[167], 0); // the pad
    }
}

TEST(SessionLogRecord, DamagedBytesDecodeWithoutReadingPastAField)
{
    LogRecordBytes bytes;
    bytes.fill(0xFF); // every length byte unscrambles to 0xA4, beyond every capacity; doubles are NaN
    EXPECT_FALSE(logRecordLengthsValid(bytes));
    const SessionLogRecord r = decodeLogRecord(bytes);
    EXPECT_TRUE(std::isnan(r.closedAt));
    EXPECT_EQ(r.computer.size(), 30u);
    EXPECT_EQ(r.address.size(), 16u);
    EXPECT_EQ(r.status.size(), 40u);
    EXPECT_EQ(r.comment.size(), 20u);

    EXPECT_TRUE(logRecordLengthsValid(encodeLogRecord(sampleRecord())));
    LogRecordBytes oneBad = encodeLogRecord(sampleRecord());
    oneBad[146] = static_cast<std::uint8_t>(21 ^ 0x5B); // comment capacity is 20
    EXPECT_FALSE(logRecordLengthsValid(oneBad));
}

TEST(SessionLogRecord, NonFiniteNumbersSurviveTheRoundTrip)
{
    SessionLogRecord r = sampleRecord();
    r.closedAt = std::numeric_limits<double>::quiet_NaN();
    r.sum = -std::numeric_limits<double>::infinity();
    const SessionLogRecord back = decodeLogRecord(encodeLogRecord(r));
    EXPECT_TRUE(std::isnan(back.closedAt));
    EXPECT_EQ(back.sum, -std::numeric_limits<double>::infinity());
}

} // namespace
} // namespace ostrel
