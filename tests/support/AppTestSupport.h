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

// The sample configuration with the ports replaced, so tests never meet a port in use.
inline std::string iniWithPorts(int serverTcp, int serverUdp, int clientUdp, std::string_view extraServerKeys = {})
{
    return "[Server]\nNet=0\nServerUDP=" + std::to_string(serverUdp) + "\nClientUDP=" + std::to_string(clientUdp) +
           "\nServerTCP=" + std::to_string(serverTcp) + "\n" + std::string(extraServerKeys) +
           "[Price]\nИнтернет=1,5\nИгры=2\n[Game]\nИгровой=2\n";
}

} // namespace ostrel::apptest
