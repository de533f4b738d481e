#pragma once

#include "chain/ChainShipper.h"
#include "core/DateTime.h"
#include "log/SessionLogRecord.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::chaintest {

// `count` sessions closed a minute apart from `day` 09:00 over ten stations; every seventh is
// logged again a second later as "Reset" with the same figures: a repeat the work report lists
// but does not total. Sums are whole kopecks, and `salt` tells two salons' logs apart.
inline std::vector<SessionLogRecord> salonSessions(double day, int count, int salt = 0)
{
    std::vector<SessionLogRecord> out;
    double at = day + 9.0 / 24;
    for (int i = 0; out.size() < static_cast<std::size_t>(count); ++i) {
        SessionLogRecord r;
        at += 1.0 / 1440;
        r.closedAt = at;
        r.price = 30 + salt;
        r.start = std::fmod(at, 1.0) - 1.0 / 48;
        r.duration = (30 + i % 7) / 1440.0;
        r.finish = std::fmod(at, 1.0);
        r.sum = 12.5 + (i * 37 + salt) % 100 + 0.01 * (i % 3);
        r.computer = "PC-" + std::to_string(i % 10);
        r.address = "10.0.0." + std::to_string(i % 10 + 1);
        r.status = "\xD7\xE0\xF1"; // "Час"
        r.comment = "Ok";
        out.push_back(r);
        if (i % 7 == 3 && out.size() < static_cast<std::size_t>(count)) {
            r.closedAt += 1.0 / 86400;
            r.comment = "Reset";
            out.push_back(r);
            at = r.closedAt;
        }
    }
    return out;
}

inline void appendRecords(const std::string& path, const std::vector<SessionLogRecord>& records)
{
    std::string bytes;
    bytes.reserve(records.size() * SessionLogRecordSize);
    for (const SessionLogRecord& r : records) {
        const LogRecordBytes b = encodeLogRecord(r);
        bytes.append(reinterpret_cast<const char*>(b.data()), b.size());
    }
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// Polls `done` every 20 ms for at most `bound`.
inline bool waitUntil(const std::function<bool()>& done, std::chrono::seconds bound = std::chrono::seconds(60))
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline ChainTiming fastTiming(std::uint64_t batchRows = 1000)
{
    ChainTiming t;
    t.firstRetry = std::chrono::milliseconds(50);
    t.longestRetry = std::chrono::milliseconds(200);
    t.poll = std::chrono::milliseconds(20);
    t.hallEvery = std::chrono::milliseconds(50);
    t.batchRows = batchRows;
    return t;
}

} // namespace ostrel::chaintest
