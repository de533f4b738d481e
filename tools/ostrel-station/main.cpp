#include "Options.h"
#include "Simulator.h"

#include <algorithm>
#include <csignal>
#include <iostream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

int g_stopFd = -1;

void onSignal(int)
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(g_stopFd, &one, sizeof one);
}

// Each station holds a TCP socket and, while it asks, a UDP one: big runs need more than the
// usual 1024 descriptors.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace ostrel::sim;
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (std::find(args.begin(), args.end(), "--version") != args.end()) {
        std::cout << "ostrel-station " OSTREL_VERSION "\n";
        return 0;
    }
    const ParsedOptions parsed = parseOptions(args);
    if (parsed.help) {
        std::cout << helpText();
        return 0;
    }
    if (!parsed.options) {
        std::cerr << "ostrel-station: " << parsed.error << "\n(--help for usage)\n";
        return 2;
    }
    const SimulatorOptions& options = *parsed.options;
    raiseDescriptorLimit();

    Simulator simulator(options, std::cout);
    std::string error;
    if (!simulator.open(error)) {
        std::cerr << "ostrel-station: " << error << "\n";
        return 1;
    }
    g_stopFd = simulator.stopDescriptor();
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    if (!options.quiet && !options.load)
        std::cout << "ostrel-station: " << options.stations << " station(s) from " << options.firstAddress
                  << (options.discovery ? ", discovery via " + options.discoverAddress
                                        : ", server " + options.serverAddress)
                  << "; Ctrl-C stops" << std::endl;
    const double seconds = simulator.run();
    if (options.summary || options.load) {
        simulator.printSummary(std::cout, seconds);
    }
    return 0;
}
