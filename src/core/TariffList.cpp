#include "core/TariffList.h"

#include "core/Cp1251.h"
#include "core/IniFile.h"

namespace ostrel {

namespace {

std::string_view nameOf(std::string_view line)
{
    return line.substr(0, line.find('='));
}

} // namespace

TariffList::TariffList(std::string title)
{
    m_lines.push_back(std::move(title));
}

void TariffList::set(std::string_view name, std::string_view value)
{
    if (value.empty())
        return;
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append("=").append(value);
    for (std::size_t i = 1; i < m_lines.size(); ++i) {
        if (equalsIgnoreCaseCp1251(nameOf(m_lines[i]), name)) {
            m_lines[i] = std::move(line);
            return;
        }
    }
    m_lines.push_back(std::move(line));
}

void TariffList::loadSection(const IniFile& ini, std::string_view section)
{
    // Each name is looked up again, as the ini service does: a repeated name takes the first
    // occurrence's value, and stays on its first line.
    for (const std::string& key : ini.keys(section))
        set(key, ini.value(section, key, ""));
}

std::string TariffList::name(int line) const
{
    if (line < 0 || line >= count())
        return {};
    return std::string(nameOf(m_lines[static_cast<std::size_t>(line)]));
}

std::string TariffList::value(std::string_view name) const
{
    for (std::size_t i = 1; i < m_lines.size(); ++i) {
        const std::string& line = m_lines[i];
        const std::size_t eq = line.find('=');
        if (eq != std::string::npos && equalsIgnoreCaseCp1251(std::string_view(line).substr(0, eq), name))
            return line.substr(eq + 1);
    }
    return {};
}

bool TariffList::containsExactly(std::string_view name) const
{
    for (std::size_t i = 1; i < m_lines.size(); ++i)
        if (nameOf(m_lines[i]) == name)
            return true;
    return false;
}

} // namespace ostrel
