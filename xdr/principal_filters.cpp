#include "xdr/principal_filters.h"

#include "xdr/byte_strings.h"

bool_t X_UserName(XDR* xdrs, std::string* name) {
  constexpr std::uint32_t kMostNameBytes = 1024;
  return xdrByteString(xdrs, name, kMostNameBytes);
}
