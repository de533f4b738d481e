#pragma once

#include "core/DateTime.h"

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

// Money: rounded to five significant digits, then written with exactly two decimals and a comma:
// 1234.567 -> "1234,60", 2.5 -> "2,50", 9999.99 -> "10000,00". A value whose rounded form has more
// than five digits before the comma is written in exponent form: 123456.78 -> "1,2346E5",
// 100000 -> "1E5". Negative values keep their '-'. Below 100 the two decimals are the tighter limit.
// Either way the value is rounded once, on the shortest decimal text that reads back as the double,
// and a tie goes away from zero: 0.125 -> "0,13", 1234.25 -> "1234,30", 2.675 -> "2,68" (the
// double is a little below 2.675, but it is the amount 2.675), -0.125 -> "-0,13". A value that
// rounds to zero is "0,00", without a sign. nullopt for a non-finite value.
std::optional<std::string> formatMoney(double value);

// Reads a money text back, as a fixed-point number with four decimals (so at most four decimals
// survive): "180,00", "-2,5", "1,2346E5". Blanks around the number are allowed. nullopt for an
// empty or malformed text, or a value outside the four-decimal fixed-point range.
std::optional<double> parseMoney(std::string_view text);

// Reads a plain number as the tariff lists and the configuration write it: the comma is the
// decimal separator ("1,5"); a whole number ("10") is fine; no exponent, and the full stop is no
// separator ("1.5" is refused, as the salon's format would refuse it). nullopt when it is not a number.
std::optional<double> parseDecimal(std::string_view text);

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

// The hall's menu, windows and alerts, UTF-8.
namespace hall {
inline constexpr std::string_view Menu = "Зал";
inline constexpr std::string_view DroppedItem = "Отключенные компьютеры…";
inline constexpr std::string_view SummaryItem = "Сводка…";
inline constexpr std::string_view DroppedTitle = "Отключенные компьютеры";
inline constexpr std::string_view SummaryTitle = "Сводка";
inline constexpr std::string_view DroppedAtHeader = "Отключен";
inline constexpr std::string_view TariffHeader = "Тариф";
inline constexpr std::string_view RemoveOne = "Убрать";
inline constexpr std::string_view RemoveAll = "Убрать все";
inline constexpr std::string_view Connected = "Подключено";
inline constexpr std::string_view Paid = "Повременная оплата";
inline constexpr std::string_view Game = "Игра";
inline constexpr std::string_view Waiting = "Ожидание";
inline constexpr std::string_view Free = "Свободно";
inline constexpr std::string_view Closed = "Закрыто";
inline constexpr std::string_view Unloaded = "Выгружено";
inline constexpr std::string_view Sessions = "Сеансов за сегодня";
inline constexpr std::string_view Logged = "Выручка за сегодня";
inline constexpr std::string_view Running = "Идущие сеансы";
inline constexpr std::string_view Total = "Итого";
inline constexpr std::string_view LogReading = "Журнал читается…";
inline constexpr std::string_view LogUnread = "Журнал прочитан не полностью";
} // namespace hall

// Alert texts, UTF-8; names and tariffs are given in UTF-8, sums as their cells show them.
// "Отключился Comp-3: Игра, сумма 12,00"
std::string droppedAlertText(std::string_view computer, std::string_view tariff, std::string_view sum);
// "Отключились сразу 7 компьютеров" (the count as a number, the word in the form that follows it)
std::string powerCutAlertText(int count);

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

// The alert after a start with sessions from before: "При остановке сервера шли сеансы: 3; они ждут
// свои компьютеры".
std::string returnAlertText(std::size_t sessions);
// A waiting session's time until it is logged "Reset", as the dropped stations' window shows it:
// "ждет еще 1:58".
std::string awaitingReturnText(int seconds);
// Why a file could not be written, in a few words: "нет места на диске", "вместо файла ссылка".
std::string writeErrorText(int error);
// A command refused while too much waits: "Команда не отправлена: журнал не записан, ждут записи
// 10000 сессий и строк"
std::string commandsRefusedText(std::size_t waiting);
// "Comp-3: игра заканчивается, осталось 0:05:00"
std::string timeLowAlertText(std::string_view computer, std::string_view left);

// Whole number as the configuration writes it: optional sign and decimal digits, blanks around
// allowed; nullopt when it is not a whole number or does not fit in 32 bits.
std::optional<int> parseWholeNumber(std::string_view text);

// The command menu's fixed items, UTF-8.
namespace menu {
inline constexpr std::string_view Wait = "Ожидание";
inline constexpr std::string_view Free = "Освободить";
inline constexpr std::string_view Block = "Блокировка";
inline constexpr std::string_view KillApps = "Убить все приложения";
inline constexpr std::string_view Reboot = "Перезагрузка";
inline constexpr std::string_view PowerOff = "Выключить компьютер";
inline constexpr std::string_view LogOff = "Выйти из системы";
} // namespace menu

// The audit trail of commands: its window, its header and its words, UTF-8.
namespace audit {
inline constexpr std::string_view MenuItem = "Журнал команд…";
inline constexpr std::string_view Title = "Журнал команд";
inline constexpr std::string_view Header =
    "Дата и время;Пользователь;Компьютер;Адрес;Команда;Тариф;Цена;Минуты;Результат";
inline constexpr std::string_view Sent = "отправлена";
inline constexpr std::string_view NoConnection = "нет подключения";
inline constexpr std::string_view NotDelivered = "не доставлена";
inline constexpr std::string_view Reading = "Журнал команд читается…";
inline constexpr std::string_view Empty = "Команд ещё не было";
inline constexpr std::string_view Unreadable = "Журнал команд не читается";
inline constexpr std::string_view Refresh = "Обновить";
inline constexpr std::string_view Damaged = "(строка повреждена)";
// Commands in words: the menu's own captions (menu::) for the station commands, and these for the
// tariff commands, whose menu items carry the tariff's name.
inline constexpr std::string_view StartPaid = "Повременная оплата";
inline constexpr std::string_view WaitPaid = "Ожидание: повременная оплата";
inline constexpr std::string_view StartGame = "Игра";
inline constexpr std::string_view WaitGame = "Ожидание: игра";
inline constexpr std::string_view OtherCommand = "Команда "; // followed by its code
} // namespace audit
// Money counted to the kopeck, as the cash book writes it: exactly two decimals and a comma, no
// rounding to significant digits: 123456.78 -> "123456,78", -0.5 -> "-0,50".
std::string formatKopecks(std::int64_t kopecks);
// A sum of money as the log's doubles hold it, to the nearest kopeck; nullopt when not finite or
// beyond a trillion.
std::optional<std::int64_t> toKopecks(double money);
// Reads money typed or written to the kopeck: digits, then a comma or a dot and at most two
// decimals ("1234,50", "1234.5", "1234"), blanks around allowed, a '-' first only when `signedText`.
// nullopt for anything else, the empty text included.
std::optional<std::int64_t> parseKopecks(std::string_view text, bool signedText = false);

// The till: handing a counted shift over, the cash book Ostrel.cash.csv and its window, UTF-8.
namespace cash {
inline constexpr std::string_view Menu = "Касса";
inline constexpr std::string_view CashUpItem = "Сдать кассу…";
inline constexpr std::string_view BookItem = "Журнал кассы…";
inline constexpr std::string_view CashUpTitle = "Сдача кассы";
inline constexpr std::string_view BookTitle = "Журнал кассы";
inline constexpr std::string_view Header = "Время;Оператор;С;По;Сессий;По журналу;В кассе;Расхождение;Комментарий";
inline constexpr std::string_view Counted = "В кассе:";
inline constexpr std::string_view Difference = "Расхождение:";
inline constexpr std::string_view Comment = "Комментарий:";
inline constexpr std::string_view HandOver = "Сдать";
inline constexpr std::string_view ShiftReport = "Отчет за смену…";
inline constexpr std::string_view Cancel = "Отмена";
inline constexpr std::string_view Reading = "Журнал читается…";
inline constexpr std::string_view Writing = "Касса сдается…";
inline constexpr std::string_view NotMoney = "Сумма в кассе не похожа на деньги: например, 1234,50";
inline constexpr std::string_view NotRead = "Журнал не прочитан: кассу сдать нельзя";
inline constexpr std::string_view LogDamaged = "Журнал поврежден: сумма может быть неполной";
inline constexpr std::string_view BookDamaged = "Повреждена строка журнала кассы, она пропущена: ";
inline constexpr std::string_view Changed = "За это время закрылись сеансы: проверьте сумму еще раз";
inline constexpr std::string_view NotWritten = "Касса не сдана: ";
inline constexpr std::string_view Export = "Сохранить…";
inline constexpr std::string_view Refresh = "Обновить";
inline constexpr std::string_view Empty = "Касса еще не сдавалась";
inline constexpr std::string_view BookReading = "Журнал кассы читается…";
inline constexpr std::string_view Unreadable = "Журнал кассы не читается";
inline constexpr std::string_view NotSaved = "Не удалось записать файл ";
inline constexpr std::string_view SinceCashUp = "С последней сдачи кассы";
inline constexpr std::string_view TakingsChart = "Выручка по часам";
inline constexpr std::string_view BusyChart = "Занято компьютеров";
inline constexpr std::string_view ChartsOnPrint = "Графики на последней странице";
} // namespace cash
// "Смена с 08.12.2026 9:00:00 по 08.12.2026 21:00:00"
std::string shiftSpanText(double from, double until);
// "Сессий: 12", "По журналу: 1234,50", "Идут сейчас: 3 на 120,00"
std::string shiftSessionsText(std::uint64_t sessions);
std::string shiftComputedText(std::int64_t kopecks);
std::string shiftRunningText(int sessions, std::int64_t kopecks);

// Waking powered-off stations from the dropped-stations window, UTF-8.
namespace wake {
inline constexpr std::string_view WakeOne = "Включить";
inline constexpr std::string_view WakeAll = "Включить все";
inline constexpr std::string_view NothingToWake = "Все известные компьютеры подключены";
} // namespace wake

// The outcome of a wake-up, one line per kind, names in UTF-8:
// "Сигнал включения отправлен: 2"
// "Аппаратный адрес неизвестен, включить нельзя: Comp-3, Comp-7"
// "Сигнал включения не отправлен: Comp-9"
std::string wakeResultText(std::size_t sent, const std::vector<std::string>& unknown,
                           const std::vector<std::string>& failed);

} // namespace ostrel
