// qovix: work on a qovixd repository from the shell.

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/protocol.h"
#include "client/tool/lookup.h"
#include "client/tool/model_view.h"

namespace {

using qovix::tool::UsageError;

constexpr const char* kHelp =
    "Usage: qovix [--host HOST] [--port PORT] [--udp] COMMAND [ARGUMENTS]\n"
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
    "                                   With CHECK 1 (the default) the handle names no\n"
    "                                   object, printed (empty), unless the object's\n"
    "                                   class conforms\n"
    "  procedures CLASS                 the class's procedures with their wire types\n"
    "  ls CLASS                         the instances of a class: handle, class, name\n"
    "  tree                             packages with what they contain\n"
    "  demo                             build a small banking model and show it\n"
    "  repository                       the repository's handle\n"
    "\n"
    "Options:\n"
    "  --host HOST   the server's name or IPv4 address (default 127.0.0.1)\n"
    "  --port PORT   its port (default 20241)\n"
    "  --udp         call over UDP instead of TCP\n"
    "  --help        show this help\n"
    "  --version     show the version\n"
    "\n"
    "Exit status:\n"
    "  0  done\n"
    "  1  the call failed\n"
    "  2  bad usage\n";

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = qovix::protocol::kDefaultPort;
  qovix::client::Transport transport = qovix::client::Transport::Tcp;
  std::vector<std::string> command;
  bool help = false;
  bool version = false;
};

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      options.help = true;
    } else if (argument == "--version" && options.command.empty()) {
      options.version = true;
    } else if (argument == "--udp") {
      options.transport = qovix::client::Transport::Udp;
    } else if ((argument == "--host" || argument == "--port") && options.command.empty()) {
      if (i + 1 >= argc) throw UsageError("option '" + argument + "' needs a value");
      const std::string value = argv[++i];
      if (argument == "--host") {
        options.host = value;
      } else {
        unsigned port = 0;
        const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), port);
        if (error != std::errc() || end != value.data() + value.size() || port == 0 ||
            port > 65535) {
          throw UsageError("--port needs a number from 1 to 65535, not '" + value + "'");
        }
        options.port = static_cast<std::uint16_t>(port);
      }
    } else if (argument.rfind("--", 0) == 0 && options.command.empty()) {
      throw UsageError("unknown option '" + argument + "'");
    } else {
      options.command.push_back(argument);
    }
  }
  return options;
}

void expectArguments(const std::vector<std::string>& command, std::size_t count,
                     const char* usage) {
  if (command.size() != count) throw UsageError(std::string("usage: qovix ") + usage);
}

int run(const Options& options) {
  const std::vector<std::string>& command = options.command;
  if (command.empty()) throw UsageError("no command given");
  const std::string& name = command[0];
  if (name == "procedures") {
    expectArguments(command, 2, "procedures CLASS");
    for (const ProcedureListing* procedure :
         qovix::tool::proceduresOf(qovix::tool::findClass(command[1]))) {
      std::printf("%4u  %-46s %-36s %s -> %s\n", procedure->number,
                  std::string(procedure->label)
                      .substr(std::string(procedure->className).size() + 1)
                      .c_str(),
                  procedure->member, procedure->argument, procedure->result);
    }
    return 0;
  }
  if (name != "call" && name != "cast" && name != "ls" && name != "tree" && name != "demo" &&
      name != "repository") {
    throw UsageError("unknown command '" + name + "'");
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
  } else {
    expectArguments(command, 1, name.c_str());
  }

  qovix::client::Connection connection(options.host, options.port, options.transport);
  if (name == "call") {
    const auto result = connection.call(classNumber, procedure->number, fields,
                                        qovix::tool::resultKindOf(*procedure));
    std::cout << qovix::tool::formatResult(connection, result) << '\n';
  } else if (name == "cast") {
    qovix::client::Result result;
    result.kind = qovix::client::ResultKind::Handle;
    result.handle = connection.cast(classNumber, fields[0].word, fields[1].word != 0);
    const bool empty = connection.identity(result.handle).object == 0;
    std::cout << qovix::tool::formatResult(connection, result) << (empty ? " (empty)" : "") << '\n';
  } else if (name == "ls") {
    qovix::tool::listInstances(connection, classNumber, std::cout);
  } else if (name == "tree") {
    qovix::tool::printTree(connection, std::cout);
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
  }
}
