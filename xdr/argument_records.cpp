#include "xdr/argument_records.h"

#include "xdr/primitive_filters.h"

namespace {

// The filter of one field, chosen by its type. A long and an int are the
// same signed word on the wire.
bool_t filterField(XDR* xdrs, InteropHandle* field) { return X_InteropHandle(xdrs, field); }
bool_t filterField(XDR* xdrs, std::int32_t* field) { return X_udt_integer(xdrs, field); }
bool_t filterField(XDR* xdrs, udt_dataType* field) { return X_VornDataType(xdrs, field); }

// Every shape's filter: its fields in order, stopping at the first failure.
template <auto... Fields, class Record>
bool_t filterFields(XDR* xdrs, Record* record) {
  return ((filterField(xdrs, &(record->*Fields)) != FALSE) && ...) ? TRUE : FALSE;
}

}  // namespace

// clang-format off
bool_t X_HandleHandle(XDR* xdrs, HandleHandle* r) {
  return filterFields<&HandleHandle::target, &HandleHandle::param1>(xdrs, r);
}
bool_t X_HandleLong(XDR* xdrs, HandleLong* r) {
  return filterFields<&HandleLong::target, &HandleLong::param1>(xdrs, r);
}
bool_t X_HandleInt(XDR* xdrs, HandleInt* r) {
  return filterFields<&HandleInt::target, &HandleInt::param1>(xdrs, r);
}
bool_t X_HandleValue(XDR* xdrs, HandleValue* r) {
  return filterFields<&HandleValue::target, &HandleValue::param1>(xdrs, r);
}
bool_t X_HandleHandleValue(XDR* xdrs, HandleHandleValue* r) {
  return filterFields<&HandleHandleValue::target, &HandleHandleValue::param1, &HandleHandleValue::param2>(xdrs, r);
}
bool_t X_HandleValueValueInt(XDR* xdrs, HandleValueValueInt* r) {
  return filterFields<&HandleValueValueInt::target, &HandleValueValueInt::param1, &HandleValueValueInt::param2, &HandleValueValueInt::param3>(xdrs, r);
}
bool_t X_HandleValueLongInt(XDR* xdrs, HandleValueLongInt* r) {
  return filterFields<&HandleValueLongInt::target, &HandleValueLongInt::param1, &HandleValueLongInt::param2, &HandleValueLongInt::param3>(xdrs, r);
}
bool_t X_HandleHandleLong(XDR* xdrs, HandleHandleLong* r) {
  return filterFields<&HandleHandleLong::target, &HandleHandleLong::param1, &HandleHandleLong::param2>(xdrs, r);
}
bool_t X_HandleValueHandle(XDR* xdrs, HandleValueHandle* r) {
  return filterFields<&HandleValueHandle::target, &HandleValueHandle::param1, &HandleValueHandle::param2>(xdrs, r);
}
bool_t X_HandleValueValue(XDR* xdrs, HandleValueValue* r) {
  return filterFields<&HandleValueValue::target, &HandleValueValue::param1, &HandleValueValue::param2>(xdrs, r);
}
bool_t X_HandleValueValueHandle(XDR* xdrs, HandleValueValueHandle* r) {
  return filterFields<&HandleValueValueHandle::target, &HandleValueValueHandle::param1, &HandleValueValueHandle::param2, &HandleValueValueHandle::param3>(xdrs, r);
}
bool_t X_HandleHandleHandleValue(XDR* xdrs, HandleHandleHandleValue* r) {
  return filterFields<&HandleHandleHandleValue::target, &HandleHandleHandleValue::param1, &HandleHandleHandleValue::param2, &HandleHandleHandleValue::param3>(xdrs, r);
}
bool_t X_HandleHandleHandle(XDR* xdrs, HandleHandleHandle* r) {
  return filterFields<&HandleHandleHandle::target, &HandleHandleHandle::param1, &HandleHandleHandle::param2>(xdrs, r);
}
bool_t X_HandleValueLong(XDR* xdrs, HandleValueLong* r) {
  return filterFields<&HandleValueLong::target, &HandleValueLong::param1, &HandleValueLong::param2>(xdrs, r);
}
bool_t X_HandleHandleValueValue(XDR* xdrs, HandleHandleValueValue* r) {
  return filterFields<&HandleHandleValueValue::target, &HandleHandleValueValue::param1, &HandleHandleValueValue::param2, &HandleHandleValueValue::param3>(xdrs, r);
}
// clang-format on
