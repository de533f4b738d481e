#pragma once

#include <string>

namespace ostrel {

// The report window's title for a period, in UTF-8: "Отчет о работе с 01.12.2026 по 08.12.2026".
std::string reportTitle(double dateBeg, double dateEnd);

// The file name the CSV export proposes: "Отчет 01.12.2026-08.12.2026.csv".
std::string reportCsvFileName(double dateBeg, double dateEnd);

// The same for a shift of the till, moments to the second: "Отчет за смену с 08.12.2026 9:00:00 по
// 08.12.2026 21:00:00", "Отчет смены 08.12.2026 9-00-00.csv".
std::string shiftReportTitle(double from, double until);
std::string shiftCsvFileName(double from, double until);

// The name with ".csv" added, unless it ends so already (letter case ignored).
std::string withCsvSuffix(std::string name);

} // namespace ostrel
