#pragma once

// The three kinds of payload a data value carries. Every value class of the
// catalogue derives from one of them and adds only its identity.

#include <cstdint>
#include <span>
#include <string>

#include "model/wkm_srv/VornDataType.h"
#include "store/vorn_types.h"
#include "model/wkm_srv/wkm_srv_api.h"

// A value holding UTF-16 text. The default value is the empty text.
class WKM_SRV_API TextValue : public VornDataType {
 public:
  const std::u16string& text() const { return text_; }
  void setText(std::u16string text) { text_ = std::move(text); }

  int isNull() const override { return 0; }
  int isValid() const override { return 1; }
  Comparisons comparison(VornDataType const& other) const override;
  std::u16string format() const override { return text_; }

 protected:
  TextValue() = default;
  explicit TextValue(std::u16string text) : text_(std::move(text)) {}

 private:
  std::u16string text_;
};

// A value holding a 32-bit integer. The default value is 0.
class WKM_SRV_API VornInteger : public VornDataType {
 public:
  std::int32_t number() const { return number_; }
  void setNumber(std::int32_t number) { number_ = number; }

  int isNull() const override { return 0; }
  int isValid() const override { return 1; }
  Comparisons comparison(VornDataType const& other) const override;
  std::u16string format() const override;

 protected:
  VornInteger() = default;
  explicit VornInteger(std::int32_t number) : number_(number) {}

 private:
  std::int32_t number_ = 0;
};

// A value that is one of a fixed list of literals, held as the literal's
// ordinal. The default value is the first literal.
class WKM_SRV_API VornEnumeration : public VornDataType {
 public:
  std::int32_t number() const { return ordinal_; }
  void setNumber(std::int32_t ordinal) { ordinal_ = ordinal; }
  virtual std::span<const char* const> literals() const = 0;

  int isNull() const override { return 0; }
  int isValid() const override;
  Comparisons comparison(VornDataType const& other) const override;
  // The literal's name, or the ordinal when it names none.
  std::u16string format() const override;

 protected:
  VornEnumeration() = default;
  explicit VornEnumeration(std::int32_t ordinal) : ordinal_(ordinal) {}

 private:
  std::int32_t ordinal_ = 0;
};

// Values of different classes order by their class, values of one class by
// their payload.
VornDataType::Comparisons compareClasses(VornDataType const& left, VornDataType const& right);
