#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ostrel {

// A Windows-style ini file read with libinih. Section and key names compare without regard to
// letter case; the keys of a section keep their file order. All names and values are returned as
// Windows-1251 bytes: a file that is valid UTF-8 (a leading byte-order mark allowed) is converted
// from UTF-8, any other file is taken to be Windows-1251 already. Windows line endings are fine.
class IniFile
{
public:
    // nullopt when the file is missing or cannot be read.
    static std::optional<IniFile> load(const std::string& path);
    static IniFile fromText(std::string_view text);

    // The value of the first occurrence of the key, or nullopt when the section has no such key.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    std::string value(std::string_view section, std::string_view key, std::string_view fallback) const;

    // Every key of the section in file order, repeated names included, as the file spells them;
    // empty when the section is absent.
    std::vector<std::string> keys(std::string_view section) const;

private:
    struct Entry
    {
        std::string section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> m_entries;
};

} // namespace ostrel
