#pragma once

// The tool's connection to qovixd for one run, and which failures mean the
// server went (rather than answered no).

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/connection.h"
#include "client/tool/lookup.h"
#include "client/tool/options.h"

namespace qovix::tool {

// Whether an error says the server stopped answering (rather than that it
// answered no).
inline bool serverGone(const qovix::client::Error& error) {
  using qovix::client::ErrorKind;
  return error.kind() == ErrorKind::CannotConnect || error.kind() == ErrorKind::Timeout ||
         error.kind() == ErrorKind::ConnectionLost;
}

// The connection of one run of the tool, made when a command first needs it:
// a command checks its arguments before, so bad usage needs no server.
// --host may name several servers of one shared repository (a,b:20252):
// the first that answers serves, and failOver moves to the next.
class Session {
 public:
  explicit Session(const Options& options) : options_(options) {
    std::string hosts = options.host;
    for (std::size_t at = 0; at <= hosts.size();) {
      const std::size_t comma = std::min(hosts.find(',', at), hosts.size());
      if (comma > at) servers_.push_back(serverOf(hosts.substr(at, comma - at)));
      at = comma + 1;
    }
    if (servers_.empty()) throw UsageError("--host names no server");
  }

  qovix::client::Connection& connection() {
    if (!connection_) connectToNext(servers_.size());
    return *connection_;
  }

  // Moves to the next server that answers; false when no other is named.
  bool failOver() {
    if (servers_.size() < 2) return false;
    connection_.reset();
    ++next_;
    connectToNext(servers_.size() - 1);
    return true;
  }

  bool severalServers() const { return servers_.size() > 1; }

 private:
  // "host", "host:port" or "[v6]:port"; --port for a server without one.
  std::pair<std::string, std::uint16_t> serverOf(const std::string& text) const {
    if (text.starts_with('[')) {
      const std::size_t close = text.find(']');
      if (close == std::string::npos) throw UsageError("--host: no ']' in '" + text + "'");
      const std::string rest = text.substr(close + 1);
      return {text.substr(1, close - 1),
              rest.starts_with(':') ? readPort(rest.substr(1)) : options_.port};
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) == std::string::npos) {
      return {text.substr(0, colon), readPort(text.substr(colon + 1))};
    }
    return {text, options_.port};
  }

  void actFor(qovix::client::Connection& connection, const std::string& host) const {
    const qovix::Outcome granted = connection.actFor(options_.actingFor);
    if (granted.value == 0) {
      throw qovix::client::Error(qovix::client::ErrorKind::AccessDenied,
                                 "qovixd at " + host + " does not let this client act for " +
                                     options_.actingFor + ": " + granted.text);
    }
  }

  // Tries up to `tries` servers from the next, in turn.
  void connectToNext(std::size_t tries) {
    using qovix::client::Connection;
    for (std::size_t tried = 0;; ++tried, ++next_) {
      const auto& [host, port] = servers_[next_ % servers_.size()];
      try {
        connection_ = options_.tls.enabled
                          ? std::make_unique<Connection>(host, port, options_.tls)
                          : std::make_unique<Connection>(host, port, options_.transport);
        connection_->setChecked(options_.check);
        if (!options_.actingFor.empty()) actFor(*connection_, host);
        return;
      } catch (const qovix::client::Error& error) {
        if (!serverGone(error) || tried + 1 >= tries) throw;
      }
    }
  }

  const Options& options_;
  std::vector<std::pair<std::string, std::uint16_t>> servers_;
  std::size_t next_ = 0;
  std::unique_ptr<qovix::client::Connection> connection_;
};

}  // namespace qovix::tool
