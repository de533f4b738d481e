#include "app/StartupSequence.h"

#include "app/ServerConfig.h"

#include <exception>

namespace ostrel {

void runStartupSequence(StartupSteps& steps, const std::string& exeDir)
{
    // The taskbar entry goes before the guarded part: failing to hide it is no reason to stop.
    steps.hideTaskbarEntry();

    steps.appendOpenToCaption();
    steps.setSessionLogPath(exeDir + "/Ostrel.log");
    steps.createDiscoveryEndpoint();

    const auto config = ServerConfig::load(exeDir + "/" + std::string(ServerConfig::FileName));
    steps.setBroadcastAddress(config.net());
    steps.setDiscoveryLocalPort(config.serverUdp());
    steps.setDiscoveryRemotePort(config.clientUdp());
    const bool closeAfterReset = config.closeAfterReset();
    steps.setResetFlags(closeAfterReset, config.waitAfterReset());
    steps.attachDiscoveryHandler();
    steps.setListenerPort(config.serverTcp());
    steps.setStationKeepAlive(config.keepAliveSeconds());
    steps.setTariffs(config.prices(), config.games());
    steps.setWarnMinutes(config.warnMinutes());
    steps.setSessionReturn(config.returnSeconds(), config.resumeMinutes());
    steps.startListening();
    steps.buildCommandMenu();
    steps.writeHeaderRows();

    // A station that misses the announcement still finds us by asking; nothing here may stop start-up.
    try {
        steps.announce();
    } catch (...) {
    }
}

} // namespace ostrel
