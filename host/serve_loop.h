#pragma once

// qovixd's event loop: one thread, one call at a time.

#include <poll.h>

#include <initializer_list>
#include <vector>

class StreamListener;

// Blocks the given signals for normal delivery and reports them through a
// descriptor the event loop watches, so a stop request never interrupts a
// call in progress.
class SignalWatch {
 public:
  explicit SignalWatch(std::initializer_list<int> signals);
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  int fd() const { return fd_; }
  // The signal that arrived, once the descriptor is readable.
  int take() const;

 private:
  int fd_;
};

// Serves every registered transport until one of the watched signals
// arrives, and returns that signal. Between calls, connections idle past
// their timeout are closed.
int serveUntilSignalled(const SignalWatch& signals, StreamListener& connections);

// One round of that: waits at most `longest` milliseconds (-1: as long as
// nothing is due) for calls, connections or room to write, and serves what
// came. Answers -1 when `signalFd` (which may be -1) became readable.
// `watched` is the round's poll table, kept by the caller for the next.
int serveRound(int signalFd, StreamListener& connections, int longest,
               std::vector<pollfd>& watched);
