#include "stations/ReportStream.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrel {
namespace {

std::vector<std::uint8_t> record(std::int32_t code)
{
    StationReport r;
    r.statusCode = code;
    r.statusText = "t";
    r.statusText += std::to_string(code);
    r.price = code;
    const auto bytes = encodeStationReport(r);
    return {bytes.begin(), bytes.end()};
}

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::int32_t> codes(const std::vector<StationReport>& reports)
{
    std::vector<std::int32_t> out;
    for (const auto& r : reports)
        out.push_back(r.statusCode);
    return out;
}

// Feeds `stream` in chunks of the given sizes (the last size repeats) and collects the codes.
std::vector<std::int32_t> feed(ReportStream& stream, const std::vector<std::uint8_t>& bytes, std::size_t chunk)
{
    std::vector<std::int32_t> out;
    for (std::size_t pos = 0; pos < bytes.size(); pos += chunk) {
        const std::size_t n = std::min(chunk, bytes.size() - pos);
        for (const auto& r : stream.append(std::span(bytes).subspan(pos, n)))
            out.push_back(r.statusCode);
        EXPECT_LT(stream.buffered(), StationReportSize);
    }
    return out;
}

TEST(ReportStream, SplitAnywhereGivesTheSameReports)
{
    const auto bytes = concat({record(1), record(2), record(3)});
    for (std::size_t chunk : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{87}, std::size_t{88},
                              std::size_t{89}, std::size_t{100}, std::size_t{176}, bytes.size()}) {
        ReportStream stream;
        EXPECT_EQ(feed(stream, bytes, chunk), (std::vector<std::int32_t>{1, 2, 3})) << chunk;
        EXPECT_EQ(stream.buffered(), 0u);
        EXPECT_EQ(stream.droppedBytes(), 0u);
    }
    // One split at every possible position.
    const auto two = concat({record(4), record(5)});
    for (std::size_t cut = 0; cut <= two.size(); ++cut) {
        ReportStream stream;
        auto first = codes(stream.append(std::span(two).first(cut)));
        auto second = codes(stream.append(std::span(two).subspan(cut)));
        first.insert(first.end(), second.begin(), second.end());
        EXPECT_EQ(first, (std::vector<std::int32_t>{4, 5})) << cut;
    }
}

TEST(ReportStream, ResynchronisesOnTheNextSignature)
{
    const std::vector<std::uint8_t> garbage = {0x01, 0x02, 0x48, 0x02, 0x02, 0x48, 0x4A, 0xFF};
    const auto lost = record(1);
    struct Case
    {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::vector<std::int32_t> expected;
        std::uint64_t droppedBytes;
    } cases[] = {
        {"garbage before", concat({garbage, record(1)}), {1}, garbage.size()},
        {"garbage between", concat({record(1), garbage, record(2)}), {1, 2}, garbage.size()},
        {"damaged signature", concat({{0x02, 0x68, 0x69}, std::vector<std::uint8_t>(85, 0), record(6)}), {6}, 88},
        // A record whose head was lost: its tail is skipped up to the next signature, not by 88 bytes.
        {"lost head", concat({std::vector<std::uint8_t>(lost.begin() + 10, lost.end()), record(2)}), {2}, 78},
    };
    for (const auto& c : cases) {
        for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{90}, std::size_t{200}, c.bytes.size()}) {
            ReportStream stream;
            EXPECT_EQ(feed(stream, c.bytes, chunk), c.expected) << c.what << " chunk " << chunk;
            EXPECT_EQ(stream.droppedBytes(), c.droppedBytes) << c.what << " chunk " << chunk;
            EXPECT_EQ(stream.buffered(), 0u) << c.what;
        }
    }
}

TEST(ReportStream, TruncatedTailWaitsAndGarbageIsNotKept)
{
    ReportStream stream;
    const auto r = record(3);
    EXPECT_TRUE(stream.append(std::span(r).first(50)).empty());
    EXPECT_EQ(stream.buffered(), 50u);
    EXPECT_EQ(codes(stream.append(std::span(r).subspan(50))), (std::vector<std::int32_t>{3}));

    // Bytes that cannot start a report are not buffered, except a tail that may become one.
    const std::vector<std::uint8_t> noise(1000, 0x41);
    EXPECT_TRUE(stream.append(noise).empty());
    EXPECT_EQ(stream.buffered(), 0u);
    const std::vector<std::uint8_t> almost = {0x41, 0x41, 0x02, 0x48};
    EXPECT_TRUE(stream.append(almost).empty());
    EXPECT_EQ(stream.buffered(), 2u);
    EXPECT_EQ(codes(stream.append(std::span(r).subspan(2))), (std::vector<std::int32_t>{3}));
    EXPECT_EQ(stream.decodedReports(), 2u);
}

TEST(ReportStream, ManyReportsInOneReceive)
{
    std::vector<std::uint8_t> bytes;
    std::vector<std::int32_t> expected;
    for (int i = 0; i < 500; ++i) {
        const auto r = record(i % 7);
        bytes.insert(bytes.end(), r.begin(), r.end());
        expected.push_back(i % 7);
    }
    bytes.push_back(0x02);
    ReportStream stream;
    EXPECT_EQ(codes(stream.append(bytes)), expected);
    EXPECT_EQ(stream.buffered(), 1u);
}

} // namespace
} // namespace ostrel
