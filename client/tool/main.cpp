// qovix: work on a qovixd repository from the shell.

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/help_text.h"
#include "client/connection.h"
#include "client/tool/diagram.h"
#include "client/tool/documents.h"
#include "client/tool/history_view.h"
#include "client/tool/lookup.h"
#include "client/tool/model_view.h"
#include "client/tool/options.h"
#include "client/tool/session.h"
#include "client/tool/suggestions.h"
#include "client/tool/table.h"
#include "client/tool/web_launch.h"
#include "qovix_protocol.h"
#include "utf/utf.h"

namespace {

using qovix::tool::Options;
using qovix::tool::serverGone;
using qovix::tool::Session;
using qovix::tool::UsageError;

// One command: its name, its arguments after the name as usage shows them,
// how many it takes, what it does, and its handler, which is given the
// command's arguments (the name first).
struct Command {
  std::string_view name;
  std::string_view usage;
  std::size_t leastArguments;
  std::size_t mostArguments;
  std::string_view help;
  void (*run)(const std::vector<std::string>& command, const Options& options, Session& session);
  bool onlyReads = false;  // made again on another server when its server goes
};

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
  std::vector<qovix::tool::TableRow> rows = {
      {"NUMBER", "PROCEDURE", "MEMBER", "ARGUMENT -> RESULT"}};
  for (const ProcedureListing* each : procedures) {
    rows.push_back({std::to_string(each->number), qovix::tool::suffixOf(*each), each->member,
                    std::string(each->argument) + " -> " + each->result});
  }
  qovix::tool::printTable(rows, std::cout);
}

// A handle any cast may take: one that names something.
void checkCastHandle(qovix::client::Connection& connection, std::uint32_t handle) {
  const std::string named = connection.className(handle);
  if (named.empty() || (named.starts_with(qovix::protocol::kClassPrefix) &&
                        connection.identity(handle).object == 0)) {
    throw qovix::client::Error(qovix::client::ErrorKind::InvalidHandle,
                               "no object has handle " + std::to_string(handle));
  }
}

void runCall(const std::vector<std::string>& command, const Options& options, Session& session) {
  const std::uint32_t classNumber = qovix::tool::findClass(command[1]);
  const ProcedureListing& procedure = qovix::tool::findProcedure(classNumber, command[2]);
  auto fields = qovix::tool::readArguments(procedure, {command.begin() + 3, command.end()});
  qovix::client::Connection& connection = session.connection();
  const std::vector<std::uint32_t> made = qovix::tool::resolveObjectNumbers(connection, fields);
  const auto releaseMade = [&] {
    for (std::uint32_t handle : made) connection.release(handle);
  };
  qovix::client::Result result;
  try {
    result = connection.call(classNumber, procedure.number, fields,
                             qovix::tool::resultKindOf(procedure));
  } catch (...) {
    releaseMade();
    throw;
  }
  releaseMade();
  if (options.json) {
    std::cout << qovix::tool::resultJson(connection, result).dump() << '\n';
  } else {
    std::cout << qovix::tool::formatResult(connection, result) << '\n';
  }
}

void runCast(const std::vector<std::string>& command, const Options& options, Session& session) {
  const std::uint32_t classNumber = qovix::tool::findClass(command[1]);
  std::vector<qovix::client::Field> handles = {qovix::tool::readHandle(command[2], 1)};
  const auto check = qovix::tool::readNumber(command.size() == 4 ? command[3] : "1", 2);
  qovix::client::Connection& connection = session.connection();
  // An object number gives a handle of its own class, kept for the cast.
  qovix::tool::resolveObjectNumbers(connection, handles);
  const qovix::client::Field& handle = handles.front();
  if (options.check) checkCastHandle(connection, handle.word);
  qovix::client::Result result;
  result.kind = qovix::client::ResultKind::Handle;
  result.handle = connection.cast(classNumber, handle.word, check.word != 0);
  const bool empty = connection.identity(result.handle).object == 0;
  if (empty && options.check) {
    connection.release(result.handle);
    throw qovix::client::Error(
        qovix::client::ErrorKind::InvalidHandle,
        "handle " + std::to_string(handle.word) + " names a " +
            qovix::client::displayClassName(connection.className(handle.word)) + ", which is no " +
            qovix::tool::kindOf(classNumber));
  }
  std::cout << qovix::tool::formatResult(connection, result) << (empty ? " (empty)" : "") << '\n';
}

void runProcedures(const std::vector<std::string>& command, const Options& options, Session&) {
  printProcedures(qovix::tool::findClass(command[1]), options.json);
}

// Elements by name, best first, each with where it is.
void runSearch(const std::vector<std::string>& command, const Options& options, Session& session) {
  const std::uint32_t classNumber =
      options.searchClass.empty() ? 0 : qovix::tool::findClass(options.searchClass);
  const qovix::SearchPage found = session.connection().search(
      command[1], classNumber, static_cast<std::uint32_t>(qovix::protocol::kMostSearchHits));
  static constexpr const char* kMatches[] = {"exact", "prefix", "within"};
  if (options.json) {
    nlohmann::json hits = nlohmann::json::array();
    for (const qovix::SearchHit& hit : found.hits) {
      hits.push_back({{"object", hit.object},
                      {"class", qovix::tool::className(hit.classNumber)},
                      {"name", utf::toUtf8(hit.name)},
                      {"path", utf::toUtf8(hit.path)},
                      {"match", kMatches[std::clamp(hit.match, 0, 2)]}});
    }
    std::cout << hits.dump() << '\n';
    return;
  }
  if (found.hits.empty()) {
    std::cout << "nothing is named so\n";
    return;
  }
  std::vector<qovix::tool::TableRow> rows{{"OBJECT", "CLASS", "NAME", "WHERE"}};
  for (const qovix::SearchHit& hit : found.hits) {
    rows.push_back({std::to_string(hit.object), qovix::tool::kindOf(hit.classNumber),
                    utf::toUtf8(hit.name), utf::toUtf8(hit.path)});
  }
  qovix::tool::printTable(rows, std::cout);
}

void runLs(const std::vector<std::string>& command, const Options& options, Session& session) {
  const std::uint32_t classNumber = qovix::tool::findClass(command[1]);
  const auto instances =
      qovix::tool::listInstances(session.connection(), classNumber, options.keep);
  if (options.json) {
    std::cout << qovix::tool::instancesJson(instances).dump() << '\n';
  } else {
    qovix::tool::printInstances(instances, options.keep, std::cout);
  }
}

void runTree(const std::vector<std::string>&, const Options& options, Session& session) {
  qovix::client::Connection& connection = session.connection();
  const std::uint32_t package =
      options.package.empty() ? 0 : qovix::tool::findPackage(connection, options.package);
  if (!options.json && !options.keep) {
    qovix::tool::streamTree(connection, package, options.depth, std::cout);
    return;
  }
  const auto roots = package == 0
                         ? qovix::tool::readTree(connection, options.keep, options.depth)
                         : std::vector{qovix::tool::readPackage(
                               connection, package, options.depth < 0 ? -1 : options.depth - 1)};
  if (options.json) {
    std::cout << qovix::tool::treeJson(roots).dump() << '\n';
  } else {
    qovix::tool::printTree(roots, std::cout);
  }
}

void runWeb(const std::vector<std::string>& command, const Options& options, Session&) {
  qovix::tool::launchWeb({options.host,
                          options.port,
                          options.tls,
                          options.listen,
                          {command.begin() + 1, command.end()}});
}

void runDiagram(const std::vector<std::string>& command, const Options& options, Session& session) {
  // A package by its name, through the name index, or by its number (#42).
  qovix::client::Connection& connection = session.connection();
  const std::string dot = qovix::tool::diagramDot(
      qovix::tool::readPackage(connection, qovix::tool::findPackage(connection, command[1])),
      options.links);
  if (options.format != "dot") {
    qovix::tool::renderDot(dot, options.format, options.output);
  } else if (options.output == "-") {
    std::cout << dot;
  } else {
    std::ofstream file(options.output, std::ios::binary);
    if (!(file << dot) || !file.flush()) {
      throw std::runtime_error("cannot write '" + options.output + "'");
    }
  }
}

void runImport(const std::vector<std::string>& command, const Options& options, Session& session) {
  qovix::tool::importDocument(session.connection(), command[1], options.into, std::cout);
}

void runExport(const std::vector<std::string>& command, const Options& options, Session& session) {
  qovix::tool::exportDocument(session.connection(), command[1], command[2], options.xmi, std::cout);
}

// "1 Operation", "2 Operations", "3 Dependencies", "2 Classes".
std::string countOf(std::int32_t count, const std::string& noun) {
  std::string spelled = noun;
  if (count != 1) {
    const auto endsWith = [&](std::string_view tail) {
      return spelled.size() >= tail.size() &&
             spelled.compare(spelled.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (endsWith("s") || endsWith("x") || endsWith("ch") || endsWith("sh")) {
      spelled += "es";
    } else if (endsWith("y") && spelled.size() > 1 &&
               std::string_view("aeiou").find(spelled[spelled.size() - 2]) ==
                   std::string_view::npos) {
      spelled.back() = 'i';
      spelled += "es";
    } else {
      spelled += "s";
    }
  }
  return std::to_string(count) + " " + spelled;
}

// The one instance with that name (or, `byNumber`, that object number
// written #N); when there is none or several, an error that lists them and
// says to name one as `hint` does.
const qovix::tool::Instance& theOne(const std::vector<qovix::tool::Instance>& instances,
                                    std::uint32_t classNumber, const std::string& wanted,
                                    bool byNumber, const char* hint) {
  std::vector<const qovix::tool::Instance*> found;
  for (const auto& each : instances) {
    if (byNumber ? std::string("#").append(std::to_string(each.object)) == wanted
                 : each.name == wanted) {
      found.push_back(&each);
    }
  }
  if (found.size() == 1) return *found.front();
  const std::string kind = qovix::client::displayClassName(qovix::tool::className(classNumber));
  std::string message =
      found.empty() ? "no " + kind : countOf(static_cast<std::int32_t>(found.size()), kind);
  message.append(" named '")
      .append(wanted)
      .append(found.empty() ? "'" : std::string("': name one by its number (") + hint + "):");
  for (const auto* each : found) message.append(" #").append(std::to_string(each->object));
  throw std::runtime_error(message);
}

// Deletes the one instance of the class with that name (or object number,
// written #N), with what it owns and what cannot stand without it.
void runDelete(const std::vector<std::string>& command, const Options& options, Session& session) {
  const std::uint32_t classNumber = qovix::tool::findClass(command[1]);
  const std::string& wanted = command[2];
  const bool byNumber = wanted.size() > 1 && wanted[0] == '#';
  qovix::client::Connection& connection = session.connection();
  const auto instances = qovix::tool::instancesNamed(connection, classNumber, wanted, true);
  const auto releaseAll = [&] {
    for (const auto& each : instances) connection.release(each.handle);
  };
  const qovix::tool::Instance* doomed = nullptr;
  try {
    doomed = &theOne(instances, classNumber, wanted, byNumber, "#N");
  } catch (...) {
    releaseAll();
    throw;
  }
  // What goes, by class: asked first, since afterwards nothing is left to ask.
  // The report counts the element itself, in its class's line, which comes
  // first; what the user reads is what goes with it.
  std::istringstream report(connection.deletion(doomed->handle));
  std::string withIt;
  std::int32_t others = 0;
  std::int32_t each = 0;
  bool itself = true;
  for (std::string name; report >> each >> name;) {
    if (itself) --each, itself = false;
    if (each <= 0) continue;
    others += each;
    withIt.append(withIt.empty() ? "  " : ", ")
        .append(countOf(each, qovix::client::displayClassName(name)));
  }
  if (!options.dryRun) others = connection.deleteObject(doomed->handle) - 1;
  releaseAll();  // the deleted one's is gone already; releasing it again answers 0
  std::cout << (options.dryRun ? "would delete " : "deleted ")
            << qovix::client::displayClassName(qovix::tool::className(classNumber)) << " '"
            << doomed->name << "' (object " << doomed->object << ")";
  if (others <= 0) {
    std::cout << ", and nothing else with it\n";
    return;
  }
  std::cout << ", and with it " << countOf(others, "object")
            << " it owns or that cannot stand without it:\n"
            << withIt << '\n';
}

// The object `qovix log --name CLASS NAME` means: the one instance of the
// class with that name.
std::uint32_t objectNamed(qovix::client::Connection& connection, const std::string& classText,
                          const std::string& name) {
  const std::uint32_t classNumber = qovix::tool::findClass(classText);
  return theOne(qovix::tool::instancesNamed(connection, classNumber, name, false), classNumber,
                name, false, "--object N")
      .object;
}

std::uint64_t readCommitNumber(const std::string& text, const char* what) {
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (error != std::errc() || end != text.data() + text.size()) {
    throw UsageError(std::string(what) + " needs a commit number, not '" + text + "'");
  }
  return number;
}

void runLog(const std::vector<std::string>& command, const Options&, Session& session) {
  qovix::tool::LogRequest request;
  std::string className, name;
  for (std::size_t i = 1; i < command.size(); ++i) {
    const std::string& word = command[i];
    const auto value = [&](const char* option) -> const std::string& {
      if (i + 1 >= command.size()) throw UsageError(std::string(option) + " needs a value");
      return command[++i];
    };
    if (word == "--since") {
      request.since = readCommitNumber(value("--since"), "--since");
    } else if (word == "--object") {
      const std::string& text = value("--object");
      const std::uint64_t object =
          readCommitNumber(text[0] == '#' ? text.substr(1) : text, "--object");
      if (object == 0 || object > UINT32_MAX) {
        throw UsageError("--object needs an object number, not '" + text + "'");
      }
      request.object = static_cast<std::uint32_t>(object);
    } else if (word == "--name") {
      className = value("--name");
      name = value("--name");
    } else if (word == "--follow") {
      request.follow = true;
    } else {
      throw UsageError("usage: qovix log [--since N] [--object N|--name CLASS NAME] [--follow]");
    }
  }
  if (!className.empty() && request.object != 0) {
    throw UsageError("--object and --name name one object: give one of them");
  }
  if (!className.empty()) request.object = objectNamed(session.connection(), className, name);
  for (;;) {
    try {
      qovix::tool::printLog(session.connection(), request, std::cout);
      return;
    } catch (const qovix::client::Error& error) {
      // Following, it goes on with the next server from the last commit shown.
      if (!request.follow || !serverGone(error) || !session.failOver()) throw;
      std::cerr << "qovix: the server stopped answering; following on the next\n";
    }
  }
}

void runUndo(const std::vector<std::string>& command, const Options&, Session& session) {
  const std::uint64_t commit = readCommitNumber(command[1], "undo");
  const qovix::UndoAnswer answer = session.connection().undo(commit);
  if (answer.commit == 0) {
    throw std::runtime_error("commit " + command[1] + " was not undone: " + answer.refusal);
  }
  std::cout << "undid commit " << commit << " as commit " << answer.commit << '\n';
}

void runDemo(const std::vector<std::string>&, const Options&, Session& session) {
  qovix::tool::runDemo(session.connection(), std::cout);
}

void runRepository(const std::vector<std::string>&, const Options&, Session& session) {
  std::cout << session.connection().repository() << '\n';
}

const Command kCommands[] = {
    {"call", "CLASS PROCEDURE [ARGS...]", 2, SIZE_MAX,
     "call one procedure and print its result. CLASS: a name (with or without QOVIX) or a "
     "class number; PROCEDURE: a label suffix such as get_tag_0, or a number; ARGS, in record "
     "order: handles as numbers or objects by number (#42), numbers as numbers, values as "
     "CLASS:VALUE (name:Account, string:x, "
     "bool:true, int:5, VisibilityKind:private) or bare in the parameter's own class",
     &runCall},
    {"cast", "CLASS HANDLE|#OBJECT [CHECK]", 2, 3,
     "a new handle to the object seen as CLASS; a class's procedures take handles of that "
     "class. With CHECK 1 (the default) an object whose class does not conform is refused",
     &runCast},
    {"procedures", "CLASS", 1, 1, "the class's procedures with their wire types", &runProcedures,
     true},
    {"ls", "CLASS", 1, 1,
     "the instances of a class: object, class, name (with --keep, a handle to each as well)",
     &runLs, true},
    {"tree", "[--depth N] [--package PACKAGE]", 0, 0,
     "packages with what they contain, printed as they are read, a page at a time: N "
     "levels (1: the top-level packages alone), of them all or of one PACKAGE (by name, or "
     "#NUMBER)",
     &runTree, true},
    {"web", "[--listen ADDRESS:PORT] [WEB OPTIONS]", 0, 12,
     "serve the repository in a browser: a web view and its JSON API (/api/, documented at "
     "/api/docs), as a client of qovixd with these --host, --port and TLS options. WEB "
     "OPTIONS: --passwords FILE signs people in by name and password (--set-password NAME "
     "adds one and stops); --user-header NAME [--proxy ADDRESS] knows them by a reverse "
     "proxy's header; --tls-cert FILE --tls-key FILE serves HTTPS. Off loopback, people must "
     "sign in",
     &runWeb},
    {"diagram", "PACKAGE [--format svg|png|dot] [-o FILE] [--links PREFIX]", 1, 1,
     "a UML class diagram of the package (by name, or #NUMBER by object number), drawn by "
     "Graphviz; svg by default, to FILE or standard output",
     &runDiagram, true},
    {"import", "DOCUMENT [--into PACKAGE]", 1, 1,
     "read a UML 1.x model from an XMI document or a project archive (.zargo, .zuml, "
     ".mdzip): a file here when DOCUMENT is a path (./model.xmi), else one in qovixd's "
     "--documents folder; as a new top-level package (or into PACKAGE), and print what was "
     "imported and what was skipped",
     &runImport},
    {"export", "PACKAGE DOCUMENT [--xmi 1.2|1.0|2.5]", 2, 2,
     "write the package as an XMI document, to a file here when DOCUMENT is a path, else in "
     "qovixd's folder: UML 1.4 in XMI 1.2 (the default), UML 1.3 in XMI 1.0, or its class "
     "model as UML 2.5.1 in XMI 2.5.1, which today's UML tools read",
     &runExport},
    {"delete", "CLASS NAME|#OBJECT [--dry-run]", 2, 2,
     "delete the instance of CLASS with that name (or object number) from the repository, "
     "with what it owns (a package's contents, a class's features) and what cannot stand "
     "without it (its generalizations, associations left with one end, its tagged values)",
     &runDelete},
    {"log", "[--since N] [--object N|--name CLASS NAME] [--follow]", 0, 6,
     "the repository's commits as people read them: number, time, who, on which server, and "
     "each change, before -> after; after commit N, or the history of one object (newest "
     "first); with --follow, then every new commit as it comes",
     &runLog, true},
    {"search", "TEXT [--class CLASS]", 1, 1,
     "model elements whose name holds TEXT, in any letter case, from the repository's index: "
     "those named TEXT first, then those beginning with it, then those holding it elsewhere (a "
     "TEXT of three letters or more); each with its class and where it is",
     &runSearch, true},
    {"undo", "COMMIT", 1, 1,
     "take a commit back, as a new commit: refused, changing nothing, when a later commit "
     "changed what it changed",
     &runUndo},
    {"demo", "", 0, 0, "build a small banking model and show it", &runDemo},
    {"repository", "", 0, 0, "the repository's handle", &runRepository, true},
};

std::string helpText() {
  std::vector<cli::HelpEntry> commands;
  for (const Command& command : kCommands) {
    std::string left(command.name);
    if (!command.usage.empty()) left.append(" ").append(command.usage);
    commands.push_back({std::move(left), std::string(command.help)});
  }
  const std::vector<cli::HelpEntry> options = qovix::tool::optionHelp();
  return "Usage: qovix [OPTIONS] COMMAND [ARGUMENTS]\n"
         "Work on the model repository a qovixd serves.\n"
         "\n"
         "Commands:\n" +
         cli::helpEntries(commands, 35) +
         "\n"
         "Options:\n" +
         cli::helpEntries(options, 20) +
         "\n"
         "Exit status:\n"
         "  0  done\n"
         "  1  the call failed, or a handle names no object of the class it needs\n"
         "  2  bad usage, or a value of another class than the parameter's\n";
}

int run(const Options& options) {
  const std::vector<std::string>& command = options.command;
  if (command.empty()) throw UsageError("no command given");
  const std::string& name = command[0];
  const Command* found = nullptr;
  std::vector<std::string> names;
  for (const Command& each : kCommands) {
    if (each.name == name) found = &each;
    names.emplace_back(each.name);
  }
  if (found == nullptr) {
    throw UsageError("unknown command '" + name + "'" + qovix::tool::didYouMean(name, names));
  }
  const std::size_t given = command.size() - 1;
  if (given < found->leastArguments || given > found->mostArguments) {
    std::string usage = std::string("usage: qovix ").append(found->name);
    if (!found->usage.empty()) usage.append(" ").append(found->usage);
    throw UsageError(usage);
  }
  Session session(options);
  try {
    found->run(command, options, session);
  } catch (const qovix::client::Error& error) {
    // A command that only reads is made again on the next server; one that
    // writes may have been kept by the server that went, so it is not.
    if (!serverGone(error) || !found->onlyReads || !session.failOver()) throw;
    std::cerr << "qovix: the server stopped answering; going on with the next\n";
    found->run(command, options, session);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const Options options = qovix::tool::parseOptions(argc, argv);
    if (options.help) {
      std::cout << helpText();
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
