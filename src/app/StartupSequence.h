#pragma once

#include "core/TariffList.h"

#include <optional>
#include <string>

namespace ostrel {

// The steps of the server's start-up, in the order runStartupSequence calls them; Server takes
// them, handing the window's own to it. A step that fails throws StartupError; the steps after it
// are not run.
class StartupSteps
{
public:
    virtual ~StartupSteps() = default;

    virtual void hideTaskbarEntry() = 0;
    virtual void appendOpenToCaption() = 0;
    virtual void setSessionLogPath(const std::string& path) = 0;
    virtual void createDiscoveryEndpoint() = 0;
    virtual void setBroadcastAddress(int net) = 0; // throws when `net` names no address of this host
    virtual void setDiscoveryLocalPort(int port) = 0;
    virtual void setDiscoveryRemotePort(int port) = 0;
    virtual void setResetFlags(bool closeAfterReset, bool waitAfterReset) = 0;
    virtual void attachDiscoveryHandler() = 0;
    virtual void setListenerPort(int port) = 0;
    virtual void setStationKeepAlive(std::optional<int> seconds) = 0; // none: the system's timing
    virtual void setTariffs(TariffList prices, TariffList games) = 0;
    virtual void setWarnMinutes(int /*minutes*/) {} // [Alerts]; 0: no time-left warnings
    // [Server] ReturnSeconds and ResumeMinutes: what a restart does with the sessions that ran.
    virtual void setSessionReturn(int /*returnSeconds*/, int /*resumeMinutes*/) {}
    virtual void startListening() = 0; // throws when the port cannot be listened on
    virtual void buildCommandMenu() = 0;
    virtual void writeHeaderRows() = 0;
    virtual void announce() = 0; // may throw anything: the sequence swallows it
};

// The server's start-up: reads <exeDir>/Ostrel.ini key by key between the steps that use the
// values. Throws StartupError from the failing step. The station table's mutex is a process-wide
// object that exists before any of this runs, so it has no step here.
void runStartupSequence(StartupSteps& steps, const std::string& exeDir);

} // namespace ostrel
