#pragma once

#include "core/CsvField.h"
#include "log/SessionLogRecord.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The sessions of a work report as a spreadsheet file: UTF-8 with a byte order mark (so a
// spreadsheet program does not guess a code page), ";" between fields (the money keeps its decimal
// comma), CRLF line ends. The sessions in file order, then totals per computer and per tariff.
// A repeated record (see WorkReportResult::repeats) is listed but counts in no total; a line after
// the totals says how many were left out.
class CsvReport
{
public:
    CsvReport();

    // False when a value of the record has no text form; the record is then left out.
    bool add(const SessionLogRecord& record, bool repeat = false);
    std::string finish();

private:
    struct Group
    {
        std::uint64_t count = 0;
        double money = 0;
        double time = 0;
    };
    // Names with numbers in them in the order a person counts: "PC-2" before "PC-10".
    struct NaturalLess
    {
        bool operator()(std::string_view a, std::string_view b) const;
    };
    using Groups = std::map<std::string, Group, NaturalLess>; // keyed by the Windows-1251 bytes
    void appendGroups(std::string_view title, const Groups& groups);

    std::string m_text;
    Groups m_computers;
    Groups m_tariffs;
    Group m_all;
    std::uint64_t m_repeats = 0;
};

// Reads the listed records (record numbers ascending, as the work report gives them) again from the
// log and builds the CSV; `repeats` are those of them the report left out of its totals. Records
// below the length the report read never change, so they are the same sessions. nullopt when the
// log cannot be read or a listed record is gone.
std::optional<std::string> exportWorkReportCsv(const std::string& logPath, const std::vector<std::uint64_t>& listed,
                                               const std::vector<std::uint64_t>& repeats = {});

} // namespace ostrel
