#pragma once

// Text as the repository keeps it (UTF-16) and as files and callers write it
// (UTF-8).

#include <cstddef>
#include <string>
#include <string_view>

#include "qovix_protocol.h"

namespace utf {

// The longest text one value holds, in UTF-16 code units (the protocol's).
// Every way text enters the repository refuses more: a call's arguments do
// not decode, a document or an XMI import is refused naming the value.
inline constexpr std::size_t kMostTextUnits = qovix::protocol::kMostTextUnits;

// Throws std::invalid_argument for text that is not valid UTF-8.
std::u16string toUtf16(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string toUtf8(std::u16string_view utf16);

}  // namespace utf
