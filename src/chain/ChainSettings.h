#pragma once

#include "core/IniFile.h"

#include <optional>
#include <stdexcept>
#include <string>

namespace ostrel {

// A fault of section [Chain] that start-up refuses; the text names the key.
struct ChainConfigError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Section [Chain] of Ostrel.ini: where the salon's records are copied for the chain's report.
struct ChainSettings
{
    std::string database; // a libpq connection string, checked for its form only
    std::string salon;    // UTF-8, the salon's name in every row it ships
};

// nullopt when the section sets no Database: the server then ships nothing. Throws
// ChainConfigError for a connection string libpq cannot read and for a missing or empty Salon. An
// unreachable database is not a fault here: the shipper waits for it.
std::optional<ChainSettings> readChainSettings(const IniFile& ini);

} // namespace ostrel
