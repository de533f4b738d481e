#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ostrel {

// Where this build's sources and build tree are, for a server run from the build tree.
extern const std::string_view BuildTreeDir;
extern const std::string_view SourceTreeDir;

// The user guide of a server whose executable lies in `exeDir`: the README the package installs in
// share/doc/ostrel/ of the prefix the executable is installed in (prefix/opt/ostrel finds
// prefix/usr/share/doc/ostrel, prefix/bin finds prefix/share/doc/ostrel), else, for a server run from its build tree,
// the source tree's README. The first of them `exists` accepts, the path made lexically normal; nullopt when there is
// none.
std::optional<std::string> userGuidePath(std::string_view exeDir, const std::function<bool(const std::string&)>& exists,
                                         std::string_view buildDir = BuildTreeDir,
                                         std::string_view sourceDir = SourceTreeDir);

// What the operator is told when no guide is found, UTF-8.
inline constexpr std::string_view NoUserGuide = "Руководство пользователя не найдено";

} // namespace ostrel
