#include "model/wkm_os/value_converter.h"

#include <memory>
#include <string>

#include "model/wkm_srv/value_bases.h"
#include "model/wkm_srv/value_class_info.h"

namespace {

// A terminator that belongs to no value, for empty text.
Utf16Unit emptyText[1] = {0};

}  // namespace

VornDataType* structToDataType(udt_dataType* value) {
  if (value == nullptr) return nullptr;
  const ValueClassInfo* info = valueClassInfo(value->extra);
  if (info == nullptr) return nullptr;
  const bool text = info->payload == ValuePayload::Text;
  if (value->kind != (text ? kTextArm : kNumberArm)) return nullptr;
  if (!text && !takesPayload(*info, value->value.integer, {})) return nullptr;
  std::unique_ptr<VornDataType> made(info->makeDefault());
  if (!made) return nullptr;
  if (text) {
    std::u16string content = value->text != nullptr ? std::u16string(value->text) : u"";
    if (!isWellFormedUtf16(content)) return nullptr;
    static_cast<TextValue&>(*made).setText(std::move(content));
  } else if (info->payload == ValuePayload::Number) {
    static_cast<VornInteger&>(*made).setNumber(value->value.integer);
  } else {
    static_cast<VornEnumeration&>(*made).setNumber(value->value.integer);
  }
  return made.release();
}

udt_dataType dataTypeToStruct(VornDataType* value) {
  udt_dataType flat{};
  if (value == nullptr) {
    flat.kind = kNullDataValue;
    return flat;
  }
  flat.extra = value->datatypeId();
  if (auto* text = dynamic_cast<TextValue*>(value)) {
    flat.kind = kTextArm;
    flat.text = text->text().empty() ? emptyText : const_cast<Utf16Unit*>(text->text().c_str());
  } else if (auto* integer = dynamic_cast<VornInteger*>(value)) {
    flat.kind = kNumberArm;
    flat.value.integer = integer->number();
  } else if (auto* ordinal = dynamic_cast<VornEnumeration*>(value)) {
    flat.kind = kNumberArm;
    flat.value.integer = ordinal->number();
  } else {
    flat.kind = kNullDataValue;  // a value class this converter does not know
  }
  return flat;
}

void freeObject(VornObject* object) { delete object; }
