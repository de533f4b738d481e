#include "app/UserGuide.h"

#include <filesystem>
#include <vector>

namespace ostrel {

#ifdef OSTREL_BUILD_DIR
const std::string_view BuildTreeDir = OSTREL_BUILD_DIR;
const std::string_view SourceTreeDir = OSTREL_SOURCE_DIR;
#else
const std::string_view BuildTreeDir;
const std::string_view SourceTreeDir;
#endif

std::optional<std::string> userGuidePath(std::string_view exeDir, const std::function<bool(const std::string&)>& exists,
                                         std::string_view buildDir, std::string_view sourceDir)
{
    namespace fs = std::filesystem;
    if (exeDir.empty())
        return std::nullopt;
    fs::path exe = fs::path(exeDir).lexically_normal();
    if (!exe.has_filename())
        exe = exe.parent_path(); // "/opt/ostrel/"
    // A bin/ folder is its prefix's; the package's opt/ostrel lies two folders below its prefix.
    std::vector<fs::path> candidates{exe.filename() == "bin" ? exe / "../share/doc/ostrel/README.md"
                                                             : exe / "../../usr/share/doc/ostrel/README.md"};
    if (!buildDir.empty() && !sourceDir.empty() &&
        exe.lexically_relative(fs::path(buildDir).lexically_normal()) == fs::path("."))
        candidates.push_back(fs::path(sourceDir) / "README.md");
    for (const fs::path& candidate : candidates) {
        const std::string path = candidate.lexically_normal().string();
        if (exists(path))
            return path;
    }
    return std::nullopt;
}

} // namespace ostrel
