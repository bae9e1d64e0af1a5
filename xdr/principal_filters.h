#pragma once

// The filter of a user's name, as a trusted client names the user its
// connection acts for (host procedure act_for).

#include <rpc/xdr.h>

#include <string>

// Bytes, at most 1 KiB: the server says what a name may hold.
bool_t X_UserName(XDR* xdrs, std::string* name);
