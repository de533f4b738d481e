#pragma once

#include <string>
#include <string_view>

namespace ostrel {

// Every text the server keeps (cells, tariff names, status words, log fields) is held as
// Windows-1251 bytes, exactly as it travels in the records. These are the only conversions.

// Each of the 256 bytes maps to one Unicode character; 0x98, unassigned in the code page, maps to U+FFFD.
std::string cp1251ToUtf8(std::string_view bytes);

// The same character as one UTF-16 code unit: every character of the code page lies in the Basic
// Multilingual Plane. For writing display text in place, without a UTF-8 step.
char16_t cp1251ToUtf16(char byte);

// Characters without a Windows-1251 byte become '?'. Malformed UTF-8 sequences become '?' too.
std::string utf8ToCp1251(std::string_view utf8);

bool isValidUtf8(std::string_view bytes);

// Letter case folded the way the code page's letters pair up (Latin, Cyrillic, Ё/ё and the other
// Cyrillic letters above 0x80); other bytes stay as they are.
char cp1251ToLower(char c);
bool equalsIgnoreCaseCp1251(std::string_view a, std::string_view b);

} // namespace ostrel
