#include "host/reply_cache.h"

#include <cstring>

namespace {

bool sameCall(const ReplyCache::Call& a, const ReplyCache::Call& b) {
  return a.xid == b.xid && a.program == b.program && a.version == b.version &&
         a.procedure == b.procedure && a.callerLength == b.callerLength &&
         std::memcmp(&a.caller, &b.caller, a.callerLength) == 0;
}

}  // namespace

std::span<const char> ReplyCache::find(const Call& call) const {
  for (std::size_t i = 0; i < xids_.size(); ++i) {
    if (xids_[i] != call.xid) continue;
    const Entry& entry = entries_[i];
    if (entry.used && sameCall(entry.call, call)) return entry.reply;
  }
  return {};
}

void ReplyCache::keep(const Call& call, std::span<const char> reply) {
  if (entries_.empty() || reply.empty() || reply.size() > kLargestKeptReply) return;
  Entry& entry = entries_[next_];
  xids_[next_] = call.xid;
  next_ = (next_ + 1) % entries_.size();
  entry.call = call;
  entry.reply.assign(reply.begin(), reply.end());
  entry.used = true;
}
