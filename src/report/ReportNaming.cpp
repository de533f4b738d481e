#include "report/ReportNaming.h"

#include "core/Texts.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace ostrel {

namespace {

std::string dateText(double date)
{
    return formatDate(date).value_or(std::string());
}

} // namespace

std::string reportTitle(double dateBeg, double dateEnd)
{
    return "Отчет о работе с " + dateText(dateBeg) + " по " + dateText(dateEnd);
}

std::string reportCsvFileName(double dateBeg, double dateEnd)
{
    return "Отчет " + dateText(dateBeg) + "-" + dateText(dateEnd) + ".csv";
}

std::string shiftReportTitle(double from, double until)
{
    return "Отчет за смену с " + formatDateAndTime(from).value_or(std::string()) + " по " +
           formatDateAndTime(until).value_or(std::string());
}

std::string shiftCsvFileName(double from, double until)
{
    std::string name = "Отчет смены " + formatDateAndTime(from).value_or(std::string()) + "-" +
                       formatDateAndTime(until).value_or(std::string()) + ".csv";
    std::ranges::replace(name, ':', '-'); // no colon in a file name a spreadsheet may be given
    return name;
}

std::string withCsvSuffix(std::string name)
{
    constexpr std::string_view Suffix = ".csv";
    const bool has = name.size() >= Suffix.size() &&
                     std::equal(Suffix.begin(), Suffix.end(), name.end() - static_cast<std::ptrdiff_t>(Suffix.size()),
                                [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
    if (!has)
        name += Suffix;
    return name;
}

} // namespace ostrel
