#pragma once

// Converts data values between their flat wire form (udt_dataType) and live
// value objects.
//
// How each value class travels: `extra` is the class's value-class number
// (catalogue order, from 1) and `kind` its payload's arm: text in arm 10 as
// UTF-16, integers, truth values and enumeration ordinals in arm 11. The null
// value (kind -1) stands for no value.

#include "model/wkm_srv/VornDataType.h"
#include "xdr/data_value.h"

#define WKM_OS_API __attribute__((visibility("default")))

// A new value object the caller owns, or null when the flat value cannot be
// made into one faithfully: kind 0 or -1, an unknown class, a payload in the
// wrong arm, an ordinal outside the class's literals, text that is not valid
// UTF-16 (an unpaired surrogate), or no memory. Text in a null pointer is the
// empty text.
WKM_OS_API VornDataType* structToDataType(udt_dataType* value);

// The flat form of `value`; the null value for null. The text of a non-empty
// text value points into `value`, which must outlive the flat form; empty
// text and numbers refer to nothing of it.
WKM_OS_API udt_dataType dataTypeToStruct(VornDataType* value);

// Releases an object made by structToDataType.
WKM_OS_API void freeObject(VornObject* object);
