#pragma once

// qovixd's command line.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/connection_limits.h"
#include "store/open_store.h"
#include "store/store_options.h"
#include "store/persistent_store.h"
#include "qovix_protocol.h"

// The repository file qovixd keeps when --store names none, in the folder it
// was started in; and the --store value that keeps the repository in memory.
inline constexpr const char* kDefaultStorePath = "qovix-repository.sqlite3";

struct HostOptions {
  std::string bindAddress = "127.0.0.1";               // a numeric IPv4 or IPv6 address
  std::uint16_t port = qovix::protocol::kDefaultPort;  // 0: pick a free port
  std::string libraryPath;                             // empty: libQOVIX_os.so beside qovixd
  std::string repositoryName = "repository";
  std::string documentFolder;                            // empty: no documents
  std::size_t maxDocumentMib = 1024;                     // the document bound, in MiB
  std::size_t cacheMib = 256;                            // what the store's cache keeps between calls
  std::string storePath = kDefaultStorePath;             // kMemoryStore: kept in memory only
  StoreOptions::Sync sync = StoreOptions::Sync::Normal;  // --sync: how durable a commit is
  HistoryRetention history;  // --history: how long each commit's changes stay
  std::size_t maxObjects = StoreLimits{}.mostObjects;
  std::size_t maxHandlesPerClient = 1'000'000;  // live handles one client address may hold
  bool registerWithRpcbind = false;
  ConnectionLimits connectionLimits;
  std::string accessFile;  // empty: everyone may write
  // RPC-with-TLS (RFC 9289) on TCP: the server's certificate and key (PEM);
  // with a CA, clients must present a certificate it signed (mutual TLS).
  std::string tlsCertificate;
  std::string tlsKey;
  std::string tlsAuthority;
  bool tlsRequired = false;  // plain TCP calls other than the probe are refused; no UDP
  std::chrono::seconds principalGrace{60};  // a certified principal's handles outlast its
                                            // last connection this long

  // Principals are in force: each sees only its own handles.
  bool principalsInForce() const { return !accessFile.empty() || !tlsCertificate.empty(); }
};

// What to do instead of serving: print `text` (to stdout for help, else to
// stderr) and exit with `status`.
struct CommandLineExit {
  int status;
  std::string text;
};

// Parses `argv`; options take their value as `--name VALUE` or `--name=VALUE`.
std::variant<HostOptions, CommandLineExit> parseHostOptions(int argc, const char* const* argv);

// --help: the options from qovixd's table of options, which the parse
// follows too.
std::string hostHelpText();
// Every option's name, in the table's order.
std::vector<std::string_view> hostOptionNames();
