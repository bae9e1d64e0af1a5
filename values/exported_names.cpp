#include "values/exported_names.h"

const char QOVIX_nameOf_VornDataType_operatorEqual[] = "VornDataType::operator==";
const char QOVIX_nameOf_VornDataType_operatorNotEqual[] = "VornDataType::operator!=";
const char QOVIX_nameOf_VornDataType_operatorLess[] = "VornDataType::operator<";
const char QOVIX_nameOf_VornDataType_operatorLessEqual[] = "VornDataType::operator<=";
const char QOVIX_nameOf_VornDataType_operatorGreater[] = "VornDataType::operator>";
const char QOVIX_nameOf_VornDataType_operatorGreaterEqual[] = "VornDataType::operator>=";
const char QOVIX_nameOf_VORN_get_handleIndex[] = "VORN::get_handleIndex";
const char QOVIX_nameOf_VORN_set_handleIndex[] = "VORN::set_handleIndex";
