#include "stations/ReportStream.h"

#include "core/LittleEndian.h"

#include <algorithm>
#include <array>

namespace ostrel {

namespace {

// Where the next signature begins at or after `from`; for a tail that holds no whole signature,
// the start of its longest suffix that could still grow into one (so "02" or "02 48" at the very
// end is kept for the next receive).
std::size_t nextCandidate(std::span<const std::uint8_t> bytes, std::size_t from)
{
    const auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(), RecordSignature.begin(),
                                RecordSignature.end());
    if (it != bytes.end())
        return static_cast<std::size_t>(it - bytes.begin());
    for (std::size_t keep = std::min(RecordSignature.size() - 1, bytes.size() - from); keep > 0; --keep) {
        if (std::equal(bytes.end() - static_cast<std::ptrdiff_t>(keep), bytes.end(), RecordSignature.begin()))
            return bytes.size() - keep;
    }
    return bytes.size();
}

bool startsLikeSignature(std::span<const std::uint8_t> bytes)
{
    const std::size_t n = std::min(bytes.size(), RecordSignature.size());
    return std::equal(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), RecordSignature.begin());
}

} // namespace

std::size_t ReportStream::decode(std::span<const std::uint8_t> data, std::size_t pos, std::size_t until,
                                 std::vector<StationReport>& reports)
{
    while (pos < until) {
        const auto rest = data.subspan(pos);
        if (!startsLikeSignature(rest)) {
            const std::size_t next = nextCandidate(data, pos + 1);
            m_droppedBytes += next - pos;
            ++m_droppedRecords;
            pos = next;
            continue;
        }
        if (rest.size() < StationReportSize)
            break; // a report still arriving
        auto report = decodeStationReport(rest.first<StationReportSize>());
        if (!report) {
            // Unreachable while startsLikeSignature holds for three bytes; kept so a change of the
            // signature test cannot stall the stream.
            m_droppedBytes += 1;
            ++m_droppedRecords;
            pos += 1;
            continue;
        }
        reports.push_back(std::move(*report));
        ++m_decoded;
        pos += StationReportSize;
    }
    return pos;
}

std::vector<StationReport> ReportStream::append(std::span<const std::uint8_t> bytes)
{
    std::vector<StationReport> reports;
    std::size_t from = 0; // where the new bytes are read in place, without a copy
    if (!m_buffer.empty()) {
        // What is held back is completed with at most two reports' worth of the new bytes: enough
        // that, once the held bytes are behind, everything left lies in `bytes` alone.
        const std::size_t held = m_buffer.size();
        const std::size_t take = std::min(bytes.size(), 2 * StationReportSize);
        m_buffer.insert(m_buffer.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        const std::size_t pos = decode(m_buffer, 0, held, reports);
        if (pos < held) {
            // A report still arriving, and every new byte is already in the buffer behind it.
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + static_cast<std::ptrdiff_t>(pos));
            return reports;
        }
        from = pos - held;
        m_buffer.clear();
    }
    const std::size_t pos = decode(bytes, from, bytes.size(), reports);
    m_buffer.assign(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end());
    // A burst may have grown the buffer far beyond one report; do not keep that memory per connection.
    if (m_buffer.capacity() > 16 * StationReportSize)
        m_buffer.shrink_to_fit();
    return reports;
}

} // namespace ostrel
