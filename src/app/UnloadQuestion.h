#pragma once

#include <string>

namespace ostrel {

// The question asked before the server is unloaded, in UTF-8. Unloading logs no session and the
// stations keep running on their own, so when sessions are running the operator is told how many,
// below the question's usual text.
std::string unloadQuestion(int runningSessions);

} // namespace ostrel
