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
// On PostgreSQL (PostgreSQL's own settings, on a server of the benchmark's
// own), the same build with --sync normal (each commit on the database's
// disk before its reply) against --sync relaxed: at a window of 1 the
// durable setting costs a flush per call; the calls of a window share one.
//
//   build/bench/qovix_pipelined_build_bench
//   QOVIX_PIPELINE_QOVIXD=/elsewhere/qovixd build/bench/qovix_pipelined_build_bench

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "model_values.h"
#include "qovix_protocol.h"
#include "tests/support/call_pipeline.h"
#include "tests/support/own_postgres.h"
#include "tests/support/remote_calls.h"
#include "tests/support/reply_values.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::protocol;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kElements = 20'000;
constexpr std::size_t kElementsOnPostgres = 4'000;

// The server measured: this build's qovixd, or QOVIX_PIPELINE_QOVIXD
// (another build's, to compare).
std::string serverExecutable() {
  const char* set = std::getenv("QOVIX_PIPELINE_QOVIXD");
  return set != nullptr ? set : QOVIXD_PATH;
}

// Builds `elements` on the server at `port` in windows of `window` calls;
// elements per second.
double build(std::uint16_t port, std::size_t window, std::size_t elements = kElements) {
  RemoteCalls remote(port);
  const InteropHandle repository = remote.repository();
  CallPipeline pipeline(port);
  const auto started = Clock::now();
  for (std::size_t built = 0; built < elements; built += window) {
    const std::vector<PipelinedCall> creates(
        window, modelCall("QOVIXTaggedValue_create_1", words({repository})));
    std::vector<PipelinedCall> tags, releases;
    for (const PipelinedReply& made : pipeline.send(creates)) {
      if (made.status != 0) throw std::runtime_error("a create failed");
      tags.push_back(
          modelCall("QOVIXTaggedValue_set_tag_0",
                    words({made.result}) + textValue(QOVIXName::kValueClassId, u"generated")));
      releases.push_back({kHostProgram, kHostVersion, kHostRelease, words({made.result})});
    }
    // A setter or release that failed would count as fast: none may.
    for (const PipelinedReply& tagged : pipeline.send(tags)) {
      if (tagged.status != 0) throw std::runtime_error("a set_tag failed");
    }
    for (const PipelinedReply& released : pipeline.send(releases)) {
      if (released.status != 0 || released.result != 1)
        throw std::runtime_error("a release failed");
    }
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  return static_cast<double>(elements) / seconds;
}

void pipelinedBuild(benchmark::State& state) {
  const auto window = static_cast<std::size_t>(state.range(0));
  double memory = 0, file = 0;
  for (auto _ : state) {
    const TemporaryFolder folder;
    {
      const ServerProcess server({"--store", "memory"}, serverExecutable());
      memory = build(server.port(), window);
    }
    const ServerProcess server({"--store", (folder.path() / "r.sqlite3").string()},
                               serverExecutable());
    file = build(server.port(), window);
  }
  state.counters["memory_per_s"] = memory;
  state.counters["file_per_s"] = file;
  state.counters["file/memory speed"] = file / memory;
}

BENCHMARK(pipelinedBuild)->Arg(1)->Arg(16)->Arg(64)->Arg(256)->Iterations(1)->UseRealTime();

void pipelinedBuildOnPostgres(benchmark::State& state) {
  const auto window = static_cast<std::size_t>(state.range(0));
  OwnPostgres postgres(OwnPostgres::Settings::AsInstalled);
  double relaxed = 0, normal = 0;
  for (auto _ : state) {
    {
      const ServerProcess server({"--store", postgres.freshDatabase(), "--sync", "relaxed"},
                                 serverExecutable());
      relaxed = build(server.port(), window, kElementsOnPostgres);
    }
    const ServerProcess server({"--store", postgres.freshDatabase()}, serverExecutable());
    normal = build(server.port(), window, kElementsOnPostgres);
  }
  state.counters["relaxed_per_s"] = relaxed;
  state.counters["normal_per_s"] = normal;
  state.counters["normal/relaxed speed"] = normal / relaxed;
}

BENCHMARK(pipelinedBuildOnPostgres)->Arg(1)->Arg(64)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
