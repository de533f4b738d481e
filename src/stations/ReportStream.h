#pragma once

#include "stations/StationReport.h"

#include <cstdint>
#include <span>
#include <vector>

namespace ostrel {

// Reassembles one connection's byte stream into whole 88-byte reports. TCP may split a report over
// several receives or deliver several at once; bytes that do not begin with the signature are
// skipped up to the next "02 48 49", so one damaged record costs only itself.
// Not thread-safe: a connection has one reader at a time.
class ReportStream
{
public:
    // Takes the bytes just received and returns every report they complete, in arrival order.
    // Afterwards at most one partial report (fewer than 88 bytes) stays buffered.
    std::vector<StationReport> append(std::span<const std::uint8_t> bytes);

    std::size_t buffered() const { return m_buffer.size(); }
    std::uint64_t decodedReports() const { return m_decoded; }
    std::uint64_t droppedBytes() const { return m_droppedBytes; }
    std::uint64_t droppedRecords() const { return m_droppedRecords; } // runs of bytes skipped to resynchronise

    void clear() { m_buffer.clear(); }

private:
    // Decodes from `pos` while it is below `until`, stopping at a report that is not whole yet;
    // returns where it stopped.
    std::size_t decode(std::span<const std::uint8_t> data, std::size_t pos, std::size_t until,
                       std::vector<StationReport>& reports);

    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_decoded = 0;
    std::uint64_t m_droppedBytes = 0;
    std::uint64_t m_droppedRecords = 0;
};

} // namespace ostrel
