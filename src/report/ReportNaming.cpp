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
