#pragma once

#include "core/IniFile.h"
#include "core/TariffList.h"

#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// The settings of section [Server], in the order start-up reads them, and of [Alerts].
struct ServerSettings
{
    int net = 0;       // position in the host's own address list; the broadcast address is formed from it
    int serverUdp = 0; // our discovery port
    int clientUdp = 0; // the stations' discovery port, destination of every datagram we send
    bool closeAfterReset = true;
    bool waitAfterReset = true;
    int serverTcp = 0;                   // the listener's port
    std::optional<int> keepAliveSeconds; // silence after which a station is probed; none: the system's
    int returnSeconds = 120;             // how long a session of the previous run waits for its station; 0: not kept
    int resumeMinutes = 0; // a station's own "Reset" younger than this is resumed; 0: the newest of all only
    int warnMinutes = 5;   // [Alerts]: a game's time left that is warned of; 0: none
};

// Ostrel.ini, read once at start-up and never written. Every reader throws StartupError with the
// cause; a key that is absent falls back to its default, which for the mandatory keys is the text
// "ERROR" and so fails like any other value that is not a whole number.
class ServerConfig
{
public:
    static constexpr std::string_view FileName = "Ostrel.ini";

    // Throws StartupError when the file is missing or unreadable.
    static ServerConfig load(const std::string& path);
    static ServerConfig fromText(std::string_view text);

    int net() const;
    int serverUdp() const; // ports: 0..65535
    int clientUdp() const;
    bool closeAfterReset() const; // set exactly when the number is 1; absent means "1"
    bool waitAfterReset() const;
    int serverTcp() const;
    // Optional, 1..3600: a station silent this long is probed, and its connection closed within
    // about twice the time. Absent: the system's keep-alive timing.
    std::optional<int> keepAliveSeconds() const;
    // Optional, 0..86400, default 120: how long after start-up a session that was running when the
    // server stopped waits for its station before it is logged "Reset"; 0 keeps no running sessions.
    int returnSeconds() const;
    // Optional, 0..1440, default 0: when set, a station is resumed from its own newest session when
    // that is a "Reset" younger than this many minutes; 0: only when it is the newest of all.
    int resumeMinutes() const;

    // [Alerts] WarnMinutes, optional, 0..1440: a game is warned of when this many minutes are left;
    // 0 turns the warnings off. Absent: 5.
    int warnMinutes() const;

    // Section [Price] into a list titled "Prices", [Game] into one titled "Games".
    TariffList prices() const;
    TariffList games() const;

    // Every key of [Server] in the order of the table above, then [Alerts].
    ServerSettings settings() const;

private:
    explicit ServerConfig(IniFile ini) : m_ini(std::move(ini)) {}

    int wholeNumber(std::string_view key, std::string_view fallback) const;
    int port(std::string_view key) const;
    bool flag(std::string_view key) const;
    int boundedNumber(std::string_view key, int fallback, int highest) const;

    IniFile m_ini;
};

} // namespace ostrel
