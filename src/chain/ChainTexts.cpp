#include "chain/ChainTexts.h"

#include "chain/ChainShipper.h"
#include "core/DateTime.h"
#include "core/Texts.h"

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

namespace ostrel {

namespace {

std::string sinceText(const ChainStatus& status)
{
    if (!status.awaySince)
        return {};
    const auto parts = splitDateTime(*status.awaySince);
    return parts ? formatTime(parts->fraction).value_or(std::string()) : std::string();
}

} // namespace

std::string ChainWatch::summaryLine(const ChainStatus& status)
{
    if (status.stopped)
        return *status.stopped;
    if (status.awaySince)
        return chain::awayText(sinceText(status));
    return chain::shippedText(status.shipped, status.waiting);
}

std::optional<std::string> ChainWatch::takeAlert(const ChainStatus& status)
{
    if (!status.awaySince) {
        m_alerted = false;
        return std::nullopt;
    }
    if (m_alerted || status.awayFor < AlertAfter)
        return std::nullopt;
    m_alerted = true;
    return chain::awayAlertText(sinceText(status));
}

} // namespace ostrel
