#include "host/options.h"

#include <arpa/inet.h>

#include <charconv>
#include <optional>
#include <span>
#include <string_view>

#include "cli/command_line.h"
#include "cli/help_text.h"
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

// Bounds for the connection options: far beyond any descriptor limit, and a
// day of idleness.
constexpr unsigned kMostConnections = 1u << 20;
constexpr unsigned kMostIdleSeconds = 86400;
// Object numbers are 32-bit.
constexpr unsigned kMostObjects = 0xFFFFFFFEu;

// Where an installed qovixd finds libQOVIX_os.so, from its own folder.
constexpr const char* kInstalledLibraryFolder = QOVIX_LIBRARY_FOLDER_FROM_EXECUTABLE;

// One option: its name, the value it takes (empty: none), what it does,
// and how it sets the options; `apply` answers the usage error's message
// for a value it refuses. --help and --version end the parse instead.
struct HostOption {
  std::string_view name;
  std::string_view argument;
  std::string (*help)();
  std::optional<std::string> (*apply)(HostOptions& options, const std::string& value);
  CommandLineExit (*exit)() = nullptr;
};

using Refusal = std::optional<std::string>;

// A number option's value: the message that says what it needs when it is
// no number from `least` to `most`.
Refusal readCount(std::string_view name, const std::string& value, unsigned least, unsigned most,
                  std::size_t& into) {
  const auto count = parseCount(value, least, most);
  if (!count) {
    return std::string(name) + " needs a number from " + std::to_string(least) + " to " +
           std::to_string(most) + ", not '" + value + "'";
  }
  into = *count;
  return std::nullopt;
}

Refusal readSeconds(std::string_view name, const std::string& value, std::chrono::seconds& into) {
  std::size_t seconds = 0;
  if (auto refused = readCount(name, value, 0, kMostIdleSeconds, seconds)) return refused;
  into = std::chrono::seconds(seconds);
  return std::nullopt;
}

Refusal readText(std::string_view name, const std::string& value, const char* what,
                 std::string& into) {
  if (value.empty()) return std::string(name) + " needs " + what;
  into = value;
  return std::nullopt;
}

std::string number(std::size_t value) { return std::to_string(value); }

const HostOption kOptions[] = {
    {"--bind", "ADDRESS",
     [] { return std::string("numeric IPv4 or IPv6 address to serve on (default 127.0.0.1)"); },
     [](HostOptions& o, const std::string& v) -> Refusal {
       if (!isNumericAddress(v)) {
         return "--bind needs a numeric IPv4 or IPv6 address, not '" + v + "'";
       }
       o.bindAddress = v;
       return std::nullopt;
     }},
    {"--port", "PORT",
     [] {
       return "TCP and UDP port (default " + number(qovix::protocol::kDefaultPort) +
              "; 0 picks a free port)";
     },
     [](HostOptions& o, const std::string& v) -> Refusal {
       const auto port = parsePort(v);
       if (!port) return "--port needs a number from 0 to 65535, not '" + v + "'";
       o.port = *port;
       return std::nullopt;
     }},
    {"--library", "PATH",
     [] {
       return "the QOVIX_os library to load (default: libQOVIX_os.so in the folder that holds "
              "qovixd, else in " +
              std::string(kInstalledLibraryFolder) +
              " from it, where an installed qovixd finds it)";
     },
     [](HostOptions& o, const std::string& v) {
       return readText("--library", v, "a path", o.libraryPath);
     }},
    {"--repository-name", "NAME",
     [] { return std::string("the name of the repository served (default 'repository')"); },
     [](HostOptions& o, const std::string& v) {
       return readText("--repository-name", v, "a name", o.repositoryName);
     }},
    {"--store", "STORE",
     [] {
       return "the repository file, made when missing (default " + std::string(kDefaultStorePath) +
              " in the current folder); every change a reply acknowledges is in it. 'memory' "
              "keeps the repository in memory instead, lost when qovixd stops. A "
              "postgresql://... URI, or 'postgresql:' and a libpq conninfo string, names a "
              "PostgreSQL database that any number of qovixd share; its password comes from "
              "~/.pgpass, PGPASSFILE or PGPASSWORD, never from here";
     },
     [](HostOptions& o, const std::string& v) {
       return readText("--store", v, "a file, 'memory' or a PostgreSQL URI", o.storePath);
     }},
    {"--max-objects", "N",
     [] {
       return "let the repository hold at most N objects (default " +
              number(StoreLimits{}.mostObjects) +
              "); a call that would make more answers the system error; one call makes at "
              "most " +
              number(StoreLimits{}.mostCreatedPerTransaction);
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--max-objects", v, 1, kMostObjects, o.maxObjects);
     }},
    {"--max-handles-per-client", "N",
     [] {
       return "let one client address hold at most N handles at once (default " +
              number(HostOptions{}.maxHandlesPerClient) +
              "); past that, a call that would make one answers the system error";
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--max-handles-per-client", v, 1, kMostObjects, o.maxHandlesPerClient);
     }},
    {"--sync", "MODE",
     [] {
       return std::string(
           "'normal' (default): acknowledged changes outlast qovixd being killed, and on "
           "PostgreSQL the database server being killed too (synchronous_commit on); 'full': "
           "also the machine losing power, flushing each to the disk before its reply; "
           "'relaxed', on PostgreSQL: replies do not wait for the database's disk "
           "(synchronous_commit off), and the changes acknowledged in its last moment (about "
           "0.6 s) are lost when it stops at once or the machine loses power (on the "
           "repository file it is 'normal')");
     },
     [](HostOptions& o, const std::string& v) -> Refusal {
       if (v == "normal") {
         o.sync = StoreOptions::Sync::Normal;
       } else if (v == "full") {
         o.sync = StoreOptions::Sync::Full;
       } else if (v == "relaxed") {
         o.sync = StoreOptions::Sync::Relaxed;
       } else {
         return "--sync needs 'normal', 'full' or 'relaxed', not '" + v + "'";
       }
       return std::nullopt;
     }},
    {"--history", "all|N-days|none",
     [] {
       return std::string(
           "how long each commit's changes are kept, what its slots held before and after, for "
           "the history of objects and for undo: 'all' (default), for N days (for instance "
           "'30-days'), or 'none'. The commit log itself (who committed when, and what objects "
           "they touched) is always kept");
     },
     [](HostOptions& o, const std::string& v) -> Refusal {
       if (v == "all" || v == "none") {
         o.history = {v == "all" ? HistoryRetention::All : HistoryRetention::None, 0};
         return std::nullopt;
       }
       const std::string suffix = "-days";
       std::size_t days = 0;
       if (v.size() > suffix.size() && v.ends_with(suffix) &&
           !readCount("--history", v.substr(0, v.size() - suffix.size()), 1, 100'000, days)) {
         o.history = {HistoryRetention::Days, static_cast<unsigned>(days)};
         return std::nullopt;
       }
       return "--history needs 'all', 'none' or N-days (1 to 100000), not '" + v + "'";
     }},
    {"--documents", "DIR",
     [] {
       return std::string(
           "the folder packages are externalized to and internalized from (default: none, and "
           "those operations fail)");
     },
     [](HostOptions& o, const std::string& v) {
       return readText("--documents", v, "a folder", o.documentFolder);
     }},
    {"--max-document-mib", "N",
     [] {
       return "read, write and receive documents of at most N MiB (default " +
              number(HostOptions{}.maxDocumentMib) +
              ", at most 4096); an archive's inflated content counts. An import holds under 3 "
              "times its document in memory at its peak (a UML 2 one about 5 times)";
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--max-document-mib", v, 1, 4096, o.maxDocumentMib);
     }},
    {"--cache-mib", "N",
     [] {
       return "keep at most N MiB of the repository's objects in memory between calls (default " +
              number(HostOptions{}.cacheMib) +
              ", 1 to 65536): what is read again soon is read from memory, not the file or the "
              "database. A call may use up to 256 MiB, or N when that is more";
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--cache-mib", v, 1, 65536, o.cacheMib);
     }},
    {"--max-connections", "N",
     [] {
       return "keep at most N TCP connections (default " +
              number(ConnectionLimits{}.maxConnections) +
              "); with N open, a new one ends the least recently active";
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--max-connections", v, 1, kMostConnections,
                        o.connectionLimits.maxConnections);
     }},
    {"--idle-seconds", "S",
     [] {
       return "close a TCP connection that sends nothing for S seconds (default " +
              number(static_cast<std::size_t>(ConnectionLimits{}.idleTimeout.count())) +
              "; 0 keeps idle connections open)";
     },
     [](HostOptions& o, const std::string& v) {
       return readSeconds("--idle-seconds", v, o.connectionLimits.idleTimeout);
     }},
    {"--udp-max-reply", "BYTES",
     [] {
       return "answer a UDP call whose reply is larger with the system error (default " +
              number(ConnectionLimits{}.udpMostReplyBytes) +
              "; 512 to 65507), so that a small forged call draws no large reply; the call is "
              "undone and can be made over TCP";
     },
     [](HostOptions& o, const std::string& v) {
       return readCount("--udp-max-reply", v, 512, 65507, o.connectionLimits.udpMostReplyBytes);
     }},
    {"--access", "FILE",
     [] {
       return std::string(
           "who may do what: lines 'LEVEL PRINCIPAL', LEVEL none, read or write, PRINCIPAL a "
           "client certificate's subject, a peer address, or * for everyone else. With it (or "
           "--tls-cert), each principal sees only the handles made for it");
     },
     [](HostOptions& o, const std::string& v) {
       return readText("--access", v, "a file", o.accessFile);
     }},
    {"--tls-cert", "FILE",
     [] { return std::string("serve RPC-with-TLS (RFC 9289) on TCP with this certificate"); },
     [](HostOptions& o, const std::string& v) {
       return readText("--tls-cert", v, "a file", o.tlsCertificate);
     }},
    {"--tls-key", "FILE", [] { return std::string("and this private key (PEM)"); },
     [](HostOptions& o, const std::string& v) {
       return readText("--tls-key", v, "a file", o.tlsKey);
     }},
    {"--tls-ca", "FILE",
     [] {
       return std::string(
           "accept only clients whose certificate this CA signed (mutual TLS); a certificate's "
           "subject is its principal");
     },
     [](HostOptions& o, const std::string& v) {
       return readText("--tls-ca", v, "a file", o.tlsAuthority);
     }},
    {"--tls-require", "",
     [] {
       return std::string("refuse plain TCP calls other than the TLS probe, and serve no UDP");
     },
     [](HostOptions& o, const std::string&) -> Refusal {
       o.tlsRequired = true;
       return std::nullopt;
     }},
    {"--principal-grace-seconds", "S",
     [] {
       return "a certified principal's handles outlast its last connection by S seconds "
              "(default " +
              number(static_cast<std::size_t>(HostOptions{}.principalGrace.count())) +
              "), so a client that reconnects keeps them";
     },
     [](HostOptions& o, const std::string& v) {
       return readSeconds("--principal-grace-seconds", v, o.principalGrace);
     }},
    {"--register", "",
     [] { return std::string("also register the programs with the running rpcbind"); },
     [](HostOptions& o, const std::string&) -> Refusal {
       o.registerWithRpcbind = true;
       return std::nullopt;
     }},
    {"--help", "", [] { return std::string("show this help and exit"); }, nullptr,
     [] {
       return CommandLineExit{0, hostHelpText()};
     }},
    {"--version", "", [] { return std::string("show the version and exit"); }, nullptr,
     [] {
       return CommandLineExit{0, "qovixd " QOVIX_VERSION "\n"};
     }},
};

const HostOption* findOption(std::string_view name) {
  for (const HostOption& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

std::vector<std::string_view> hostOptionNames() {
  std::vector<std::string_view> names;
  for (const HostOption& option : kOptions) names.push_back(option.name);
  return names;
}

std::string hostHelpText() {
  std::vector<cli::HelpEntry> entries;
  for (const HostOption& option : kOptions) {
    std::string left(option.name);
    if (!option.argument.empty()) left.append(" ").append(option.argument);
    entries.push_back({std::move(left), option.help()});
  }
  return "Usage: qovixd [OPTION]...\n"
         "Serve the QOVIX model repository over ONC RPC (TCP and UDP).\n"
         "\n" +
         cli::helpEntries(entries, 20) +
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
  // --help and --version win wherever they stand.
  for (int i = 1; i < argc; ++i) {
    const HostOption* option = findOption(argv[i]);
    if (option != nullptr && option->exit != nullptr) return option->exit();
  }
  const cli::CommandLine line{
      .find = [](std::string_view name) -> std::optional<cli::OptionSpec> {
        const HostOption* option = findOption(name);
        if (option == nullptr || option->apply == nullptr) return std::nullopt;
        return cli::OptionSpec{.takesValue = !option->argument.empty()};
      },
      .apply = [&](std::string_view name, const std::string& value) {
        return findOption(name)->apply(options, value);
      },
      .word = nullptr};
  if (auto refused = cli::readCommandLine(std::span(argv + 1, argv + argc), line)) {
    return usageError(*refused);
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
