#pragma once

// UTF-8 for callers, UTF-16 on the wire.

#include <string>
#include <string_view>

namespace qovix::client {

// Throws std::invalid_argument for text that is not valid UTF-8.
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace qovix::client
