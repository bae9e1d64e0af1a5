#include "host/access_policy.h"

#include <fstream>
#include <sstream>

#include "host/host_error.h"

namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

}  // namespace

AccessPolicy AccessPolicy::load(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw HostError("cannot read the access file '" + path + "'");
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) throw HostError("cannot read the access file '" + path + "'");
  return parse(text.str(), path);
}

AccessPolicy AccessPolicy::parse(std::string_view text, const std::string& name) {
  AccessPolicy policy;
  policy.inForce_ = true;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    const std::string_view line = trimmed(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++lineNumber;
    auto fail = [&](const std::string& why) {
      throw HostError(name + ":" + std::to_string(lineNumber) + ": " + why);
    };
    if (line.empty() || line.front() == '#') continue;
    const std::size_t gap = line.find_first_of(" \t");
    const std::string_view word = line.substr(0, gap);
    const std::string principal(gap == std::string_view::npos ? "" : trimmed(line.substr(gap)));
    Access access = Access::None;
    if (word == "vouch") {
      if (principal.empty() || principal == "*") fail("'vouch' names no one certificate");
      if (!policy.vouchers_.insert(principal).second) {
        fail("'vouch " + principal + "' is given twice");
      }
      continue;
    }
    if (word == "write") {
      access = Access::Write;
    } else if (word == "read") {
      access = Access::Read;
    } else if (word != "none") {
      fail("expected 'none', 'read', 'write' or 'vouch' and a principal, not '" +
           std::string(word) + "'");
    }
    if (principal.empty()) fail("'" + std::string(word) + "' names no principal");
    if (principal.find('\0') != std::string::npos) fail("a principal holds a NUL byte");
    if (principal == "*") {
      if (policy.othersGiven_) fail("'*' is given twice");
      policy.others_ = access;
      policy.othersGiven_ = true;
    } else if (!policy.named_.emplace(principal, access).second) {
      fail("'" + principal + "' is given twice");
    }
  }
  return policy;
}

Access AccessPolicy::of(const std::string& principal) const {
  if (!inForce_) return Access::Write;
  const auto found = named_.find(principal);
  return found != named_.end() ? found->second : others_;
}
