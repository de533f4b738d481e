#include "app/ServerConfig.h"

#include "app/StartupError.h"
#include "core/Cp1251.h"
#include "core/Texts.h"

namespace ostrel {

namespace {

constexpr std::string_view ServerSection = "Server";
constexpr std::string_view Mandatory = "ERROR"; // not a number: an absent mandatory key fails
constexpr std::string_view FlagDefault = "1";
constexpr int HighestPort = 65535;
constexpr int LongestKeepAlive = 3600;
constexpr std::string_view AlertsSection = "Alerts";
constexpr int DefaultWarnMinutes = 5;
constexpr int LongestWarning = 1440;
constexpr int DefaultReturnSeconds = 120;
constexpr int LongestReturn = 86400;
constexpr int LongestResume = 1440;

} // namespace

ServerConfig ServerConfig::load(const std::string& path)
{
    auto ini = IniFile::load(path);
    if (!ini)
        throw StartupError(path + " is missing or cannot be read");
    return ServerConfig(std::move(*ini));
}

ServerConfig ServerConfig::fromText(std::string_view text)
{
    return ServerConfig(IniFile::fromText(text));
}

int ServerConfig::wholeNumber(std::string_view key, std::string_view fallback) const
{
    const auto text = m_ini.value(ServerSection, key, fallback);
    const auto number = parseWholeNumber(text);
    if (!number) {
        const bool absent = !m_ini.value(ServerSection, key).has_value();
        throw StartupError("[Server] " + std::string(key) +
                           (absent ? " is missing" : " = \"" + cp1251ToUtf8(text) + "\" is not a whole number"));
    }
    return *number;
}

int ServerConfig::port(std::string_view key) const
{
    const int number = wholeNumber(key, Mandatory);
    if (number < 0 || number > HighestPort)
        throw StartupError("[Server] " + std::string(key) + " = " + std::to_string(number) +
                           " is not a port (0..65535)");
    return number;
}

bool ServerConfig::flag(std::string_view key) const
{
    return wholeNumber(key, FlagDefault) == 1;
}

int ServerConfig::net() const
{
    return wholeNumber("Net", Mandatory);
}

int ServerConfig::serverUdp() const
{
    return port("ServerUDP");
}

int ServerConfig::clientUdp() const
{
    return port("ClientUDP");
}

bool ServerConfig::closeAfterReset() const
{
    return flag("CloseAfterReset");
}

bool ServerConfig::waitAfterReset() const
{
    return flag("WaitAfterReset");
}

int ServerConfig::serverTcp() const
{
    return port("ServerTCP");
}

std::optional<int> ServerConfig::keepAliveSeconds() const
{
    constexpr std::string_view Key = "KeepAliveSeconds";
    if (!m_ini.value(ServerSection, Key))
        return std::nullopt;
    const int seconds = wholeNumber(Key, Mandatory);
    if (seconds < 1 || seconds > LongestKeepAlive)
        throw StartupError("[Server] " + std::string(Key) + " = " + std::to_string(seconds) +
                           " is not a number of seconds from 1 to " + std::to_string(LongestKeepAlive));
    return seconds;
}

int ServerConfig::warnMinutes() const
{
    constexpr std::string_view Key = "WarnMinutes";
    const auto text = m_ini.value(AlertsSection, Key);
    if (!text)
        return DefaultWarnMinutes;
    const auto minutes = parseWholeNumber(*text);
    if (!minutes || *minutes < 0 || *minutes > LongestWarning)
        throw StartupError("[Alerts] " + std::string(Key) + " = \"" + cp1251ToUtf8(*text) +
                           "\" is not a number of minutes from 0 to " + std::to_string(LongestWarning));
    return *minutes;
}

int ServerConfig::boundedNumber(std::string_view key, int fallback, int highest) const
{
    if (!m_ini.value(ServerSection, key))
        return fallback;
    const int number = wholeNumber(key, Mandatory);
    if (number < 0 || number > highest)
        throw StartupError("[Server] " + std::string(key) + " = " + std::to_string(number) +
                           " is not a number from 0 to " + std::to_string(highest));
    return number;
}

int ServerConfig::returnSeconds() const
{
    return boundedNumber("ReturnSeconds", DefaultReturnSeconds, LongestReturn);
}

int ServerConfig::resumeMinutes() const
{
    return boundedNumber("ResumeMinutes", 0, LongestResume);
}

TariffList ServerConfig::prices() const
{
    TariffList list("Prices");
    list.loadSection(m_ini, "Price");
    return list;
}

TariffList ServerConfig::games() const
{
    TariffList list("Games");
    list.loadSection(m_ini, "Game");
    return list;
}

ServerSettings ServerConfig::settings() const
{
    ServerSettings s;
    s.net = net();
    s.serverUdp = serverUdp();
    s.clientUdp = clientUdp();
    s.closeAfterReset = closeAfterReset();
    s.waitAfterReset = waitAfterReset();
    s.serverTcp = serverTcp();
    s.keepAliveSeconds = keepAliveSeconds();
    s.returnSeconds = returnSeconds();
    s.resumeMinutes = resumeMinutes();
    s.warnMinutes = warnMinutes();
    return s;
}

} // namespace ostrel
