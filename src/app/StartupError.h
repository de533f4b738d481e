#pragma once

#include <stdexcept>

namespace ostrel {

// Every cause that stops the server's start-up. The operator sees one message for all of them
// ("Ini file is corrupt"); what() names the actual cause for the maintainer, on stderr.
struct StartupError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

} // namespace ostrel
