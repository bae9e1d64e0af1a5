#include "utf/utf.h"

#include <stdexcept>

namespace utf {

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::size_t length = lead < 0x80         ? 1
                         : lead >> 5 == 0x6  ? 2
                         : lead >> 4 == 0xE  ? 3
                         : lead >> 3 == 0x1E ? 4
                                             : 0;
    if (length == 0 || i + length > utf8.size())
      throw std::invalid_argument("text is not valid UTF-8");
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if (next >> 6 != 0x2) throw std::invalid_argument("text is not valid UTF-8");
      point = (point << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 2 && point < 0x80) || (length == 3 && point < 0x800) ||
                          (length == 4 && point < 0x10000);
    if (overlong || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
      throw std::invalid_argument("text is not valid UTF-8");
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (point >> 10));
      out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      out += static_cast<char16_t>(point);
    }
    i += length;
  }
  return out;
}

std::string toUtf8(std::u16string_view utf16) {
  std::string out;
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t point = utf16[i];
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = 0xFFFD;
    }
    if (point < 0x80) {
      out += static_cast<char>(point);
    } else if (point < 0x800) {
      out += static_cast<char>(0xC0 | (point >> 6));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      out += static_cast<char>(0xE0 | (point >> 12));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (point >> 18));
      out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return out;
}

}  // namespace utf
