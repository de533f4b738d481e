#pragma once

namespace ostrel {

// Raises the soft limit on open descriptors to the hard limit: every station holds one, and the
// usual soft limit of 1024 would turn stations away long before the hard limit is reached. Returns
// the soft limit in force afterwards: -1 for no limit, 0 when it cannot be read.
long raiseOpenFileLimit();

} // namespace ostrel
