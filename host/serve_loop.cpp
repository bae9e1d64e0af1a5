#include "host/serve_loop.h"

#include <poll.h>
#include <rpc/rpc.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "host/host_error.h"
#include "host/stream_listener.h"

SignalWatch::SignalWatch(std::initializer_list<int> signals) {
  sigset_t mask;
  sigemptyset(&mask);
  for (int signal : signals) sigaddset(&mask, signal);
  if (sigprocmask(SIG_BLOCK, &mask, nullptr) != 0) throw HostError("cannot block signals");
  fd_ = signalfd(-1, &mask, SFD_CLOEXEC);
  if (fd_ < 0) throw HostError(std::string("cannot watch signals: ") + std::strerror(errno));
}

SignalWatch::~SignalWatch() { close(fd_); }

int SignalWatch::take() const {
  signalfd_siginfo info{};
  if (read(fd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return 0;
  return static_cast<int>(info.ssi_signo);
}

int serveRound(int signalFd, StreamListener& connections, int longest,
               std::vector<pollfd>& watched) {
  const auto now = StreamListener::Clock::now();
  int timeout = connections.closeIdle(now);
  if (const int due = connections.closeDue(now); due >= 0 && (timeout < 0 || due < timeout)) {
    timeout = due;
  }
  if (longest >= 0 && (timeout < 0 || timeout > longest)) timeout = longest;
  // The runtime's own table first, laid out as it expects, then where the
  // runtime never looks: the signal descriptor, and the connections whose
  // replies wait for room to be written.
  const auto transports = static_cast<std::size_t>(svc_max_pollfd);
  watched.assign(svc_pollfd, svc_pollfd + transports);
  watched.push_back({signalFd, POLLIN, 0});
  connections.watchWaitingReplies(watched);
  const std::size_t writers = transports + 1;
  if (watched.size() > writers && (timeout < 0 || timeout > 1000)) {
    timeout = 1000;  // a client that takes nothing is noticed within a second of its time
  }

  const int ready = poll(watched.data(), watched.size(), timeout);
  if (ready < 0) {
    if (errno == EINTR) return 0;
    throw HostError(std::string("poll failed: ") + std::strerror(errno));
  }
  if (signalFd >= 0 && watched[transports].revents != 0) return -1;
  if (ready > 0) {
    // The calls that arrived together are committed together, and their
    // replies leave together, once they are.
    connections.openRound();
    svc_getreq_poll(watched.data(), ready);
    connections.closeRound();
  }
  connections.writeWaitingReplies(std::span(watched).subspan(writers),
                                  StreamListener::Clock::now());
  return 0;
}

int serveUntilSignalled(const SignalWatch& signals, StreamListener& connections) {
  std::vector<pollfd> watched;  // kept from round to round
  for (;;) {
    if (serveRound(signals.fd(), connections, -1, watched) < 0) return signals.take();
  }
}
