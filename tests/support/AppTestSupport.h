#pragma once

#include "support/TempFolder.h"

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

using TempFolder = testing::TempFolder;

// The sample configuration with the ports replaced, so tests never meet a port in use.
inline std::string iniWithPorts(int serverTcp, int serverUdp, int clientUdp, std::string_view extraServerKeys = {})
{
    return "[Server]\nNet=0\nServerUDP=" + std::to_string(serverUdp) + "\nClientUDP=" + std::to_string(clientUdp) +
           "\nServerTCP=" + std::to_string(serverTcp) + "\n" + std::string(extraServerKeys) +
           "[Price]\nИнтернет=1,5\nИгры=2\n[Game]\nИгровой=2\n";
}

} // namespace ostrel::apptest
