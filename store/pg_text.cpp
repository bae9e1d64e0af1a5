#include "store/pg_text.h"

#include <stdexcept>

#include "store/persistent_store.h"
#include "utf/utf.h"

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  throw StoreError("the PostgreSQL repository holds a damaged text");
}

}  // namespace

PgText toPg(const std::u16string& text) {
  PgText out;
  std::u16string clean(text);
  for (char16_t& unit : clean) {
    if (unit == 0) {
      unit = u'\uFFFD';
      out.exact = false;
    }
  }
  out.text = utf::toUtf8(clean);
  if (out.exact && utf::toUtf16(out.text) != text) out.exact = false;
  if (!out.exact) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.raw = "\\x";
    for (char16_t unit : text) {
      for (const unsigned byte : {unsigned{unit} & 0xFFu, unsigned{unit} >> 8u}) {
        out.raw += kHex[byte >> 4u];
        out.raw += kHex[byte & 0xFu];
      }
    }
  }
  return out;
}

std::u16string fromPg(std::string_view text, const std::string_view* raw) {
  if (raw == nullptr) {
    try {
      return utf::toUtf16(text);
    } catch (const std::invalid_argument&) {
      throw StoreError("the PostgreSQL repository holds a text that is no UTF-8");
    }
  }
  if (raw->size() < 2 || raw->substr(0, 2) != "\\x" || (raw->size() - 2) % 4 != 0) {
    throw StoreError("the PostgreSQL repository holds a damaged text");
  }
  std::u16string units;
  for (std::size_t at = 2; at < raw->size(); at += 4) {
    const int low = hexDigit((*raw)[at]) * 16 + hexDigit((*raw)[at + 1]);
    const int high = hexDigit((*raw)[at + 2]) * 16 + hexDigit((*raw)[at + 3]);
    units.push_back(static_cast<char16_t>(high * 256 + low));
  }
  return units;
}

std::string hexOf(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const unsigned char byte : bytes) {
    hex += kHex[byte >> 4u];
    hex += kHex[byte & 0xFu];
  }
  return hex;
}

std::string bytesOfHex(std::string_view hex) {
  if (hex.size() % 2 != 0) throw StoreError("the PostgreSQL repository holds damaged bytes");
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t at = 0; at < hex.size(); at += 2) {
    bytes.push_back(static_cast<char>(hexDigit(hex[at]) * 16 + hexDigit(hex[at + 1])));
  }
  return bytes;
}
