#include "client/tool/options.h"

#include <charconv>
#include <cstdlib>
#include <optional>
#include <span>
#include <string_view>

#include "cli/command_line.h"
#include "client/tool/lookup.h"

namespace qovix::tool {

std::uint16_t readPort(const std::string& value) {
  unsigned port = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
  if (error != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535) {
    throw UsageError("--port needs a number from 1 to 65535, not '" + value + "'");
  }
  return static_cast<std::uint16_t>(port);
}

namespace {

// One option: its name, the value it takes (empty: none), what it does, and
// how it sets the options. Options that address the server are taken only
// before the command; the rest anywhere.
struct ToolOption {
  std::string_view name;
  std::string_view argument;
  std::string_view help;
  void (*apply)(Options& options, const std::string& value);
  bool beforeCommandOnly = false;
};

// A TLS file option: it implies --tls.
template <std::string qovix::client::TlsOptions::*file>
void setTlsFile(Options& options, const std::string& value) {
  options.tls.*file = value;
  options.tls.enabled = true;
}

const ToolOption kOptions[] = {
    {"--host", "HOST[,HOST...]",
     "the server's name, IPv4 or IPv6 address (default $QOVIX_HOST, else 127.0.0.1); several "
     "servers of one shared repository, each HOST[:PORT], the next taking over when one stops "
     "answering",
     [](Options& o, const std::string& v) { o.host = v; }, true},
    {"--port", "PORT", "its port (default $QOVIX_PORT, else 20241)",
     [](Options& o, const std::string& v) { o.port = readPort(v); }, true},
    {"--udp", "", "call over UDP instead of TCP",
     [](Options& o, const std::string&) { o.transport = qovix::client::Transport::Udp; }},
    {"--tls", "",
     "call over RPC-with-TLS (RFC 9289), verifying the server with the system's CAs; never "
     "in plain text",
     [](Options& o, const std::string&) { o.tls.enabled = true; }},
    {"--ca", "FILE", "verify the server with this CA instead (implies --tls)",
     &setTlsFile<&qovix::client::TlsOptions::authority>, true},
    {"--cert", "FILE", "present this client certificate (PEM; implies --tls); its",
     &setTlsFile<&qovix::client::TlsOptions::certificate>, true},
    {"--key", "FILE", "private key", &setTlsFile<&qovix::client::TlsOptions::key>, true},
    {"--acting-for", "USER",
     "make the calls for user:USER, on the word of --cert, which qovixd's access file trusts "
     "with a 'vouch' line",
     [](Options& o, const std::string& v) { o.actingFor = v; }, true},
    {"--json", "", "print call, ls, tree and procedures as JSON",
     [](Options& o, const std::string&) { o.json = true; }},
    {"--keep", "",
     "ls and tree keep the handles they list registered (they release them otherwise)",
     [](Options& o, const std::string&) { o.keep = true; }},
    {"--no-check", "",
     "send calls without first checking their handles with the server (the wire cannot "
     "report a handle that names nothing: such a call answers the procedure's previous result)",
     [](Options& o, const std::string&) { o.check = false; }},
    {"--format", "FORMAT", "diagram: svg (the default), png or dot",
     [](Options& o, const std::string& v) {
       if (v != "svg" && v != "png" && v != "dot") {
         throw UsageError("--format is svg, png or dot, not '" + v + "'");
       }
       o.format = v;
     }},
    {"--output", "FILE", "diagram: the file to write (also -o; default: standard output)",
     [](Options& o, const std::string& v) { o.output = v; }},
    {"--links", "PREFIX",
     "diagram: make each class and package a link to PREFIX followed by its object number",
     [](Options& o, const std::string& v) { o.links = v; }},
    {"--listen", "ADDRESS:PORT",
     "web: serve the web view there (default 127.0.0.1:8080; a loopback address)",
     [](Options& o, const std::string& v) { o.listen = v; }},
    {"--depth", "N", "tree: show N levels (1: the top-level packages alone; default: all)",
     [](Options& o, const std::string& v) {
       int depth = 0;
       const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), depth);
       if (error != std::errc() || end != v.data() + v.size() || depth < 1) {
         throw UsageError("--depth is a number of levels from 1, not '" + v + "'");
       }
       o.depth = depth;
     }},
    {"--package", "PACKAGE", "tree: show that package (a name, or #N) instead of them all",
     [](Options& o, const std::string& v) { o.package = v; }},
    {"--class", "CLASS", "search: only elements of CLASS or a subclass",
     [](Options& o, const std::string& v) { o.searchClass = v; }},
    {"--into", "PACKAGE", "import: the package to import into (by name, or #NUMBER)",
     [](Options& o, const std::string& v) { o.into = v; }},
    {"--xmi", "VERSION", "export: 1.2 (the default), 1.0 or 2.5",
     [](Options& o, const std::string& v) {
       if (v != "1.2" && v != "1.0" && v != "2.5") {
         throw UsageError("--xmi is 1.2, 1.0 or 2.5, not '" + v + "'");
       }
       o.xmi = v;
     }},
    {"--dry-run", "", "delete: say what would be deleted, and delete nothing",
     [](Options& o, const std::string&) { o.dryRun = true; }},
    {"--help", "", "show this help (also -h)",
     [](Options& o, const std::string&) { o.help = true; }},
    {"--version", "", "show the version", [](Options& o, const std::string&) { o.version = true; },
     true},
};

const ToolOption* findOption(std::string_view name) {
  if (name == "-o") name = "--output";
  if (name == "-h") name = "--help";
  for (const ToolOption& option : kOptions) {
    if (option.name == name) return &option;
  }
  return nullptr;
}

}  // namespace

Options parseOptions(int argc, char** argv) {
  Options options;
  // Defaults from the environment, as for other servers' tools.
  if (const char* host = std::getenv("QOVIX_HOST"); host != nullptr && *host != '\0') {
    options.host = host;
  }
  if (const char* port = std::getenv("QOVIX_PORT"); port != nullptr && *port != '\0') {
    options.port = readPort(port);
  }
  // An option's own check throws its UsageError; the reading's refusals are
  // said as one too.
  const cli::CommandLine line{
      .find = [](std::string_view name) -> std::optional<cli::OptionSpec> {
        const ToolOption* option = findOption(name);
        if (option == nullptr) return std::nullopt;
        return cli::OptionSpec{.takesValue = !option->argument.empty(),
                               .beforeWordsOnly = option->beforeCommandOnly};
      },
      .apply = [&](std::string_view name, const std::string& value) -> cli::Refusal {
        findOption(name)->apply(options, value);
        return std::nullopt;
      },
      .word = [&](std::string word) { options.command.push_back(std::move(word)); }};
  if (auto refused =
          cli::readCommandLine(std::span<const char* const>(argv + 1, argv + argc), line)) {
    throw UsageError(*refused);
  }
  if (options.tls.enabled && options.transport == qovix::client::Transport::Udp) {
    throw UsageError("RPC-with-TLS runs over TCP: --tls and --udp do not go together");
  }
  if (options.tls.certificate.empty() != options.tls.key.empty()) {
    throw UsageError("--cert and --key go together");
  }
  if (!options.actingFor.empty() && options.tls.certificate.empty()) {
    throw UsageError("--acting-for needs the certificate that vouches for the user (--cert)");
  }
  return options;
}

std::vector<cli::HelpEntry> optionHelp() {
  std::vector<cli::HelpEntry> entries;
  for (const ToolOption& option : kOptions) {
    std::string left(option.name);
    if (!option.argument.empty()) left.append(" ").append(option.argument);
    entries.push_back({std::move(left), std::string(option.help)});
  }
  return entries;
}

}  // namespace qovix::tool
