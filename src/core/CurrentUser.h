#pragma once

#include <string>

namespace ostrel {

// The operating-system user running this process: its login name, $USER when it has none, its
// number as the last resort.
std::string currentUserName();

} // namespace ostrel
