#include "core/IniFile.h"

#include "core/Cp1251.h"
#include "core/Texts.h"

#include <ini.h>

#include <cstdio>
#include <memory>

namespace ostrel {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

// libinih splits a key from its value at ':' as well as '=', and cuts a value at " ;". The
// Windows ini service does neither, and a tariff name such as "VIP: ночь" must survive, so these
// two bytes travel through the parser as control bytes and are put back afterwards.
constexpr char ColonStandIn = '\x01';
constexpr char SemicolonStandIn = '\x02';

// libinih reads a line into a fixed buffer and would parse the rest of a longer line as a line of
// its own; such lines are left out whole instead.
constexpr std::size_t MaxLineLength = 190;

struct CloseFile
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string restore(const char* text)
{
    std::string out(text);
    for (char& c : out) {
        if (c == ColonStandIn)
            c = ':';
        else if (c == SemicolonStandIn)
            c = ';';
    }
    return out;
}

// Brings the text into the form libinih reads the way the Windows ini service would.
std::string prepare(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        std::string_view line = takeLine(text);
        // Leading blanks would make libinih take the line as the continuation of the previous value.
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.empty() || line.size() > MaxLineLength)
            continue;
        const bool comment = line.front() == ';' || line.front() == '#';
        for (char c : line) {
            if (c == ColonStandIn || c == SemicolonStandIn)
                c = '?';
            else if (!comment && c == ':')
                c = ColonStandIn;
            else if (!comment && c == ';')
                c = SemicolonStandIn;
            out += c;
        }
        out += '\n';
    }
    return out;
}

// libinih keeps blanks inside the brackets of a section name; "[ Price ]" is the section Price.
std::string trimmed(std::string name)
{
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return name.substr(first, name.find_last_not_of(" \t") - first + 1);
}

// The Windows ini service drops one pair of matching quotes around a value.
std::string unquote(std::string value)
{
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

} // namespace

std::optional<IniFile> IniFile::load(const std::string& path)
{
    std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        bytes.append(buffer, got);
    // A folder opens but fails on the first read.
    if (std::ferror(file.get()))
        return std::nullopt;
    return fromText(bytes);
}

IniFile IniFile::fromText(std::string_view text)
{
    if (text.starts_with(Utf8Bom))
        text.remove_prefix(Utf8Bom.size());
    const std::string cp1251 = isValidUtf8(text) ? utf8ToCp1251(text) : std::string(text);
    const std::string prepared = prepare(cp1251);

    IniFile ini;
    const auto handler = [](void* user, const char* section, const char* name, const char* value) -> int {
        static_cast<IniFile*>(user)->m_entries.push_back(
            Entry{trimmed(restore(section)), restore(name), unquote(restore(value))});
        return 1;
    };
    // Lines libinih cannot parse are skipped and reported only in the return value, which is
    // ignored: the Windows ini service passes over such lines too.
    ini_parse_string(prepared.c_str(), handler, &ini);
    return ini;
}

std::optional<std::string> IniFile::value(std::string_view section, std::string_view key) const
{
    for (const Entry& entry : m_entries)
        if (equalsIgnoreCaseCp1251(entry.section, section) && equalsIgnoreCaseCp1251(entry.key, key))
            return entry.value;
    return std::nullopt;
}

std::string IniFile::value(std::string_view section, std::string_view key, std::string_view fallback) const
{
    auto found = value(section, key);
    return found ? std::move(*found) : std::string(fallback);
}

std::vector<std::string> IniFile::keys(std::string_view section) const
{
    std::vector<std::string> out;
    for (const Entry& entry : m_entries)
        if (equalsIgnoreCaseCp1251(entry.section, section))
            out.push_back(entry.key);
    return out;
}

} // namespace ostrel
