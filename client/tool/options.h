#pragma once

// What the qovix tool was asked on its command line: the server, how to
// reach it, the command with its arguments, and each command's options;
// read by the tool's table of options, which its --help shows too.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/help_text.h"
#include "client/connection.h"
#include "qovix_protocol.h"

namespace qovix::tool {

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = qovix::protocol::kDefaultPort;
  qovix::client::Transport transport = qovix::client::Transport::Tcp;
  std::vector<std::string> command;
  bool help = false;
  bool version = false;
  bool json = false;
  bool keep = false;
  bool check = true;
  qovix::client::TlsOptions tls;
  std::string format = "svg";  // diagram
  std::string output = "-";    // diagram
  std::string links;           // diagram: the prefix of each box's link
  std::string listen;          // web: where the web view is served
  std::string actingFor;       // the user the connection acts for
  int depth = -1;              // tree: the levels shown; all when negative
  std::string package;         // tree: the package shown
  std::string searchClass;     // search: the class of what is found
  std::string into;            // import
  std::string xmi = "1.2";     // export
  bool dryRun = false;         // delete
};

// A port option's value; throws UsageError for no port from 1 to 65535.
std::uint16_t readPort(const std::string& value);

// Reads the command line, with defaults from QOVIX_HOST and QOVIX_PORT.
// Throws UsageError for bad usage.
Options parseOptions(int argc, char** argv);

// The options as --help lists them, from the same table.
std::vector<cli::HelpEntry> optionHelp();

}  // namespace qovix::tool
