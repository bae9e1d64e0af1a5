// A real model, read as people read it. A generated document of
// QOVIX_LARGE_ELEMENTS objects (100,000 unless set; 1,000,000 is the size
// real models reach) in packages of 100 classes is imported into qovixd on
// the repository file, and on PostgreSQL (a server of the benchmark's own,
// PostgreSQL's own settings). Each everyday read then runs many times, and
// its p50 and p95 are the counters, in milliseconds:
//   - top level: the tree's first level (qovix tree --depth 1);
//   - package: a package of 100 classes read whole, as qovix diagram does;
//   - lookup: a package found by its name;
//   - element: one element's slots, the element page's call;
//   - search prefix and search within: qovix search.
// In the same run, the baseline: the same package read call by call, as
// every client read a tree before the reading services (package_by_calls),
// and the ratio of the two.
//
//   build/bench/qovix_large_model_bench
//   QOVIX_LARGE_ELEMENTS=1000000 build/bench/qovix_large_model_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/tool/model_view.h"
#include "client/tool/tree_reader.h"
#include "client_model.h"
#include "tests/support/generated_model.h"
#include "tests/support/own_postgres.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using Clock = std::chrono::steady_clock;
using qovix::client::Connection;

constexpr int kClassesPerPackage = 100;
constexpr int kObjectsPerClass = 6;
constexpr int kRuns = 40;

std::size_t elements() {
  const char* set = std::getenv("QOVIX_LARGE_ELEMENTS");
  return set != nullptr ? std::strtoull(set, nullptr, 10) : 100'000;
}

// qovixd serving the generated model from its store, imported once.
struct ServedModel {
  TemporaryFolder documents;
  std::unique_ptr<ServerProcess> server;
  int packages = 0;
  double importSeconds = 0;

  explicit ServedModel(std::vector<std::string> store) {
    packages =
        std::max<int>(2, static_cast<int>(elements() / (kClassesPerPackage * kObjectsPerClass)));
    std::ofstream(documents.path() / "large.xmi")
        << generatedModel("Pkg", packages, kClassesPerPackage);
    store.insert(store.end(), {"--documents", documents.path().string()});
    server = std::make_unique<ServerProcess>(store);
    Connection connection("127.0.0.1", server->port());
    connection.setTimeout(std::chrono::hours(1));
    const auto started = Clock::now();
    if (connection.importDocument("large.xmi", 0, "").value == 0) {
      throw std::runtime_error("the generated model was not imported");
    }
    importSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  }
};

// p50 and p95 of `runs` runs of `read`, in milliseconds.
std::pair<double, double> percentiles(const std::function<void()>& read, int runs = kRuns) {
  std::vector<double> times;
  for (int i = 0; i < runs; ++i) {
    const auto started = Clock::now();
    read();
    times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
  }
  std::sort(times.begin(), times.end());
  return {times[times.size() / 2], times[std::min(times.size() - 1, times.size() * 95 / 100)]};
}

// The package read call by call: each member, its name, its features and
// their names, its supertypes and theirs, every handle released.
std::size_t readByCalls(Connection& connection, std::uint32_t number) {
  using namespace qovix::client;
  std::vector<std::uint32_t> held;
  const auto keep = [&](std::uint32_t handle) {
    held.push_back(handle);
    return handle;
  };
  const auto nameOf = [&](std::uint32_t handle) {
    return ModelElement::get_name(
        connection,
        ModelElementRef{keep(connection.cast(ModelElement::kClassNumber, handle, false))});
  };
  std::size_t read = 0;
  const auto package = PackageRef{keep(connection.objectByNumber(number))};
  const auto contents = Namespace::contents(
      connection,
      NamespaceRef{keep(connection.cast(Namespace::kClassNumber, package.handle, false))});
  keep(contents.handle);
  for (std::int32_t i = 0, size = connection.size(contents.handle); i < size; ++i) {
    const std::uint32_t member = keep(connection.element(contents.handle, i));
    const auto identity = connection.identity(member);
    read += nameOf(member).size();
    if (!conformsTo(identity.classNumber, Classifier::kClassNumber)) continue;
    const auto classifier =
        ClassifierRef{keep(connection.cast(Classifier::kClassNumber, member, false))};
    const auto features = Classifier::get_feature(connection, classifier);
    keep(features.handle);
    for (std::int32_t f = 0, count = connection.size(features.handle); f < count; ++f) {
      read += nameOf(keep(connection.element(features.handle, f))).size();
    }
    const auto parents = GeneralizableElement::supertype(
        connection, GeneralizableElementRef{
                        keep(connection.cast(GeneralizableElement::kClassNumber, member, false))});
    keep(parents.handle);
    for (std::int32_t p = 0, count = connection.size(parents.handle); p < count; ++p) {
      read += nameOf(keep(connection.element(parents.handle, p))).size();
    }
  }
  for (std::uint32_t handle : held) connection.release(handle);
  return read;
}

void readLargeModel(benchmark::State& state, const ServedModel& model) {
  Connection connection("127.0.0.1", model.server->port());
  connection.setTimeout(std::chrono::minutes(5));
  const std::string middle = std::string("Pkg").append(std::to_string(model.packages / 2));
  const std::uint32_t package = qovix::tool::findPackage(connection, middle);
  for (auto _ : state) {
    const auto [topP50, topP95] = percentiles(
        [&] { qovix::tool::TreeReader(connection, false).walk(0, 0, [](const auto&, int) {}); });
    const auto [packageP50, packageP95] = percentiles(
        [&] { benchmark::DoNotOptimize(qovix::tool::readPackage(connection, package)); });
    const auto [callsP50, callsP95] =
        percentiles([&] { benchmark::DoNotOptimize(readByCalls(connection, package)); }, 5);
    const auto [lookupP50, lookupP95] = percentiles(
        [&] { benchmark::DoNotOptimize(qovix::tool::findPackage(connection, middle)); });
    const auto [elementP50, elementP95] =
        percentiles([&] { benchmark::DoNotOptimize(connection.readObjects({package}, 50)); });
    const auto [prefixP50, prefixP95] =
        percentiles([&] { benchmark::DoNotOptimize(connection.search("pkg1", 0, 50)); });
    const auto [withinP50, withinP95] =
        percentiles([&] { benchmark::DoNotOptimize(connection.search("kg12", 0, 50)); });
    state.counters["import_s"] = model.importSeconds;
    state.counters["top_p50_ms"] = topP50;
    state.counters["top_p95_ms"] = topP95;
    state.counters["package_p50_ms"] = packageP50;
    state.counters["package_p95_ms"] = packageP95;
    state.counters["package_by_calls_p50_ms"] = callsP50;
    state.counters["package by calls/ by reading services"] = callsP50 / packageP50;
    state.counters["lookup_p50_ms"] = lookupP50;
    state.counters["lookup_p95_ms"] = lookupP95;
    state.counters["element_p50_ms"] = elementP50;
    state.counters["element_p95_ms"] = elementP95;
    state.counters["search_prefix_p50_ms"] = prefixP50;
    state.counters["search_prefix_p95_ms"] = prefixP95;
    state.counters["search_within_p50_ms"] = withinP50;
    state.counters["search_within_p95_ms"] = withinP95;
  }
}

void largeModelOnFile(benchmark::State& state) {
  TemporaryFolder folder;
  const ServedModel model({"--store", (folder.path() / "large.sqlite3").string()});
  readLargeModel(state, model);
}

void largeModelOnPostgres(benchmark::State& state) {
  OwnPostgres postgres(OwnPostgres::Settings::AsInstalled);
  const ServedModel model({"--store", postgres.freshDatabase()});
  readLargeModel(state, model);
}

}  // namespace

BENCHMARK(largeModelOnFile)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(largeModelOnPostgres)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
