#pragma once

// `qovix web`: starts the web view (the Python program qovix_web, assembled
// beside the qovix binary in the build tree and installed in
// share/qovix/python) in place of this process, with qovix's own server
// and TLS options.

#include <string>
#include <vector>

#include "client/tls_options.h"

namespace qovix::tool {

struct WebLaunch {
  std::string host;
  std::uint16_t port = 0;
  client::TlsOptions tls;
  std::string listen;  // ADDRESS:PORT; empty: the web view's default
  // The web view's own options (sign-in, HTTPS), which it checks itself.
  std::vector<std::string> more;
};

// Never returns: runs python3 -m qovix_web (the python3 that QOVIX_PYTHON
// names, or else the one the build chose), or throws std::runtime_error
// saying what is missing.
[[noreturn]] void launchWeb(const WebLaunch& launch);

}  // namespace qovix::tool
