#pragma once

// Encodes replies for qovixd's transports into a reusable buffer.

#include <rpc/rpc.h>

#include <cstddef>
#include <vector>

// Encodes `message` into `buffer` from `offset` on, growing the buffer as
// far as `offset + limit` bytes, and returns the encoded length, or 0 when
// nothing could be encoded. Results that do not fit within `limit` (or fail
// to encode) are replaced by a system error reply, so the caller still hears
// that its call failed; `message` then says SYSTEM_ERR too.
std::size_t encodeReply(rpc_msg& message, std::vector<char>& buffer, std::size_t offset,
                        std::size_t limit);
