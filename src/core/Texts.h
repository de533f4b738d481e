#pragma once

#include "core/DateTime.h"
#include "core/MoneyText.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

// The texts the server writes into cells, log fields and the report, and reads back from cells.
// This is the only code that writes or reads these forms; it never consults the C or Qt locale.

struct TextFormat
{
    char decimalSeparator = ',';
    char dateSeparator = '.'; // short date dd.MM.yyyy
    char timeSeparator = ':'; // long time H:mm:ss
};

// The formats of the salon's locale (Russian), in one place.
inline constexpr TextFormat SalonFormat{};

// Takes the first line off `text` and returns it without its end, "\n" or "\r\n"; the last line
// needs no end.
std::string_view takeLine(std::string_view& text);

// Time: the time of day of x (see timeOfDay) as "H:mm:ss": "1:30:59", "10:00:00", "0:05:00".
// nullopt for a non-finite or out-of-range x.
std::optional<std::string> formatTime(double x);

// H:mm:ss from its parts; the hours are written whole, so a duration past a day reads "25:00:05".
std::string formatTimeOfDay(const TimeOfDay& t);

// Reads "H:mm:ss" (also "H:mm") back into a day fraction; hours 0..23, minutes and seconds 0..59.
// nullopt for anything else, the empty text included.
std::optional<double> parseTime(std::string_view text);

// Short date "dd.MM.yyyy" of the date part of x; nullopt when !isValidDateTime(x).
std::optional<std::string> formatDate(double x);

// Reads "d.M.yyyy" (one or two digits for day and month, exactly four for the year, blanks allowed
// around the fields, as a masked edit field leaves them) into the day number at 00:00; nullopt
// unless it is a real date in 0001..9999.
std::optional<double> parseDate(std::string_view text);

// Date and time: the short date, then a blank and the long time unless hours, minutes and seconds
// are all zero. nullopt when !isValidDateTime(x).
std::optional<std::string> formatDateTime(double x);

// The short date, a blank and the long time, midnight's "0:00:00" too: "08.12.2026 9:05:00", as
// the server's own files write a moment. nullopt when !isValidDateTime(x).
std::optional<std::string> formatDateAndTime(double x);
// Reads that back (the date as parseDate reads it, the time as parseTime); nullopt otherwise.
std::optional<double> parseDateAndTime(std::string_view text);

// The line below a report's totals when it left repeated records out of them, UTF-8:
// "Повторных записей не учтено: 2".
std::string repeatsLeftOutText(std::uint64_t count);

// What the server's files could not take yet, as the main window's line and the tray alert show
// it, UTF-8, one clause per file, "; " between them; empty when nothing waits:
// "Журнал не записан: 3 сессии ждут записи (нет места на диске)"
// "Журнал команд не записан: 1 строка ждет записи (вместо файла ссылка)"
// "Список компьютеров не записан (нет доступа к файлу)"
struct WriteFaultCounts
{
    std::size_t sessions = 0; // records of the session log waiting in memory
    int sessionsError = 0;    // errno of their latest failure
    std::size_t lines = 0;    // lines of the audit trail waiting in memory
    int linesError = 0;
    int stationsError = 0; // errno of the stations file's last failed rewrite, 0 when it was written
};
std::string writeFaultText(const WriteFaultCounts& faults);

// Why a file could not be written, in a few words: "нет места на диске", "вместо файла ссылка".
std::string writeErrorText(int error);
// A command refused while too much waits: "Команда не отправлена: журнал не записан, ждут записи
// 10000 сессий и строк"
std::string commandsRefusedText(std::size_t waiting);

// Russian chooses a noun's form by the last two digits of the number: 1, 21 (one); 2-4, 22-24
// (few); 0, 5-20, 25-30 (many).
enum class Plural
{
    One,
    Few,
    Many,
};
Plural pluralOf(std::uint64_t count);
const char* pick(Plural form, const char* one, const char* few, const char* many);

// Whole number as the configuration writes it: optional sign and decimal digits, blanks around
// allowed; nullopt when it is not a whole number or does not fit in 32 bits.
std::optional<int> parseWholeNumber(std::string_view text);

} // namespace ostrel
