#pragma once

#include "log/AuditCheck.h"
#include "log/AuditTrail.h"
#include "log/CashBook.h"
#include "log/SessionLogRecord.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// One table of the chain's database: its columns in the order of the rows the shipper writes, the
// first two (the salon and the position in its file) its key.
struct ChainTable
{
    std::string_view name;
    std::string_view batch; // the session's temporary table a batch is copied into first
    struct Column
    {
        std::string_view name;
        std::string_view type;
    };
    std::vector<Column> columns;

    std::string positionColumn() const { return std::string(columns[1].name); }
    std::string columnList() const; // "salon, log_offset, ..."
    std::string createStatement() const;
};

const ChainTable& sessionsTable();    // Ostrel.log, keyed by the record's byte offset
const ChainTable& commandsTable();    // Ostrel.audit.csv, keyed by the line number (the header is line 1)
const ChainTable& cashTable();        // Ostrel.cash.csv, keyed the same way
const ChainTable& stationsNowTable(); // the live hall, a salon's rows replaced at once

// A text as a field of COPY's text format: backslash, TAB, CR and LF escaped; a NUL, which a
// PostgreSQL text cannot hold, left out. Text that is not UTF-8 is taken as Windows-1251.
void appendCopyText(std::string& line, std::string_view text);
inline constexpr std::string_view CopyNull = "\\N";

// A day number as a timestamp ("2024-03-01 12:30:05.250"), a time of day, a span; nullopt for a
// value out of their range (a damaged record): the column is then NULL.
std::optional<std::string> sqlTimestamp(double dayNumber);
std::optional<std::string> sqlTimeOfDay(double dayNumber);
std::optional<std::string> sqlInterval(double days);
// Money to the kopeck, as numeric(12,2) takes it; nullopt beyond its range.
std::optional<std::string> sqlMoney(double amount);
std::string sqlKopecks(std::int64_t kopecks);

// One row of each table as a line of COPY (with its '\n'); `salon` already as appendCopyText gives it.
void appendSessionRow(std::string& out, std::string_view salon, std::uint64_t offset, const SessionLogRecord& record,
                      bool repeated);
void appendCommandRow(std::string& out, std::string_view salon, std::uint64_t lineNumber, std::string_view text,
                      const AuditLineCheck& check);
void appendCashRow(std::string& out, std::string_view salon, std::uint64_t lineNumber, std::string_view text,
                   const CashLineCheck& check);

// A station row of the hall as the station table shows it, Windows-1251.
struct HallRow
{
    std::string computer;
    std::string address;
    std::string status;
    std::string price;
    std::string start;
    std::string sum;
};
void appendStationRow(std::string& out, std::string_view salon, int row, const HallRow& station,
                      std::string_view updated);

} // namespace ostrel
