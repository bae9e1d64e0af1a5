#include "client/tool/history_view.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/utc_time.h"
#include "client/tool/lookup.h"

namespace qovix::tool {

namespace {

using client::displayClassName;

// "QOVIXModelElement.name" as "ModelElement.name"; "*.name" as "name".
std::string slotOf(const WireChange& change) {
  if (change.slot.empty()) return std::string("feature ").append(std::to_string(change.feature));
  if (change.slot.rfind("*.", 0) == 0) return change.slot.substr(2);
  return displayClassName(change.slot);
}

std::string objectText(std::uint32_t object) {
  return object == 0 ? std::string("(unset)") : std::string("#").append(std::to_string(object));
}

std::string valueText(const WireValue& value) {
  const client::Value converted = value.text.empty() && !isTextClass(value.valueClass)
                                      ? client::Value::ofNumber(value.valueClass, value.number)
                                      : client::Value::ofText(value.valueClass, value.text);
  const std::string text = formatValue(converted);
  return converted.isText ? std::string("'").append(text).append("'") : text;
}

std::string valuesText(const std::vector<WireValue>& values, bool list) {
  if (!list) return values.empty() ? "(unset)" : valueText(values.front());
  std::string text = "[";
  for (const WireValue& value : values) {
    if (text.size() > 1) text += ", ";
    text += valueText(value);
  }
  return text + "]";
}

void printHeader(const WireCommit& commit, std::ostream& out) {
  out << "commit " << commit.sequence << "  " << cli::utcText(commit.timeMicros) << "  "
      << (commit.principal.empty() ? "(nobody)" : commit.principal) << "  on " << commit.server
      << '\n';
}

void printChanges(const WireCommit& commit, std::ostream& out) {
  for (const WireChange& change : commit.changes) out << "  " << describeChange(change) << '\n';
}

// What a page left out of a commit too large for it, and where it is.
void printLeftOut(std::uint64_t left, std::ostream& out) {
  if (left == 0) return;
  out << "  ... and " << left << (left == 1 ? " more change" : " more changes")
      << ", not shown: `qovix log --object N` shows each object's own\n";
}
void printObjectsLeftOut(std::uint64_t left, std::ostream& out) {
  if (left == 0) return;
  out << "  ... and " << left << (left == 1 ? " more object" : " more objects")
      << " it touched, not listed\n";
}

bool touches(const WireCommit& commit, std::uint32_t object) {
  return std::any_of(commit.objects.begin(), commit.objects.end(),
                     [&](const WireTouched& touched) { return touched.object == object; });
}

// Whether commit `sequence` touched the object: its history's newest
// commit up to it.
bool touchedBy(client::Connection& connection, std::uint32_t object, std::uint64_t sequence) {
  const CommitPage page = connection.history(object, sequence + 1);
  return !page.commits.empty() && page.commits.front().sequence == sequence;
}

// An object's history, newest first, a page at a time.
void printHistory(client::Connection& connection, std::uint32_t object, std::uint64_t since,
                  std::ostream& out) {
  std::uint64_t before = 0;
  for (;;) {
    const CommitPage page = connection.history(object, before);
    for (const WireCommit& commit : page.commits) {
      if (commit.sequence <= since) return;
      printHeader(commit, out);
      printChanges(commit, out);
      if (&commit == &page.commits.front()) printLeftOut(page.changesLeft, out);
    }
    if (page.commits.empty() || page.commits.back().sequence <= 1) return;
    before = page.commits.back().sequence;
  }
}

}  // namespace

std::string describeChange(const WireChange& change) {
  const std::string object = std::string("#").append(std::to_string(change.object));
  if (change.kind == 0 || change.kind == 1) {
    return std::string(change.kind == 0 ? "created " : "deleted ")
        .append(object)
        .append(" ")
        .append(displayClassName(change.slot));
  }
  std::string text = object;
  text.append(" ").append(slotOf(change)).append(": ");
  switch (change.kind) {
    case 2:
    case 6:
      return text.append(valuesText(change.before, change.kind == 6))
          .append(" -> ")
          .append(valuesText(change.after, change.kind == 6));
    case 3:
      return text.append(objectText(change.beforeTarget))
          .append(" -> ")
          .append(objectText(change.afterTarget));
    case 4:
      return text.append("added ")
          .append(objectText(change.afterTarget))
          .append(" at ")
          .append(std::to_string(change.position));
    case 5:
      return text.append("removed ")
          .append(objectText(change.beforeTarget))
          .append(" from ")
          .append(std::to_string(change.position));
    default:
      return text.append("a change of kind ").append(std::to_string(change.kind));
  }
}

void printLog(client::Connection& connection, LogRequest& request, std::ostream& out) {
  if (request.object != 0 && !request.historyShown) {
    const std::uint64_t last = connection.changes(UINT64_MAX).last;
    printHistory(connection, request.object, request.since, out);
    if (!request.follow) return;
    request.historyShown = true;
    request.since = std::max(request.since, last);
  }
  for (;;) {
    const CommitPage page = connection.changes(request.since);
    for (const WireCommit& listed : page.commits) {
      // A commit listed in part may touch the object among those left out:
      // the object's own history says.
      const bool inPart = &listed == &page.commits.front() && page.objectsLeft > 0;
      if (request.object != 0 && !touches(listed, request.object) &&
          !(inPart && touchedBy(connection, request.object, listed.sequence))) {
        request.since = listed.sequence;
        continue;
      }
      const CommitPage whole = connection.commit(listed.sequence);
      const WireCommit& commit = whole.commits.empty() ? listed : whole.commits.front();
      printHeader(commit, out);
      for (const WireChange& change : commit.changes) {
        if (request.object == 0 || change.object == request.object) {
          out << "  " << describeChange(change) << '\n';
        }
      }
      if (request.object == 0) printLeftOut(whole.changesLeft, out);
      if (commit.changes.empty()) {
        for (const WireTouched& touched : commit.objects) {
          static constexpr const char* kTouches[] = {"created", "changed", "deleted"};
          out << "  "
              << (touched.change >= 0 && touched.change < 3 ? kTouches[touched.change] : "?")
              << " #" << touched.object << " " << displayClassName(className(touched.classNumber))
              << '\n';
        }
        printObjectsLeftOut(whole.objectsLeft, out);
      }
      request.since = listed.sequence;
    }
    out.flush();
    if (page.commits.empty()) {
      if (!request.follow) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }
}

}  // namespace qovix::tool
