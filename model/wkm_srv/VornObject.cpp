#include "model/wkm_srv/VornObject.h"

// Defined here so the class's type information lives in this library.
VornObject::~VornObject() = default;
