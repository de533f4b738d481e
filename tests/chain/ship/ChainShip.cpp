// A shipper alone in a process, for the tests that kill it in the middle of a batch:
//   ostrel_chain_ship CONNINFO SALON FOLDER BATCHROWS
// ships FOLDER/Ostrel.log, Ostrel.audit.csv and Ostrel.cash.csv until it is killed.

#include "chain/ChainShipper.h"

#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv)
{
    if (argc != 5)
        return 2;
    const std::string folder = argv[3];
    ostrel::ChainTiming timing;
    timing.firstRetry = std::chrono::milliseconds(100);
    timing.longestRetry = std::chrono::milliseconds(400);
    timing.poll = std::chrono::milliseconds(50);
    timing.batchRows = std::strtoull(argv[4], nullptr, 10);
    ostrel::ChainShipper shipper(
        {argv[1], argv[2]},
        {folder + "/Ostrel.log", folder + "/Ostrel.audit.csv", folder + "/Ostrel.cash.csv", {}, {}, {}}, timing);
    shipper.start();
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}
