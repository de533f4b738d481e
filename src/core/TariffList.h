#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel {

class IniFile;

// A tariff list (Prices or Games): ordered text lines; line 0 is the title line ("Prices" or
// "Games") and no tariff; lines 1 onward are "name=value" in Windows-1251 bytes.
class TariffList
{
public:
    explicit TariffList(std::string title);

    // Sets the entry of that name: a name not yet listed (letter case ignored) is appended as
    // "name=value"; a listed one has its line replaced in place. An empty value adds nothing.
    void set(std::string_view name, std::string_view value);

    // Loads every key of the section in file order through set().
    void loadSection(const IniFile& ini, std::string_view section);

    const std::vector<std::string>& lines() const { return m_lines; }
    int count() const { return static_cast<int>(m_lines.size()); } // title line included
    std::string name(int line) const;                              // text before the first '='

    // The text after the first '=' of the first line whose name equals `name`, letter case
    // ignored; empty when no line carries it.
    std::string value(std::string_view name) const;

    // True when a tariff line (1 onward) has exactly this name, letter case significant.
    bool containsExactly(std::string_view name) const;

private:
    std::vector<std::string> m_lines;
};

} // namespace ostrel
