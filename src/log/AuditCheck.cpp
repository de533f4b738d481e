#include "log/AuditCheck.h"

#include "core/Cp1251.h"
#include "core/CsvField.h"
#include "core/DateTime.h"
#include "core/Texts.h"
#include "log/AuditLine.h"
#include "log/AuditTexts.h"

namespace ostrel {

AuditLineCheck checkAuditLine(std::string_view line)
{
    AuditLineCheck check;
    check.fields = splitCsvLine(line, check.fault);
    if (check.fault)
        return check;
    if (!isValidUtf8(line))
        check.fault = "not UTF-8";
    else if (check.fields.size() != AuditFieldCount)
        check.fault = std::to_string(check.fields.size()) + " fields, " + std::to_string(AuditFieldCount) + " expected";
    else if (!parseDateAndTime(check.fields[0]))
        check.fault = "the date-time cannot be read";
    else if (const auto& r = check.fields.back();
             r != audit::Sent && r != audit::NoConnection && r != audit::NotDelivered)
        check.fault = "the result is none of the known words";
    return check;
}

std::vector<AuditFileLine> checkAuditFile(std::string_view content)
{
    const std::string header = auditHeaderLine();
    return checkCsvFileLines<AuditFileLine>(content,
                                            std::string_view(header).substr(0, header.size() - AuditLineEnd.size()),
                                            [](std::string_view line) { return checkAuditLine(line); });
}

} // namespace ostrel
