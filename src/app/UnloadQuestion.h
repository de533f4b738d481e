#pragma once

#include <string>

namespace ostrel {

// The question asked before the server is unloaded, in UTF-8. Unloading logs no session and the
// stations keep running on their own, so when sessions are running the operator is told how many,
// below the question's usual text; when the server keeps its running sessions on disk, also that
// they are settled at its next start.
std::string unloadQuestion(int runningSessions, bool settledAtNextStart = false);

} // namespace ostrel
