#pragma once

#include <string>

namespace ostrel {

// The operating-system user running this process: its login name, $USER when it has none, its
// number as the last resort.
std::string currentUserName();

// The login name of a user id, its number when it has none.
std::string userName(unsigned uid);

} // namespace ostrel
