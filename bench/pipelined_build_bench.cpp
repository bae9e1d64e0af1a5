// A client that pipelines: it builds a model over loopback TCP sending
// calls in windows, without waiting for each reply, as a tool that imports
// or generates a model does. For each element: a tagged value is made, its
// tag set, and its handle released, each step a window of calls sent
// together. The same build runs on qovixd over the memory store and over
// the repository file (--sync normal); the counters are the elements per
// second on each and their ratio (file / memory, 1.0 = as fast). Calls that
// arrive together are committed together, so the file's cost per element
// falls as the window grows; a window of 1 is the client that waits.
//
//   build/bench/qovix_pipelined_build_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/procedure_listing.h"
#include "model_values.h"
#include "qovix_protocol.h"
#include "tests/support/raw_connection.h"
#include "tests/support/remote_calls.h"
#include "tests/support/reply_values.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::protocol;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kElements = 20'000;

std::uint32_t wordAt(const Bytes& bytes, std::size_t index) {
  const std::size_t at = index * 4;
  if (bytes.size() < at + 4) throw std::runtime_error("a reply too short");
  return static_cast<std::uint32_t>(bytes[at]) << 24 |
         static_cast<std::uint32_t>(bytes[at + 1]) << 16 |
         static_cast<std::uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

struct Address {
  std::uint32_t program, version, procedure;
};

Address model(const char* label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) throw std::runtime_error(std::string("no procedure ") + label);
  return {kModelProgram, found->classNumber, found->number};
}

// One client's connection, sending a window of calls at once and reading
// their replies.
class Pipeline {
 public:
  explicit Pipeline(std::uint16_t port) : connection_(port) {
    if (!connection_.connected()) throw std::runtime_error("no connection");
  }

  // Sends one call per argument record, then reads every reply; the first
  // result word of each, in the order sent.
  std::vector<std::uint32_t> send(const Address& to, const std::vector<Bytes>& arguments) {
    Bytes window;
    const std::uint32_t first = xid_;
    for (const Bytes& each : arguments) {
      window =
          window + recordMarked(callMessage(xid_++, to.program, to.version, to.procedure, each));
    }
    if (!connection_.send(window)) throw std::runtime_error("the server took no calls");
    std::vector<std::uint32_t> results(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const auto reply = connection_.receiveRecord(std::chrono::seconds(30));
      if (!reply) throw std::runtime_error("no reply");
      // xid, REPLY, MSG_ACCEPTED, null verifier (2 words), SUCCESS, results
      if (wordAt(*reply, 5) != 0) throw std::runtime_error("a call failed");
      const std::size_t index = wordAt(*reply, 0) - first;
      if (index >= results.size()) throw std::runtime_error("a reply to no call");
      results[index] = reply->size() > 24 ? wordAt(*reply, 6) : 0;
    }
    return results;
  }

 private:
  RawConnection connection_;
  std::uint32_t xid_ = 1;
};

// Builds kElements on the server at `port` in windows of `window` calls;
// elements per second.
double build(std::uint16_t port, std::size_t window) {
  RemoteCalls remote(port);
  const InteropHandle repository = remote.repository();
  Pipeline pipeline(port);
  const Address create = model("QOVIXTaggedValue_create_1");
  const Address setTag = model("QOVIXTaggedValue_set_tag_0");
  const Address release{kHostProgram, kHostVersion, kHostRelease};
  const auto started = Clock::now();
  for (std::size_t built = 0; built < kElements; built += window) {
    const std::vector<Bytes> creates(window, words({repository}));
    const std::vector<std::uint32_t> made = pipeline.send(create, creates);
    std::vector<Bytes> tags, releases;
    for (std::uint32_t handle : made) {
      tags.push_back(words({handle}) + textValue(QOVIXName::kValueClassId, u"generated"));
      releases.push_back(words({handle}));
    }
    pipeline.send(setTag, tags);
    pipeline.send(release, releases);
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return static_cast<double>(kElements) / seconds;
}

void pipelinedBuild(benchmark::State& state) {
  const auto window = static_cast<std::size_t>(state.range(0));
  double memory = 0, file = 0;
  for (auto _ : state) {
    const TemporaryFolder folder;
    {
      const ServerProcess server({"--store", "memory"});
      memory = build(server.port(), window);
    }
    const ServerProcess server({"--store", (folder.path() / "r.sqlite3").string()});
    file = build(server.port(), window);
  }
  state.counters["memory_per_s"] = memory;
  state.counters["file_per_s"] = file;
  state.counters["file/memory speed"] = file / memory;
}

BENCHMARK(pipelinedBuild)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
