#include "chain/ChainTexts.h"

namespace ostrel::chain {

std::string shippedText(std::uint64_t shipped, std::uint64_t waiting)
{
    return "Сеть салонов: передано " + std::to_string(shipped) + ", ждут " + std::to_string(waiting);
}

std::string awayText(std::string_view since)
{
    return "Сеть салонов: нет связи с базой (с " + std::string(since) + ")";
}

std::string awayAlertText(std::string_view since)
{
    return "Нет связи с базой сети салонов с " + std::string(since) + ". Записи ждут и будут переданы позже.";
}

std::string conflictText(std::string_view salon, std::string_view file, std::uint64_t position)
{
    return "Сеть салонов: передача остановлена: в базе у салона «" + std::string(salon) + "» уже другая запись " +
           std::string(file) + " на месте " + std::to_string(position);
}

} // namespace ostrel::chain
