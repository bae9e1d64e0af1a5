#include "client/typed.h"

#include "client/text.h"

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
  return Field::of(Value::ofText(valueClass, toUtf16(utf8)));
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
