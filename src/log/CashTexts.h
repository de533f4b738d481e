#pragma once

#include <string_view>

namespace ostrel {

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

} // namespace ostrel
