#include "app/UserGuide.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ostrel {
namespace {

TEST(UserGuide, IsTheInstalledReadmeElseTheSourceTreesFromTheBuildTree)
{
    const std::string installed = "/usr/share/doc/ostrel/README.md";
    const std::string local = "/usr/local/share/doc/ostrel/README.md";
    const std::string source = "/src/ostrel/README.md";
    const struct
    {
        std::string exeDir;
        std::set<std::string> present;
        std::optional<std::string> expected;
    } cases[] = {
        {"/opt/ostrel", {installed, source}, installed}, // the package's layout
        {"/opt/ostrel/", {installed}, installed},
        {"/usr/bin", {installed}, installed},
        {"/usr/local/bin", {local, installed}, local},
        {"/usr/local/bin", {installed}, std::nullopt},
        {"/pkg/opt/ostrel", {installed}, std::nullopt}, // its own prefix only
        {"/opt/ostrel", {}, std::nullopt},
        {"/build/ostrel", {source}, source}, // run from the build tree
        {"/build/ostrel/", {source}, source},
        {"/build/ostrel/tests", {source}, std::nullopt},
        {"/build", {source}, std::nullopt},
        {"/elsewhere", {source}, std::nullopt},
        {"", {installed, source}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto exists = [&](const std::string& path) { return c.present.contains(path); };
        EXPECT_EQ(userGuidePath(c.exeDir, exists, "/build/ostrel", "/src/ostrel"), c.expected) << c.exeDir;
    }
    // A build without a known build tree has only the installed guide.
    EXPECT_EQ(userGuidePath(
                  "/build/ostrel", [&](const std::string& path) { return path == source; }, "", ""),
              std::nullopt);
}

} // namespace
} // namespace ostrel
