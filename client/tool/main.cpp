// qovix: work on a qovixd repository from the shell.

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "qovix_protocol.h"
#include "client/tool/diagram.h"
#include "client/tool/documents.h"
#include "client/tool/lookup.h"
#include "client/tool/model_view.h"
#include "client/tool/suggestions.h"
#include "client/tool/table.h"

namespace {

using qovix::tool::UsageError;

constexpr const char* kHelp =
    "Usage: qovix [OPTIONS] COMMAND [ARGUMENTS]\n"
    "Work on the model repository a qovixd serves.\n"
    "\n"
    "Commands:\n"
    "  call CLASS PROCEDURE [ARGS...]   call one procedure and print its result.\n"
    "                                   CLASS: a name (with or without QOVIX) or a\n"
    "                                   class number; PROCEDURE: a label suffix such\n"
    "                                   as get_tag_0, or a number; ARGS, in record\n"
    "                                   order: handles and numbers as numbers, values\n"
    "                                   as CLASS:VALUE (name:Account, string:x,\n"
    "                                   bool:true, int:5, VisibilityKind:private) or\n"
    "                                   bare in the parameter's own class\n"
    "  cast CLASS HANDLE [CHECK]        a new handle to the object seen as CLASS; a\n"
    "                                   class's procedures take handles of that class.\n"
    "                                   With CHECK 1 (the default) an object whose\n"
    "                                   class does not conform is refused\n"
    "  procedures CLASS                 the class's procedures with their wire types\n"
    "  ls CLASS                         the instances of a class: object, class, name\n"
    "                                   (with --keep, a handle to each as well)\n"
    "  tree                             packages with what they contain\n"
    "  diagram PACKAGE [--format svg|png|dot] [-o FILE]\n"
    "                                   a UML class diagram of the package (by name),\n"
    "                                   drawn by Graphviz; svg by default, to FILE or\n"
    "                                   standard output\n"
    "  import DOCUMENT [--into PACKAGE]  read a UML 1.3 or 1.4 model from an XMI\n"
    "                                   document in qovixd's --documents folder, as\n"
    "                                   a new top-level package (or into PACKAGE), and\n"
    "                                   print what was imported and what was skipped\n"
    "  export PACKAGE DOCUMENT [--xmi 1.2|1.0]\n"
    "                                   write the package as an XMI document in that\n"
    "                                   folder: UML 1.4 in XMI 1.2 (the default) or\n"
    "                                   UML 1.3 in XMI 1.0\n"
    "  demo                             build a small banking model and show it\n"
    "  repository                       the repository's handle\n"
    "\n"
    "Options:\n"
    "  --host HOST   the server's name, IPv4 or IPv6 address (default $QOVIX_HOST,\n"
    "                else 127.0.0.1)\n"
    "  --port PORT   its port (default $QOVIX_PORT, else 20241)\n"
    "  --udp         call over UDP instead of TCP\n"
    "  --tls         call over RPC-with-TLS (RFC 9289), verifying the server with the\n"
    "                system's CAs; never in plain text\n"
    "  --ca FILE     verify the server with this CA instead (implies --tls)\n"
    "  --cert FILE   present this client certificate (PEM; implies --tls); its\n"
    "  --key FILE    private key\n"
    "  --json        print call, ls, tree and procedures as JSON\n"
    "  --keep        ls and tree keep the handles they list registered (they release\n"
    "                them otherwise)\n"
    "  --no-check    send calls without first checking their handles with the server\n"
    "                (the wire cannot report a handle that names nothing: such a call\n"
    "                answers the procedure's previous result)\n"
    "  --help        show this help\n"
    "  --version     show the version\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the call failed, or a handle names no object of the class it needs\n"
    "  2  bad usage, or a value of another class than the parameter's\n";

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
  std::string into;            // import
  std::string xmi = "1.2";     // export
};

std::uint16_t readPort(const std::string& value) {
  unsigned port = 0;
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
  if (error != std::errc() || end != value.data() + value.size() || port == 0 || port > 65535) {
    throw UsageError("--port needs a number from 1 to 65535, not '" + value + "'");
  }
  return static_cast<std::uint16_t>(port);
}

Options parse(int argc, char** argv) {
  Options options;
  // Defaults from the environment, as for other servers' tools.
  if (const char* host = std::getenv("QOVIX_HOST"); host != nullptr && *host != '\0') {
    options.host = host;
  }
  if (const char* port = std::getenv("QOVIX_PORT"); port != nullptr && *port != '\0') {
    options.port = readPort(port);
  }
  auto valueOf = [&](int& i, const std::string& option) {
    if (i + 1 >= argc) throw UsageError("option '" + option + "' needs a value");
    return std::string(argv[++i]);
  };
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool beforeCommand = options.command.empty();
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version" && beforeCommand) {
      options.version = true;
    } else if (argument == "--udp") {
      options.transport = qovix::client::Transport::Udp;
    } else if (argument == "--json") {
      options.json = true;
    } else if (argument == "--keep") {
      options.keep = true;
    } else if (argument == "--no-check") {
      options.check = false;
    } else if (argument == "--tls") {
      options.tls.enabled = true;
    } else if ((argument == "--ca" || argument == "--cert" || argument == "--key") &&
               beforeCommand) {
      (argument == "--ca" ? options.tls.authority
       : argument == "--cert" ? options.tls.certificate
                              : options.tls.key) = valueOf(i, argument);
      options.tls.enabled = true;
    } else if (argument == "--host" && beforeCommand) {
      options.host = valueOf(i, argument);
    } else if (argument == "--port" && beforeCommand) {
      options.port = readPort(valueOf(i, argument));
    } else if (argument == "--format") {
      options.format = valueOf(i, argument);
      if (options.format != "svg" && options.format != "png" && options.format != "dot") {
        throw UsageError("--format is svg, png or dot, not '" + options.format + "'");
      }
    } else if (argument == "--into") {
      options.into = valueOf(i, argument);
    } else if (argument == "--xmi") {
      options.xmi = valueOf(i, argument);
      if (options.xmi != "1.2" && options.xmi != "1.0") {
        throw UsageError("--xmi is 1.2 or 1.0, not '" + options.xmi + "'");
      }
    } else if (argument == "-o" || argument == "--output") {
      options.output = valueOf(i, argument);
    } else if (argument.rfind("--", 0) == 0 && beforeCommand) {
      throw UsageError("unknown option '" + argument + "'");
    } else {
      options.command.push_back(argument);
    }
  }
  if (options.tls.enabled && options.transport == qovix::client::Transport::Udp) {
    throw UsageError("RPC-with-TLS runs over TCP: --tls and --udp do not go together");
  }
  if (options.tls.certificate.empty() != options.tls.key.empty()) {
    throw UsageError("--cert and --key go together");
  }
  return options;
}

void expectArguments(const std::vector<std::string>& command, std::size_t count,
                     const char* usage) {
  if (command.size() != count) throw UsageError(std::string("usage: qovix ") + usage);
}

void printProcedures(std::uint32_t classNumber, bool json) {
  const auto procedures = qovix::tool::proceduresOf(classNumber);
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const ProcedureListing* each : procedures) {
      list.push_back({{"number", each->number},
                      {"label", each->label},
                      {"procedure", qovix::tool::suffixOf(*each)},
                      {"family", each->family},
                      {"feature", each->feature},
                      {"member", each->member},
                      {"argument", each->argument},
                      {"result", each->result}});
    }
    std::cout << list.dump() << '\n';
    return;
  }
  std::vector<qovix::tool::TableRow> rows = {{"NUMBER", "PROCEDURE", "MEMBER", "ARGUMENT -> RESULT"}};
  for (const ProcedureListing* each : procedures) {
    rows.push_back({std::to_string(each->number), qovix::tool::suffixOf(*each), each->member,
                    std::string(each->argument) + " -> " + each->result});
  }
  qovix::tool::printTable(rows, std::cout);
}

// A handle any cast may take: one that names something.
void checkCastHandle(qovix::client::Connection& connection, std::uint32_t handle) {
  const std::string named = connection.className(handle);
  if (named.empty() || (named.rfind("QOVIX", 0) == 0 && connection.identity(handle).object == 0)) {
    throw qovix::client::Error(qovix::client::ErrorKind::InvalidHandle,
                               "no object has handle " + std::to_string(handle));
  }
}

int run(const Options& options) {
  const std::vector<std::string>& command = options.command;
  if (command.empty()) throw UsageError("no command given");
  const std::string& name = command[0];
  if (name == "procedures") {
    expectArguments(command, 2, "procedures CLASS");
    printProcedures(qovix::tool::findClass(command[1]), options.json);
    return 0;
  }
  const std::vector<std::string> commands = {"call",   "cast",   "procedures", "ls",  "tree",
                                             "diagram", "import", "export", "demo", "repository"};
  if (std::find(commands.begin(), commands.end(), name) == commands.end()) {
    throw UsageError("unknown command '" + name + "'" +
                     qovix::tool::didYouMean(name, commands));
  }
  // Check the usage before connecting.
  std::uint32_t classNumber = 0;
  const ProcedureListing* procedure = nullptr;
  std::vector<qovix::client::Field> fields;
  if (name == "call") {
    if (command.size() < 3) throw UsageError("usage: qovix call CLASS PROCEDURE [ARGS...]");
    classNumber = qovix::tool::findClass(command[1]);
    procedure = &qovix::tool::findProcedure(classNumber, command[2]);
    fields = qovix::tool::readArguments(*procedure, {command.begin() + 3, command.end()});
  } else if (name == "cast") {
    if (command.size() != 3 && command.size() != 4)
      throw UsageError("usage: qovix cast CLASS HANDLE [CHECK]");
    classNumber = qovix::tool::findClass(command[1]);
    fields.push_back(qovix::tool::readHandle(command[2], 1));
    fields.push_back(qovix::tool::readNumber(command.size() == 4 ? command[3] : "1", 2));
  } else if (name == "ls") {
    expectArguments(command, 2, "ls CLASS");
    classNumber = qovix::tool::findClass(command[1]);
  } else if (name == "diagram") {
    expectArguments(command, 2, "diagram PACKAGE [--format svg|png|dot] [-o FILE]");
  } else if (name == "import") {
    expectArguments(command, 2, "import DOCUMENT [--into PACKAGE]");
  } else if (name == "export") {
    expectArguments(command, 3, "export PACKAGE DOCUMENT [--xmi 1.2|1.0]");
  } else {
    expectArguments(command, 1, name.c_str());
  }

  qovix::client::Connection connection =
      options.tls.enabled ? qovix::client::Connection(options.host, options.port, options.tls)
                          : qovix::client::Connection(options.host, options.port, options.transport);
  connection.setChecked(options.check);
  if (name == "call") {
    const auto result = connection.call(classNumber, procedure->number, fields,
                                        qovix::tool::resultKindOf(*procedure));
    if (options.json) {
      std::cout << qovix::tool::resultJson(connection, result).dump() << '\n';
    } else {
      std::cout << qovix::tool::formatResult(connection, result) << '\n';
    }
  } else if (name == "cast") {
    if (options.check) checkCastHandle(connection, fields[0].word);
    qovix::client::Result result;
    result.kind = qovix::client::ResultKind::Handle;
    result.handle = connection.cast(classNumber, fields[0].word, fields[1].word != 0);
    const bool empty = connection.identity(result.handle).object == 0;
    if (empty && options.check) {
      connection.release(result.handle);
      throw qovix::client::Error(
          qovix::client::ErrorKind::InvalidHandle,
          "handle " + std::to_string(fields[0].word) + " names a " +
              qovix::client::displayClassName(connection.className(fields[0].word)) +
              ", which is no " + qovix::tool::kindOf(classNumber));
    }
    std::cout << qovix::tool::formatResult(connection, result) << (empty ? " (empty)" : "") << '\n';
  } else if (name == "ls") {
    const auto instances = qovix::tool::listInstances(connection, classNumber, options.keep);
    if (options.json) {
      std::cout << qovix::tool::instancesJson(instances).dump() << '\n';
    } else {
      qovix::tool::printInstances(instances, options.keep, std::cout);
    }
  } else if (name == "tree") {
    const auto roots = qovix::tool::readTree(connection, options.keep);
    if (options.json) {
      std::cout << qovix::tool::treeJson(roots).dump() << '\n';
    } else {
      qovix::tool::printTree(roots, std::cout);
    }
  } else if (name == "diagram") {
    const std::string dot = qovix::tool::diagramDot(
        qovix::tool::findPackage(qovix::tool::readTree(connection), command[1]));
    if (options.format == "dot") {
      if (options.output == "-") {
        std::cout << dot;
      } else {
        std::ofstream file(options.output, std::ios::binary);
        if (!(file << dot) || !file.flush()) {
          throw std::runtime_error("cannot write '" + options.output + "'");
        }
      }
    } else {
      qovix::tool::renderDot(dot, options.format, options.output);
    }
  } else if (name == "import") {
    qovix::tool::importDocument(connection, command[1], options.into, std::cout);
  } else if (name == "export") {
    qovix::tool::exportDocument(connection, command[1], command[2], options.xmi, std::cout);
  } else if (name == "demo") {
    qovix::tool::runDemo(connection, std::cout);
  } else {
    std::cout << connection.repository() << '\n';
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = parse(argc, argv);
    if (options.help) {
      std::cout << kHelp;
      return 0;
    }
    if (options.version) {
      std::cout << "qovix " QOVIX_VERSION "\n";
      return 0;
    }
    return run(options);
  } catch (const UsageError& error) {
    std::cerr << "qovix: " << error.what() << "\nTry 'qovix --help' for more information.\n";
    return 2;
  } catch (const std::invalid_argument& error) {
    std::cerr << "qovix: " << error.what() << '\n';
    return 2;
  } catch (const qovix::client::Error& error) {
    std::cerr << "qovix: " << error.what() << '\n';
    return 1;
  } catch (const std::runtime_error& error) {
    std::cerr << "qovix: " << error.what() << '\n';
    return 1;
  }
}
