#include "client/tool/diagram.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "client_model.h"

extern char** environ;

namespace qovix::tool {
namespace {

using namespace client;

// Text inside Graphviz's HTML-like labels.
std::string escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A quoted DOT string.
std::string dotString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c == '\n' ? ' ' : c;
  }
  return out + "\"";
}

const char* visibilityMark(const std::string& visibility) {
  return visibility == "private" ? "-" : visibility == "protected" ? "#" : "+";
}

std::string featureText(const FeatureView& feature) {
  std::string text = std::string(visibilityMark(feature.visibility)) + " " + feature.name;
  if (conformsTo(feature.classNumber, BehavioralFeature::kClassNumber)) {
    text += "(";
    for (std::size_t i = 0; i < feature.parameters.size(); ++i) {
      const auto& [name, type] = feature.parameters[i];
      text.append(i == 0 ? "" : ", ").append(name);
      if (!type.empty()) text.append(" : ").append(type);
    }
    text += ")";
  }
  if (!feature.type.empty()) text.append(" : ").append(feature.type);
  if (!feature.initialValue.empty()) text.append(" = ").append(feature.initialValue);
  return escaped(text);
}

std::string nodeId(std::uint32_t object) { return std::string("e").append(std::to_string(object)); }

class DotWriter {
 public:
  explicit DotWriter(std::string links) : links_(std::move(links)) {}

  std::string write(const ElementView& package) {
    out_ << "digraph " << dotString(package.name) << " {\n"
         << "  graph [rankdir=BT, fontname=\"Helvetica\", compound=true];\n"
         << "  node [shape=plain, fontname=\"Helvetica\", fontsize=11];\n"
         << "  edge [fontname=\"Helvetica\", fontsize=10];\n";
    frame(package, 1);
    stagger();
    for (const std::string& edge : edges_) out_ << "  " << edge << '\n';
    // Classifiers named from the package but kept elsewhere: by name only.
    for (const auto& [object, name] : outside_) {
      if (drawn_.count(object) == 0) {
        out_ << "  " << nodeId(object) << " [label=<<table border=\"1\" cellborder=\"0\" "
             << "cellspacing=\"0\" cellpadding=\"4\"><tr><td>" << escaped(name)
             << "</td></tr></table>>, style=dashed" << link(object, name) << "];\n";
      }
    }
    out_ << "}\n";
    return out_.str();
  }

 private:
  void frame(const ElementView& package, int depth) {
    const std::string indent(static_cast<std::size_t>(depth) * 2, ' ');
    // Drawn bottom to top (rankdir=BT), so labelloc=b puts the name on top.
    out_ << indent << "subgraph cluster_" << package.object << " {\n"
         << indent << "  label=<<b>" << escaped(package.name) << "</b>>; labeljust=l; labelloc=b; "
         << "style=rounded;\n";
    if (!links_.empty()) {
      out_ << indent << "  URL=" << dotString(links_ + std::to_string(package.object))
           << "; target=\"_top\";\n";
    }
    for (const ElementView& element : package.contents) {
      framing_ = package.object;
      if (conformsTo(element.classNumber, Package::kClassNumber)) {
        frame(element, depth + 1);
      } else if (conformsTo(element.classNumber, Association::kClassNumber)) {
        association(element);
      } else if (conformsTo(element.classNumber, Classifier::kClassNumber)) {
        classifier(element, indent + "  ");
      }
    }
    out_ << indent << "}\n";
  }

  void classifier(const ElementView& element, const std::string& indent) {
    drawn_.insert(element.object);
    std::string name = escaped(element.name);
    if (element.isAbstract) name = "<i>" + name + "</i>";
    std::string stereotype;
    if (element.classNumber == Interface::kClassNumber) stereotype = "&laquo;interface&raquo;<br/>";
    if (element.classNumber == DataType::kClassNumber) stereotype = "&laquo;datatype&raquo;<br/>";
    std::string attributes, operations;
    for (const FeatureView& feature : element.features) {
      std::string& into = conformsTo(feature.classNumber, BehavioralFeature::kClassNumber)
                              ? operations
                              : attributes;
      into.append("<tr><td align=\"left\">").append(featureText(feature)).append("</td></tr>");
    }
    auto compartment = [](const std::string& rows) {
      return "<tr><td><table border=\"0\" cellspacing=\"0\" cellpadding=\"1\">" +
             (rows.empty() ? std::string("<tr><td> </td></tr>") : rows) + "</table></td></tr>";
    };
    out_ << indent << nodeId(element.object)
         << " [label=<<table border=\"0\" cellborder=\"1\" cellspacing=\"0\" cellpadding=\"4\">"
         << "<tr><td>" << stereotype << "<b>" << name << "</b></td></tr>" << compartment(attributes)
         << compartment(operations) << "</table>>" << link(element.object, element.name) << "];\n";
    framed_[framing_].push_back(element.object);
    for (const NamedRef& parent : element.supertypes) {
      if (parent.object == 0) continue;
      outside_[parent.object] = parent.name;
      generalizations_.push_back({element.object, parent.object});
    }
  }

  // A large package is laid out to be read, as Graphviz's unflatten does
  // it: classes that no generalization links stand in rows of at most
  // kColumns, and the many subclasses of one class in as many rows, so no
  // package is drawn as one strip too wide to read.
  static constexpr std::size_t kColumns = 6;

  void stagger() {
    std::map<std::uint32_t, std::vector<std::uint32_t>> children;
    std::set<std::uint32_t> related;
    for (const auto& [child, parent] : generalizations_) {
      children[parent].push_back(child);
      related.insert(child);
      related.insert(parent);
    }
    for (const auto& [child, parent] : generalizations_) {
      const std::vector<std::uint32_t>& siblings = children[parent];
      const std::size_t rows = (siblings.size() + kColumns - 1) / kColumns;
      const std::size_t place = static_cast<std::size_t>(
          std::find(siblings.begin(), siblings.end(), child) - siblings.begin());
      std::string edge =
          nodeId(child) + " -> " + nodeId(parent) + " [arrowhead=empty, arrowsize=1.2";
      if (rows > 1) edge.append(", minlen=").append(std::to_string(1 + place % rows));
      edges_.push_back(edge + "];");
    }
    for (const auto& [package, classes] : framed_) {
      std::vector<std::uint32_t> alone;
      for (std::uint32_t each : classes) {
        if (related.count(each) == 0) alone.push_back(each);
      }
      for (std::size_t i = 0; i + kColumns < alone.size(); ++i) {
        edges_.push_back(nodeId(alone[i]) + " -> " + nodeId(alone[i + kColumns]) +
                         " [style=invis];");
      }
    }
  }

  void association(const ElementView& element) {
    if (element.ends.size() != 2 || element.ends[0].type.object == 0 ||
        element.ends[1].type.object == 0) {
      return;  // only binary associations between known classifiers are drawn as lines
    }
    const EndView& tail = element.ends[0];
    const EndView& head = element.ends[1];
    for (const EndView* end : {&tail, &head}) outside_[end->type.object] = end->type.name;
    auto endLabel = [](const EndView& end) {
      std::string text = end.name;
      if (!end.multiplicity.empty()) text.append(text.empty() ? "" : "\n").append(end.multiplicity);
      return dotString(text);
    };
    edges_.push_back(nodeId(tail.type.object) + " -> " + nodeId(head.type.object) +
                     " [dir=none, constraint=false, label=" + dotString(element.name) +
                     ", taillabel=" + endLabel(tail) + ", headlabel=" + endLabel(head) + "];");
  }

  // A node's attributes that make it a link, when links are asked for.
  std::string link(std::uint32_t object, const std::string& name) const {
    if (links_.empty()) return "";
    return ", URL=" + dotString(links_ + std::to_string(object)) +
           ", target=\"_top\", tooltip=" + dotString(name);
  }

  std::string links_;
  std::ostringstream out_;
  std::vector<std::string> edges_;
  std::set<std::uint32_t> drawn_;
  std::map<std::uint32_t, std::string> outside_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> generalizations_;  // child, parent
  std::map<std::uint32_t, std::vector<std::uint32_t>> framed_;  // each package's classifiers
  std::uint32_t framing_ = 0;  // the package whose contents are being drawn
};

}  // namespace

std::string diagramDot(const ElementView& package, const std::string& links) {
  return DotWriter(links).write(package);
}

void renderDot(const std::string& dot, const std::string& format, const std::string& outputPath) {
  std::signal(SIGPIPE, SIG_IGN);  // a dot that ends early is told by its status
  int input[2];
  if (pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error(std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  const std::string type = "-T" + format;
  std::vector<std::string> words = {"dot", type};
  if (outputPath != "-") words.push_back("-o" + outputPath);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "dot", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  if (spawned != 0) {
    close(input[1]);
    throw std::runtime_error(
        "qovix diagram needs Graphviz's dot to draw svg or png (Debian: graphviz); "
        "--format dot gives the diagram's DOT text without it");
  }
  std::size_t written = 0;
  while (written < dot.size()) {
    const ssize_t now = write(input[1], dot.data() + written, dot.size() - written);
    if (now < 0 && errno == EINTR) continue;
    if (now <= 0) break;  // dot ended early; its status says why
    written += static_cast<std::size_t>(now);
  }
  close(input[1]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error("Graphviz's dot failed to draw the diagram as " + format);
  }
}

}  // namespace qovix::tool
