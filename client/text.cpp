#include "client/text.h"

#include "utf/utf.h"

namespace qovix::client {

std::u16string toUtf16(std::string_view utf8) { return utf::toUtf16(utf8); }

std::string toUtf8(std::u16string_view utf16) { return utf::toUtf8(utf16); }

}  // namespace qovix::client
