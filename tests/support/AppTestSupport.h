#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace ostrel::apptest {

// A folder of its own under the test temp dir, removed at the end.
class TempFolder
{
public:
    TempFolder()
    {
        static std::atomic<int> counter{0};
        m_path = std::filesystem::temp_directory_path() /
                 ("ostrel_app_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempFolder() { std::filesystem::remove_all(m_path); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::string file(std::string_view name) const { return (m_path / name).string(); }

    std::string write(std::string_view name, std::string_view bytes) const
    {
        const auto target = file(name);
        std::ofstream(target, std::ios::binary) << bytes;
        return target;
    }

private:
    std::filesystem::path m_path;
};

// A test that starts the server lets it announce itself to its host's subnet; that is only
// harmless when every address the host name resolves to is a loopback address.
inline bool hostNameIsLoopback(std::string* why = nullptr)
{
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0) {
        if (why)
            *why = "the host name cannot be read";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) {
        if (why)
            *why = std::string("the host name ") + name + " does not resolve";
        return false;
    }
    bool loopback = true;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        sockaddr_in address{};
        std::memcpy(&address, a->ai_addr, sizeof(address));
        if ((ntohl(address.sin_addr.s_addr) >> 24) != 127)
            loopback = false;
    }
    ::freeaddrinfo(found);
    if (!loopback && why)
        *why = std::string("the host name ") + name + " resolves to a non-loopback address";
    return loopback;
}

// The sample configuration with the ports replaced, so tests never meet a port in use.
inline std::string iniWithPorts(int serverTcp, int serverUdp, int clientUdp, std::string_view extraServerKeys = {})
{
    return "[Server]\nNet=0\nServerUDP=" + std::to_string(serverUdp) + "\nClientUDP=" + std::to_string(clientUdp) +
           "\nServerTCP=" + std::to_string(serverTcp) + "\n" + std::string(extraServerKeys) +
           "[Price]\nИнтернет=1,5\nИгры=2\n[Game]\nИгровой=2\n";
}

} // namespace ostrel::apptest
