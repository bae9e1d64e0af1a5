#pragma once

// Text as the repository keeps it (UTF-16) and as files and callers write it
// (UTF-8).

#include <string>
#include <string_view>

namespace utf {

// Throws std::invalid_argument for text that is not valid UTF-8.
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace utf
