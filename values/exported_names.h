#pragma once

// The names of the value operations this library exports, for modules that
// look the members up by name.

#include "dispatch/export.h"

extern "C" {
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorEqual[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorNotEqual[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorLess[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorLessEqual[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorGreater[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VornDataType_operatorGreaterEqual[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VORN_get_handleIndex[];
QOVIX_OS_EXPORT extern const char QOVIX_nameOf_VORN_set_handleIndex[];
}
