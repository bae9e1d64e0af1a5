#pragma once

// Text as the PostgreSQL repository holds it: UTF-8 in `text`, and, when
// UTF-8 cannot hold the UTF-16 units exactly (an unpaired surrogate, a
// NUL), the units as UTF-16LE in `raw` too (bytea, in hex form), with
// U+FFFD in their place in `text`.

#include <string>
#include <string_view>

struct PgText {
  std::string text;
  bool exact = true;
  std::string raw;  // "\x..." when not exact
};

PgText toPg(const std::u16string& text);
// The text a row holds: `raw` (null when the column is null) when set, else
// `text`. Throws StoreError for a text that is no UTF-8 or a damaged raw.
std::u16string fromPg(std::string_view text, const std::string_view* raw);

// Bytes as plain hex digits, and back (as PostgreSQL's encode(..., 'hex')
// gives them). Throws StoreError for text that is no hex.
std::string hexOf(std::string_view bytes);
std::string bytesOfHex(std::string_view hex);
