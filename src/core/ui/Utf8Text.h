#pragma once

#include <QString>

#include <string_view>

namespace ostrel {

// A UTF-8 text of the server's own (the window texts beside each feature) as Qt shows it.
inline QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace ostrel
