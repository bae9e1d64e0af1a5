// The history's costs, end to end over loopback TCP, each against a
// baseline this benchmark measures in the same run:
//
//  - committing with history against without (--history all / none), for a
//    setter, a rename (a text replaced) and a create, on the repository file
//    and on PostgreSQL (on a server the benchmark starts itself;
//    QOVIX_HISTORY_BENCH_POSTGRES=0 leaves it out), calls alternating
//    between the two servers so that the machine's noise falls on both;
//  - the history's storage per commit: the growth of the file with history
//    over the file without, after the same renames, per commit;
//  - the changes feed at 1M commits: asking for the commits after a number
//    deep in the log, and at its end (a follower that is up to date), and an
//    object's history, each against a null call;
//  - qovix-store copy from the file (1M commits and their history, 100k
//    objects) to PostgreSQL: objects and rows a second.
//
//   build/bench/qovix_history_bench
//   QOVIX_HISTORY_BENCH_COMMITS=100000 build/bench/qovix_history_bench

#include <benchmark/benchmark.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "model_values.h"
#include "tests/support/call_pipeline.h"
#include "tests/support/own_postgres.h"
#include "tests/support/reply_values.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;
using Clock = std::chrono::steady_clock;

std::size_t commitsWanted() {
  const char* set = std::getenv("QOVIX_HISTORY_BENCH_COMMITS");
  return set != nullptr ? std::strtoul(set, nullptr, 10) : 1'000'000;
}

bool withPostgres() {
  const char* set = std::getenv("QOVIX_HISTORY_BENCH_POSTGRES");
  return set == nullptr || std::string(set) != "0";
}

double microseconds(const std::function<void()>& call) {
  const auto started = Clock::now();
  call();
  return std::chrono::duration<double, std::micro>(Clock::now() - started).count();
}

// A server with a class to set and rename, and a tagged value to grow the log by.
struct Served {
  explicit Served(std::vector<std::string> arguments)
      : server(std::move(arguments)), connection("127.0.0.1", server.port()) {
    repository = RepositoryRef{connection.repository()};
    made = Class::create(connection, repository);
    named = ModelElement::cast(connection, made, true);
    tagged = TaggedValue::create(connection, repository);
  }
  ServerProcess server;
  Connection connection;
  RepositoryRef repository;
  ClassRef made;
  ModelElementRef named;
  TaggedValueRef tagged;
};

using Operation = std::function<void(Served&, std::size_t)>;

std::vector<std::pair<const char*, Operation>> writes() {
  return {
      {"setter",
       [](Served& s, std::size_t n) { Class::set_isActive(s.connection, s.made, n % 2 == 0); }},
      {"rename",
       [](Served& s, std::size_t n) {
         ModelElement::set_name(s.connection, s.named,
                                std::string("Account").append(std::to_string(n)));
       }},
      {"create_1",
       [](Served& s, std::size_t) {
         s.connection.release(TaggedValue::create(s.connection, s.repository).handle);
       }},
  };
}

// History on against off, alternating calls.
void onAgainstOff(benchmark::State& state, Served& on, Served& off, const Operation& operation) {
  double onTime = 0, offTime = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    onTime += microseconds([&] { operation(on, n); });
    offTime += microseconds([&] { operation(off, n); });
    ++n;
  }
  state.counters["on_us"] = onTime / static_cast<double>(n);
  state.counters["off_us"] = offTime / static_cast<double>(n);
  state.counters["on/off speed"] = offTime / onTime;
}

// Pipelined renames of the tagged value: commits, fast.
void commitMany(Served& served, std::size_t commits) {
  CallPipeline pipeline(served.server.port());
  for (std::size_t sent = 0; sent < commits;) {
    std::vector<PipelinedCall> window;
    for (; window.size() < 256 && sent < commits; ++sent) {
      const std::string text = std::string("v").append(std::to_string(sent));
      window.push_back(modelCall(
          "QOVIXTaggedValue_set_tag_0",
          words({served.tagged.handle}) +
              textValue(QOVIXName::kValueClassId, std::u16string(text.begin(), text.end()))));
    }
    for (const PipelinedReply& reply : pipeline.send(window)) {
      if (reply.status != 0) throw std::runtime_error("a commit failed");
    }
  }
}

// Pipelined creates, for objects to copy.
void makeObjects(Served& served, std::size_t objects) {
  CallPipeline pipeline(served.server.port());
  for (std::size_t made = 0; made < objects;) {
    std::vector<PipelinedCall> window;
    for (; window.size() < 256 && made < objects; ++made) {
      window.push_back(modelCall("QOVIXTaggedValue_create_1", words({served.repository.handle})));
    }
    pipeline.send(window);
  }
}

struct Fixture {
  TemporaryFolder folder;
  std::string withHistory = (folder.path() / "all.sqlite3").string();
  std::string withoutHistory = (folder.path() / "none.sqlite3").string();
  Served fileOn{{"--store", withHistory, "--history", "all"}};
  Served fileOff{{"--store", withoutHistory, "--history", "none"}};
  std::unique_ptr<OwnPostgres> postgres =
      withPostgres() ? std::make_unique<OwnPostgres>(OwnPostgres::Settings::AsInstalled) : nullptr;
  std::unique_ptr<Served> pgOn, pgOff;
  Fixture() {
    if (postgres) {
      pgOn =
          std::make_unique<Served>(std::vector<std::string>{"--store", postgres->freshDatabase()});
      pgOff = std::make_unique<Served>(
          std::vector<std::string>{"--store", postgres->freshDatabase(), "--history", "none"});
    }
  }
};
Fixture* fixture = nullptr;

// The same renames in both files; their sizes once their servers stopped.
void storagePerCommit(benchmark::State& state) {
  for (auto _ : state) {
    const TemporaryFolder folder;
    const std::string on = (folder.path() / "on.sqlite3").string();
    const std::string off = (folder.path() / "off.sqlite3").string();
    constexpr std::size_t kCommits = 20'000;
    {
      Served withHistory({"--store", on, "--history", "all"});
      Served without({"--store", off, "--history", "none"});
      commitMany(withHistory, kCommits);
      commitMany(without, kCommits);
    }
    const auto onBytes = static_cast<double>(std::filesystem::file_size(on));
    const auto offBytes = static_cast<double>(std::filesystem::file_size(off));
    state.counters["history_bytes_per_commit"] = (onBytes - offBytes) / kCommits;
    state.counters["log_bytes_per_commit_without"] = offBytes / kCommits;
  }
}

// The feed and an object's history at the log's size, against a null call.
void feedAt(benchmark::State& state, const char* what) {
  Served& served = fixture->fileOn;
  Connection& connection = served.connection;
  const std::uint64_t last = connection.changes(UINT64_MAX).last;
  const std::uint32_t object = connection.identity(served.tagged.handle).object;
  double asked = 0, floor = 0;
  std::size_t n = 0, got = 0;
  for (auto _ : state) {
    floor += microseconds([&] { connection.ping(); });
    asked += microseconds([&] {
      if (std::string(what) == "deep") {
        got += connection.changes(last / 2 + (n * 7919) % (last / 2)).commits.size();
      } else if (std::string(what) == "at the end") {
        got += connection.changes(last).commits.size();
      } else {
        got += connection.history(object, last - (n * 7919) % (last / 2)).commits.size();
      }
    });
    ++n;
  }
  state.counters["us"] = asked / static_cast<double>(n);
  state.counters["null_call_us"] = floor / static_cast<double>(n);
  state.counters["commits_a_call"] = static_cast<double>(got) / static_cast<double>(n);
  state.counters["log_commits"] = static_cast<double>(last);
}

void copyToPostgres(benchmark::State& state) {
  for (auto _ : state) {
    const std::string target = fixture->postgres->freshDatabase();
    // The file is copied as it is (its server goes on: the copy reads a
    // snapshot).
    const auto started = Clock::now();
    const ProgramRun copied = runProgram(
        QOVIX_STORE_TOOL_PATH, {"copy", fixture->withHistory, target}, std::chrono::minutes(30));
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (copied.status != 0) {
      state.SkipWithError(copied.err.c_str());
      return;
    }
    // "  object: N rows" ... from its report.
    const auto rowsOf = [&](const std::string& table) {
      const std::size_t at = copied.out.find("  " + table + ": ");
      return at == std::string::npos
                 ? 0.0
                 : std::strtod(copied.out.c_str() + at + table.size() + 4, nullptr);
    };
    double rows = 0;
    for (const char* table : {"class", "feature", "object", "attribute", "reference", "member",
                              "value_item", "commit_log", "commit_object"}) {
      rows += rowsOf(table);
    }
    state.counters["seconds"] = seconds;
    state.counters["objects"] = rowsOf("object");
    state.counters["objects_per_s"] = rowsOf("object") / seconds;
    state.counters["rows_per_s"] = rows / seconds;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Fixture made;
  fixture = &made;
  for (const auto& [name, operation] : writes()) {
    benchmark::RegisterBenchmark((std::string("file history on/off: ") + name).c_str(),
                                 [operation = operation](benchmark::State& state) {
                                   onAgainstOff(state, fixture->fileOn, fixture->fileOff,
                                                operation);
                                 })
        ->MinTime(0.5)
        ->UseRealTime();
    if (made.postgres) {
      benchmark::RegisterBenchmark((std::string("postgres history on/off: ") + name).c_str(),
                                   [operation = operation](benchmark::State& state) {
                                     onAgainstOff(state, *fixture->pgOn, *fixture->pgOff,
                                                  operation);
                                   })
          ->MinTime(0.5)
          ->UseRealTime();
    }
  }
  benchmark::RegisterBenchmark("history storage per commit (renames)", storagePerCommit)
      ->Iterations(1)
      ->UseRealTime();
  const std::size_t commits = commitsWanted();
  benchmark::RegisterBenchmark("grow the log",
                               [commits](benchmark::State& state) {
                                 for (auto _ : state) {
                                   makeObjects(fixture->fileOn, commits / 10);
                                   commitMany(fixture->fileOn, commits);
                                   state.counters["commits"] = static_cast<double>(
                                       fixture->fileOn.connection.changes(UINT64_MAX).last);
                                 }
                               })
      ->Iterations(1)
      ->UseRealTime();
  for (const char* what : {"deep", "at the end", "an object's history"}) {
    benchmark::RegisterBenchmark((std::string("changes feed, ") + what).c_str(),
                                 [what](benchmark::State& state) { feedAt(state, what); })
        ->MinTime(0.5)
        ->UseRealTime();
  }
  if (made.postgres) {
    benchmark::RegisterBenchmark("qovix-store copy file -> postgres", copyToPostgres)
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
