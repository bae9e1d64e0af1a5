#include "host/options.h"

#include <arpa/inet.h>

#include <charconv>
#include <optional>
#include <string_view>

#include "qovix_protocol.h"

namespace {

constexpr int kUsageError = 2;

CommandLineExit usageError(const std::string& message) {
  return {kUsageError, "qovixd: " + message + "\nTry 'qovixd --help' for more information.\n"};
}

bool isNumericAddress(const std::string& text) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::optional<std::uint16_t> parsePort(std::string_view text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

std::optional<unsigned> parseCount(std::string_view text, unsigned least, unsigned most) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < least || value > most) {
    return std::nullopt;
  }
  return value;
}

// Reads a number option's value into `into`; the usage error that says what
// it needs when the value is no number from `least` to `most`.
std::optional<CommandLineExit> readCount(std::string_view name, const std::string& value,
                                         unsigned least, unsigned most, std::size_t& into) {
  const auto count = parseCount(value, least, most);
  if (!count) {
    return usageError(std::string(name) + " needs a number from " + std::to_string(least) +
                      " to " + std::to_string(most) + ", not '" + value + "'");
  }
  into = *count;
  return std::nullopt;
}

// Bounds for the connection options: far beyond any descriptor limit, and a
// day of idleness.
constexpr unsigned kMostConnections = 1u << 20;
constexpr unsigned kMostIdleSeconds = 86400;
// Object numbers are 32-bit.
constexpr unsigned kMostObjects = 0xFFFFFFFEu;

// Where an installed qovixd finds libQOVIX_os.so, from its own folder.
constexpr const char* kInstalledLibraryFolder = QOVIX_LIBRARY_FOLDER_FROM_EXECUTABLE;

}  // namespace

std::string hostHelpText() {
  return "Usage: qovixd [OPTION]...\n"
         "Serve the QOVIX model repository over ONC RPC (TCP and UDP).\n"
         "\n"
         "  --bind ADDRESS    numeric IPv4 or IPv6 address to serve on (default 127.0.0.1)\n"
         "  --port PORT       TCP and UDP port (default " +
         std::to_string(qovix::protocol::kDefaultPort) +
         "; 0 picks a free port)\n"
         "  --library PATH    the QOVIX_os library to load (default: libQOVIX_os.so in\n"
         "                    the folder that holds qovixd, else in " +
         std::string(kInstalledLibraryFolder) +
         " from it,\n"
         "                    where an installed qovixd finds it)\n"
         "  --repository-name NAME\n"
         "                    the name of the repository served (default 'repository')\n"
         "  --store FILE      the repository file, made when missing (default " +
         std::string(kDefaultStorePath) +
         "\n"
         "                    in the current folder); every change a reply acknowledges\n"
         "                    is in it. 'memory' keeps the repository in memory instead,\n"
         "                    lost when qovixd stops\n"
         "  --max-objects N   let the repository hold at most N objects (default " +
         std::to_string(StoreLimits{}.mostObjects) +
         ");\n"
         "                    a call that would make more answers the system error; one\n"
         "                    call makes at most " +
         std::to_string(StoreLimits{}.mostCreatedPerTransaction) +
         "\n"
         "  --max-handles-per-client N\n"
         "                    let one client address hold at most N handles at once\n"
         "                    (default " +
         std::to_string(HostOptions{}.maxHandlesPerClient) +
         "); past that, a call that would make one answers the system error\n"
         "  --sync MODE       'normal' (default): acknowledged changes outlast qovixd being\n"
         "                    killed; 'full': also the machine losing power, flushing\n"
         "                    each to the disk before its reply\n"
         "  --documents DIR   the folder packages are externalized to and internalized\n"
         "                    from (default: none, and those operations fail)\n"
         "  --max-connections N\n"
         "                    keep at most N TCP connections (default " +
         std::to_string(ConnectionLimits{}.maxConnections) +
         ");\n"
         "                    with N open, a new one ends the least recently active\n"
         "  --idle-seconds S  close a TCP connection that sends nothing for S seconds\n"
         "                    (default " +
         std::to_string(ConnectionLimits{}.idleTimeout.count()) +
         "; 0 keeps idle connections open)\n"
         "  --udp-max-reply BYTES\n"
         "                    answer a UDP call whose reply is larger with the system error\n"
         "                    (default " +
         std::to_string(ConnectionLimits{}.udpMostReplyBytes) +
         "; 512 to 65507), so that a small forged call draws no large\n"
         "                    reply; the call is undone and can be made over TCP\n"
         "  --access FILE     who may do what: lines 'LEVEL PRINCIPAL', LEVEL none, read or\n"
         "                    write, PRINCIPAL a client certificate's subject, a peer\n"
         "                    address, or * for everyone else. With it (or --tls-cert),\n"
         "                    each principal sees only the handles made for it\n"
         "  --tls-cert FILE   serve RPC-with-TLS (RFC 9289) on TCP with this certificate\n"
         "  --tls-key FILE    and this private key (PEM)\n"
         "  --tls-ca FILE     accept only clients whose certificate this CA signed\n"
         "                    (mutual TLS); a certificate's subject is its principal\n"
         "  --tls-require     refuse plain TCP calls other than the TLS probe, and serve\n"
         "                    no UDP\n"
         "  --principal-grace-seconds S\n"
         "                    a certified principal's handles outlast its last connection\n"
         "                    by S seconds (default " +
         std::to_string(HostOptions{}.principalGrace.count()) +
         "), so a client that reconnects keeps them\n"
         "  --register        also register the programs with the running rpcbind\n"
         "  --help            show this help and exit\n"
         "  --version         show the version and exit\n"
         "\n"
         "Once ready, qovixd prints 'qovixd listening on ADDRESS:PORT (tcp, udp)'.\n"
         "SIGINT or SIGTERM stops it cleanly. Handles do not outlast qovixd: a new\n"
         "start hands out new ones, the repository's first.\n"
         "\n"
         "Exit status:\n"
         "  0  stopped cleanly\n"
         "  1  serving could not start (port in use, library missing, repository file\n"
         "     refused or in use)\n"
         "  2  bad usage\n";
}

std::variant<HostOptions, CommandLineExit> parseHostOptions(int argc, const char* const* argv) {
  HostOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string_view argument = argv[i];
    if (argument == "--help") return CommandLineExit{0, hostHelpText()};
    if (argument == "--version") return CommandLineExit{0, "qovixd " QOVIX_VERSION "\n"};
    if (!argument.starts_with("--")) {
      return usageError("unexpected argument '" + std::string(argument) + "'");
    }

    std::string_view name = argument;
    std::optional<std::string> value;
    if (const auto equals = argument.find('='); equals != std::string_view::npos) {
      name = argument.substr(0, equals);
      value = std::string(argument.substr(equals + 1));
    }
    if (name == "--register" || name == "--tls-require") {
      if (value) return usageError("option '" + std::string(name) + "' takes no value");
      (name == "--register" ? options.registerWithRpcbind : options.tlsRequired) = true;
      continue;
    }
    if (name != "--bind" && name != "--port" && name != "--library" &&
        name != "--repository-name" && name != "--documents" && name != "--max-connections" &&
        name != "--idle-seconds" && name != "--store" && name != "--sync" &&
        name != "--max-objects" && name != "--udp-max-reply" &&
        name != "--max-handles-per-client" && name != "--access" && name != "--tls-cert" &&
        name != "--tls-key" && name != "--tls-ca" && name != "--principal-grace-seconds") {
      return usageError("unknown option '" + std::string(name) + "'");
    }
    if (!value) {
      if (i + 1 >= argc) return usageError("option '" + std::string(name) + "' needs a value");
      value = argv[++i];
    }

    if (name == "--bind") {
      if (!isNumericAddress(*value)) {
        return usageError("--bind needs a numeric IPv4 or IPv6 address, not '" + *value + "'");
      }
      options.bindAddress = *value;
    } else if (name == "--port") {
      const auto port = parsePort(*value);
      if (!port) return usageError("--port needs a number from 0 to 65535, not '" + *value + "'");
      options.port = *port;
    } else if (name == "--library") {
      if (value->empty()) return usageError("--library needs a path");
      options.libraryPath = *value;
    } else if (name == "--repository-name") {
      if (value->empty()) return usageError("--repository-name needs a name");
      options.repositoryName = *value;
    } else if (name == "--max-connections") {
      auto& into = options.connectionLimits.maxConnections;
      if (auto error = readCount(name, *value, 1, kMostConnections, into)) return *error;
    } else if (name == "--idle-seconds") {
      std::size_t seconds = 0;
      if (auto error = readCount(name, *value, 0, kMostIdleSeconds, seconds)) return *error;
      options.connectionLimits.idleTimeout = std::chrono::seconds(seconds);
    } else if (name == "--store") {
      if (value->empty()) return usageError("--store needs a file, or 'memory'");
      options.storePath = *value;
    } else if (name == "--udp-max-reply") {
      auto& into = options.connectionLimits.udpMostReplyBytes;
      if (auto error = readCount(name, *value, 512, 65507, into)) return *error;
    } else if (name == "--max-handles-per-client") {
      if (auto error = readCount(name, *value, 1, kMostObjects, options.maxHandlesPerClient)) {
        return *error;
      }
    } else if (name == "--access" || name == "--tls-cert" || name == "--tls-key" ||
               name == "--tls-ca") {
      if (value->empty()) return usageError(std::string(name) + " needs a file");
      (name == "--access"     ? options.accessFile
       : name == "--tls-cert" ? options.tlsCertificate
       : name == "--tls-key"  ? options.tlsKey
                              : options.tlsAuthority) = *value;
    } else if (name == "--principal-grace-seconds") {
      std::size_t seconds = 0;
      if (auto error = readCount(name, *value, 0, kMostIdleSeconds, seconds)) return *error;
      options.principalGrace = std::chrono::seconds(seconds);
    } else if (name == "--max-objects") {
      if (auto error = readCount(name, *value, 1, kMostObjects, options.maxObjects)) return *error;
    } else if (name == "--sync") {
      if (*value != "normal" && *value != "full") {
        return usageError("--sync needs 'normal' or 'full', not '" + *value + "'");
      }
      options.syncFull = *value == "full";
    } else {
      if (value->empty()) return usageError("--documents needs a folder");
      options.documentFolder = *value;
    }
  }
  if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
    return usageError("--tls-cert and --tls-key go together");
  }
  if (options.tlsCertificate.empty() && (!options.tlsAuthority.empty() || options.tlsRequired)) {
    return usageError(std::string(options.tlsRequired ? "--tls-require" : "--tls-ca") +
                      " needs --tls-cert and --tls-key");
  }
  return options;
}
