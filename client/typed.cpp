#include "client/typed.h"

#include <stdexcept>
#include <string>

#include "client/text.h"
#include "utf/utf.h"

namespace qovix::client {
namespace {

const Value& valueOf(const Result& result, std::int32_t valueClass, bool text) {
  if (!result.value || result.value->valueClass != valueClass || result.value->isText != text) {
    throw Error(ErrorKind::UnexpectedReply,
                "expected a value of class " + std::to_string(valueClass) + ", got " +
                    (result.value ? "class " + std::to_string(result.value->valueClass)
                                  : std::string("the null value")));
  }
  return *result.value;
}

}  // namespace

Field textField(std::int32_t valueClass, std::string_view utf8) {
  if (const auto nul = utf8.find('\0'); nul != std::string_view::npos) {
    throw std::invalid_argument("text with a NUL character (at byte " + std::to_string(nul) +
                                ") cannot be stored: the protocol ends text at its first NUL");
  }
  std::u16string units = toUtf16(utf8);
  if (units.size() > utf::kMostTextUnits) {
    throw std::invalid_argument("text of " + std::to_string(units.size()) +
                                " UTF-16 units is too long: a value holds at most " +
                                std::to_string(utf::kMostTextUnits));
  }
  return Field::of(Value::ofText(valueClass, std::move(units)));
}

Field numberField(std::int32_t valueClass, std::int32_t number) {
  return Field::of(Value::ofNumber(valueClass, number));
}

std::string textOf(const Result& result, std::int32_t valueClass) {
  return toUtf8(valueOf(result, valueClass, true).text);
}

std::int32_t numberOf(const Result& result, std::int32_t valueClass) {
  return valueOf(result, valueClass, false).number;
}

}  // namespace qovix::client
