#pragma once

#include <mutex>

namespace ostrel {

// Guards the live state: the station table, the history table and appends to the session log.
// Report processing, disconnect handling, session logging and resumption hold it while they touch
// them; the GUI holds it only for the moment it copies a table. Recursive, because a failed send
// closes its connection and runs the disconnect handling on the same thread, inside the hold of
// the thread that sent.
inline std::recursive_mutex StationTableMutex;

} // namespace ostrel
