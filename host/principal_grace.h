#pragma once

// The grace of certified principals: their handles outlive their last
// connection by the grace period, so a client that reconnects (after a
// network hiccup, a restart) finds them again; a principal gone for longer
// has them released.

#include <chrono>
#include <cstddef>
#include <string>
#include <unordered_map>

#include "host/principals.h"

class PrincipalGrace {
 public:
  using Clock = std::chrono::steady_clock;

  void setGrace(std::chrono::seconds grace) { grace_ = grace; }

  // A connection of a certified principal began or ended. May throw
  // std::bad_alloc.
  void connected(const Principal& principal);
  void disconnected(const Principal& principal, Clock::time_point now);

  // Releases the handles of the principals gone past their grace; answers
  // when the next is due (Clock::time_point::max(): none is).
  Clock::time_point releaseDue(Clock::time_point now);

 private:
  std::chrono::seconds grace_{0};
  std::unordered_map<std::string, std::size_t> connections_;    // by registry key
  std::unordered_map<std::string, Clock::time_point> leaving_;  // released when due
};
