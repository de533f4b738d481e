#include "core/CurrentUser.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace ostrel {

namespace {

std::optional<std::string> loginOf(uid_t uid)
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    return std::nullopt;
}

} // namespace

std::string currentUserName()
{
    if (auto login = loginOf(::geteuid()))
        return *login;
    if (const char* user = std::getenv("USER"); user && *user)
        return user;
    return std::to_string(::geteuid());
}

std::string userName(unsigned uid)
{
    return loginOf(static_cast<uid_t>(uid)).value_or(std::to_string(uid));
}

} // namespace ostrel
