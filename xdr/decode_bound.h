#pragma once

// Every variable-length item is checked against this bound before its storage
// is allocated, so that a single length word cannot make a decode allocate
// more than the call could carry.

#include <rpc/xdr.h>

#include <cstdint>

// How many more bytes a decode from `xdrs` can deliver: exact for in-memory
// streams (datagrams, test buffers), otherwise the largest call record the
// host accepts.
std::uint32_t decodableBytesLeft(const XDR* xdrs);
