#include "host/principal_grace.h"

#include <algorithm>

#include "model/vorn_os/handle_registry.h"

void PrincipalGrace::connected(const Principal& principal) {
  const std::string key = principal.key();
  ++connections_[key];
  leaving_.erase(key);
}

void PrincipalGrace::disconnected(const Principal& principal, Clock::time_point now) {
  const std::string key = principal.key();
  const auto found = connections_.find(key);
  if (found == connections_.end() || --found->second > 0) return;
  connections_.erase(found);
  leaving_[key] = now + grace_;
}

PrincipalGrace::Clock::time_point PrincipalGrace::releaseDue(Clock::time_point now) {
  Clock::time_point next = Clock::time_point::max();
  for (auto it = leaving_.begin(); it != leaving_.end();) {
    if (it->second <= now) {
      vorn_os::releaseAllOf(it->first);
      it = leaving_.erase(it);
    } else {
      next = std::min(next, it->second);
      ++it;
    }
  }
  return next;
}
