#include "chain/ChainSettings.h"

#include "core/Cp1251.h"

#include <libpq-fe.h>

namespace ostrel {

std::optional<ChainSettings> readChainSettings(const IniFile& ini)
{
    const auto database = ini.value("Chain", "Database");
    if (!database || database->empty())
        return std::nullopt;
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(database->c_str(), &error);
    if (!options) {
        std::string why = error ? error : "out of memory";
        PQfreemem(error);
        while (!why.empty() && (why.back() == '\n' || why.back() == ' '))
            why.pop_back();
        throw ChainConfigError("[Chain] Database: строка подключения не читается (" + why + ")");
    }
    PQconninfoFree(options);
    const auto salon = ini.value("Chain", "Salon");
    if (!salon || salon->find_first_not_of(' ') == std::string::npos)
        throw ChainConfigError("[Chain] Salon: не задано название салона, без него Database не работает");
    // The ini's texts come as Windows-1251; the database holds UTF-8.
    return ChainSettings{cp1251ToUtf8(*database), cp1251ToUtf8(*salon)};
}

} // namespace ostrel
