#pragma once
// Conversions between the UTF-8 used at the edges (files, consoles, logs) and the UTF-16 that
// the packets carry. Invalid input never throws: bad sequences become U+FFFD.
#include <string>
#include <string_view>

namespace tw {

std::u16string utf8ToUtf16(std::string_view utf8);
std::string utf16ToUtf8(std::u16string_view utf16);

// ASCII-only case mapping, for names and keys that the protocol compares "in upper case".
std::string asciiUpper(std::string_view s);
std::u16string asciiUpper(std::u16string_view s);

// Appends `utf8` to `out` as a JSON string, quotes included: quotes, backslashes and control
// characters escaped, bad UTF-8 turned into U+FFFD, so the line stays valid JSON whatever the
// text (names and texts come from the network and the operator).
void appendJsonString(std::string& out, std::string_view utf8);

}  // namespace tw
