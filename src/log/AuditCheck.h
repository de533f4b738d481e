#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// A line of the file read back: its fields, and what is wrong with it when it is damaged.
struct AuditLineCheck
{
    std::vector<std::string> fields;
    std::optional<std::string> fault; // English, for the maintainer's tool
};

// Checks one line without its line end: well-formed RFC 4180 fields, as many as the header has, a
// readable date-time and a known result.
AuditLineCheck checkAuditLine(std::string_view line);

// Every line of a whole file checked, the header first; a last line without its line end is
// damaged (an append cut short).
struct AuditFileLine
{
    std::size_t number = 0; // from 1
    std::string text;       // without its line end
    AuditLineCheck check;
};
std::vector<AuditFileLine> checkAuditFile(std::string_view content);

} // namespace ostrel
