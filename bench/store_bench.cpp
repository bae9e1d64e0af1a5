// qovixd on its three stores, end to end over loopback TCP: the memory store
// (--store memory), the repository file (--store FILE, --sync normal) and
// PostgreSQL (--store postgresql:..., --sync normal, on a PostgreSQL server
// the benchmark starts itself; QOVIX_STORE_BENCH_POSTGRES=0 leaves it out),
// the same client calling each in turn, in an order that turns round each
// time, the servers and the PostgreSQL processes serving them pinned to
// CPU 0 and the client to CPU 1 (or CPU 0 on a one-CPU machine); PostgreSQL
// runs with its own settings, as a user runs it (fsync on), not the tests'.
// For each model size the model grows in every
// server, then every operation is timed on each; a benchmark's counters are
// the microseconds per operation on each store and the ratios of their
// speeds (file / memory and postgres / file, 1.0 = as fast). The getter,
// setter and create are timed a second time with the client on CPU 0 too
// ("same core"), where a wake-up across cores costs nothing.
//
// The model of N elements: one package holding N/10 classes, each with 9
// attributes; the first 11 classes form a chain of generalizations, so the
// last has 10 supertypes and 99 features; the export of the whole package
// runs up to 100k elements (a timed export of 1M, some 90 MB of XMI, would
// take most of the run; bench/import_bench.cpp reads documents that large). At each size, deleting
// a class with 10 features is timed against a null call (the network floor), and at the largest,
// deleting a package of 10,000 elements. Afterwards the file's server is restarted on the largest
// model and the time until it answers is reported,
// `--sync full` is measured against `--sync normal` for the writes, and on
// PostgreSQL `--sync normal` (every acknowledged commit on the database's
// disk, the default) against `--sync relaxed`.
//
//   build/bench/qovix_store_bench                          # up to 1M elements, many minutes
//   QOVIX_STORE_BENCH_MAX=100000 build/bench/qovix_store_bench

#include <benchmark/benchmark.h>
#include <sched.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "tests/support/own_postgres.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;
using Clock = std::chrono::steady_clock;

constexpr int kAttributesPerClass = 9;
constexpr int kChain = 11;                         // classes in the generalization chain
constexpr std::size_t kLargestExported = 100'000;  // elements

std::string numbered(const char* prefix, std::size_t n) {
  return std::string(prefix).append(std::to_string(n));
}

void pin(pid_t pid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  sched_setaffinity(pid, sizeof set, &set);
}

// Every CPU this process may use, as it started.
const cpu_set_t& everyCpu() {
  static const cpu_set_t all = [] {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    return set;
  }();
  return all;
}

void unpin(pid_t pid) { sched_setaffinity(pid, sizeof(cpu_set_t), &everyCpu()); }

int clientCpu() { return CPU_COUNT(&everyCpu()) > 1 ? 1 : 0; }

// One server and the model in it, grown on demand.
class ServedModel {
 public:
  explicit ServedModel(std::vector<std::string> arguments)
      : server_(std::move(arguments)), connection_("127.0.0.1", server_.port()) {
    repository_ = RepositoryRef{connection_.repository()};
    package_ = Package::create(connection_, repository_);
    ModelElement::set_name(connection_, ModelElement::cast(connection_, package_, true), "P");
    space_ = Namespace::cast(connection_, package_, true);
    tagged_ = TaggedValue::create(connection_, repository_);
  }

  void growTo(std::size_t elements) {
    while (elements_ < elements) addClass();
  }

  Connection& connection() { return connection_; }
  ServerProcess& server() { return server_; }
  std::size_t classes() const { return classes_.size(); }
  RepositoryRef repository() const { return repository_; }
  NamespaceRef space() const { return space_; }
  PackageRef package() const { return package_; }
  TaggedValueRef tagged() const { return tagged_; }
  ClassRef someClass(std::size_t n) const { return classes_[n % classes_.size()]; }
  ClassRef deepest() const { return classes_[kChain - 1]; }

 private:
  void addClass() {
    const std::size_t n = classes_.size();
    const ClassRef made = Class::create(connection_, repository_);
    Class::construct(connection_, made, space_, numbered("C", n));
    const ClassifierRef classifier = Classifier::cast(connection_, made, true);
    for (int a = 0; a < kAttributesPerClass; ++a) {
      const AttributeRef attribute = Attribute::create(connection_, repository_);
      Attribute::construct(connection_, attribute, classifier, numbered("a", a));
      connection_.release(attribute.handle);
    }
    connection_.release(classifier.handle);
    if (n > 0 && n < kChain) {
      const GeneralizationRef generalization = Generalization::create(connection_, repository_);
      Generalization::set_subtype(connection_, generalization,
                                  GeneralizableElement::cast(connection_, made, true));
      Generalization::set_supertype(connection_, generalization,
                                    GeneralizableElement::cast(connection_, classes_[n - 1], true));
    }
    classes_.push_back(made);
    elements_ += 1 + kAttributesPerClass;
  }

  ServerProcess server_;
  Connection connection_;
  RepositoryRef repository_;
  PackageRef package_;
  NamespaceRef space_;
  TaggedValueRef tagged_;
  std::vector<ClassRef> classes_;
  std::size_t elements_ = 0;
};

bool withPostgres() {
  const char* set = std::getenv("QOVIX_STORE_BENCH_POSTGRES");
  return set == nullptr || std::string(set) != "0";
}

struct Stores {
  TemporaryFolder folder;
  std::string documents = folder.path().string();
  std::string file = (folder.path() / "repository.sqlite3").string();
  ServedModel memory{{"--store", "memory", "--documents", documents}};
  ServedModel sqlite{{"--store", file, "--documents", documents}};
  std::unique_ptr<OwnPostgres> server =
      withPostgres() ? std::make_unique<OwnPostgres>(OwnPostgres::Settings::AsInstalled) : nullptr;
  std::unique_ptr<ServedModel> postgres =
      server ? std::make_unique<ServedModel>(std::vector<std::string>{
                   "--store", server->freshDatabase(), "--documents", documents})
             : nullptr;
};
Stores* stores = nullptr;

// Releases a handle the operation made.
void drop(Connection& connection, std::uint32_t handle) { connection.release(handle); }

using Operation = std::function<void(ServedModel&, std::size_t)>;

// Checks a collection's size and releases it.
template <class Collection>
void expectSize(ServedModel& model, Collection collection, std::int32_t size) {
  if (size >= 0 && model.connection().size(collection.handle) != size) {
    throw std::runtime_error("a collection of the wrong size");
  }
  drop(model.connection(), collection.handle);
}

std::vector<std::pair<const char*, Operation>> operations() {
  return {
      {"null call", [](ServedModel& m, std::size_t) { m.connection().ping(); }},
      {"getter",
       [](ServedModel& m, std::size_t n) { Class::get_isActive(m.connection(), m.someClass(n)); }},
      {"setter",
       [](ServedModel& m, std::size_t n) {
         Class::set_isActive(m.connection(), m.someClass(n), n % 2 == 0);
       }},
      {"create_1",
       [](ServedModel& m, std::size_t) {
         drop(m.connection(), TaggedValue::create(m.connection(), m.repository()).handle);
       }},
      {"add+rmv",
       [](ServedModel& m, std::size_t) {
         const ModelElementRef owner = ModelElement::cast(m.connection(), m.someClass(3), false);
         ModelElement::add_taggedValue(m.connection(), owner, m.tagged());
         ModelElement::rmv_taggedValue(m.connection(), owner, m.tagged());
         drop(m.connection(), owner.handle);
       }},
      {"_find__1 one match",
       [](ServedModel& m, std::size_t n) {
         expectSize(m,
                    ModelElement::find(m.connection(), m.repository(), "name",
                                       numbered("C", n % m.classes()), 1),
                    1);
       }},
      {"find_myName",
       [](ServedModel& m, std::size_t n) {
         expectSize(m,
                    ModelElement::find_myName(m.connection(), m.repository(),
                                              numbered("C", n % m.classes())),
                    1);
       }},
      {"contents",
       [](ServedModel& m, std::size_t) {
         expectSize(m, Namespace::contents(m.connection(), m.space()),
                    static_cast<std::int32_t>(m.classes()));
       }},
      {"allContents",
       [](ServedModel& m, std::size_t) {
         const auto general = GeneralizableElement::cast(m.connection(), m.package(), true);
         expectSize(m, GeneralizableElement::allContents(m.connection(), general), -1);
         drop(m.connection(), general.handle);
       }},
      {"allSupertypes 10",
       [](ServedModel& m, std::size_t) {
         const auto general = GeneralizableElement::cast(m.connection(), m.deepest(), true);
         expectSize(m, GeneralizableElement::allSupertypes(m.connection(), general), kChain - 1);
         drop(m.connection(), general.handle);
       }},
      {"allFeatures 99",
       [](ServedModel& m, std::size_t) {
         const auto classifier = Classifier::cast(m.connection(), m.deepest(), true);
         expectSize(m, Classifier::allFeatures(m.connection(), classifier),
                    kChain * kAttributesPerClass);
         drop(m.connection(), classifier.handle);
       }},
      {"export",
       [](ServedModel& m, std::size_t) {
         Package::externalize(m.connection(), m.package(), "xmi", "store_bench.xmi");
       }},
  };
}

// Times `operation` on `model` once.
double microseconds(const Operation& operation, ServedModel& model, std::size_t n) {
  const auto started = Clock::now();
  operation(model, n);
  return std::chrono::duration<double, std::micro>(Clock::now() - started).count();
}

// Grows both models to `elements`, then pins the servers and the client.
void growAndPin(std::size_t elements, bool sameCore = false) {
  if (stores->memory.classes() * (1 + kAttributesPerClass) < elements) {
    // Grow all at once, unpinned, one client thread each.
    for (pid_t pid : {stores->memory.server().pid(), stores->sqlite.server().pid(), 0}) unpin(pid);
    if (stores->postgres) unpin(stores->postgres->server().pid());
    std::thread other([&] { stores->sqlite.growTo(elements); });
    std::thread third([&] {
      if (stores->postgres) stores->postgres->growTo(elements);
    });
    stores->memory.growTo(elements);
    other.join();
    third.join();
  }
  pin(stores->memory.server().pid(), 0);
  pin(stores->sqlite.server().pid(), 0);
  if (stores->postgres) {
    pin(stores->postgres->server().pid(), 0);
    for (pid_t backend : stores->server->qovixdBackends()) pin(backend, 0);
  }
  pin(0, sameCore ? 0 : clientCpu());
}

void compareStores(benchmark::State& state, std::size_t elements, Operation operation,
                   bool sameCore = false) {
  growAndPin(elements, sameCore);
  double memory = 0, sqlite = 0, postgres = 0;
  std::vector<double> fileTimes;
  std::size_t n = 0;
  for (auto _ : state) {
    // Each store first in turn: none gains from running after another
    // warmed the caches, nor loses from running first.
    for (std::size_t turn = 0; turn < 3; ++turn) {
      switch ((n + turn) % 3) {
        case 0:
          memory += microseconds(operation, stores->memory, n);
          break;
        case 1:
          fileTimes.push_back(microseconds(operation, stores->sqlite, n));
          sqlite += fileTimes.back();
          break;
        default:
          if (stores->postgres) postgres += microseconds(operation, *stores->postgres, n);
      }
    }
    ++n;
  }
  state.counters["memory_us"] = memory / static_cast<double>(n);
  state.counters["file_us"] = sqlite / static_cast<double>(n);
  state.counters["file/memory speed"] = memory / sqlite;
  // The file's slowest calls: a checkpoint of its log would show here.
  std::sort(fileTimes.begin(), fileTimes.end());
  state.counters["file_p99.9_us"] = fileTimes[fileTimes.size() * 999 / 1000];
  if (stores->postgres) {
    state.counters["postgres_us"] = postgres / static_cast<double>(n);
    state.counters["postgres/file speed"] = sqlite / postgres;
  }
}

// A class in `space` with `features` attributes, made for a delete.
ClassRef doomedClass(ServedModel& model, NamespaceRef space, int features) {
  Connection& connection = model.connection();
  const ClassRef made = Class::create(connection, model.repository());
  Class::construct(connection, made, space, "doomed");
  const ClassifierRef classifier = Classifier::cast(connection, made, true);
  for (int a = 0; a < features; ++a) {
    const AttributeRef attribute = Attribute::create(connection, model.repository());
    Attribute::construct(connection, attribute, classifier, numbered("d", a));
    connection.release(attribute.handle);
  }
  connection.release(classifier.handle);
  return made;
}

// Deleting a class with 10 features in the model of `elements`: the
// microseconds of the delete on each store, and of a null call (the network
// floor) on each, made just before it. The class is made untimed.
void deleteClass(benchmark::State& state, std::size_t elements) {
  growAndPin(elements);
  double memory = 0, sqlite = 0, floor = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const ClassRef inMemory = doomedClass(stores->memory, stores->memory.space(), 10);
    const ClassRef inFile = doomedClass(stores->sqlite, stores->sqlite.space(), 10);
    state.ResumeTiming();
    for (auto* model : {&stores->memory, &stores->sqlite}) {
      floor += microseconds([](ServedModel& m, std::size_t) { m.connection().ping(); }, *model, n);
    }
    memory += microseconds(
        [&](ServedModel& m, std::size_t) {
          if (m.connection().deleteObject(inMemory.handle) != 11) throw std::runtime_error("11");
        },
        stores->memory, n);
    sqlite += microseconds(
        [&](ServedModel& m, std::size_t) {
          if (m.connection().deleteObject(inFile.handle) != 11) throw std::runtime_error("11");
        },
        stores->sqlite, n);
    ++n;
  }
  const double count = static_cast<double>(n);
  state.counters["memory_us"] = memory / count;
  state.counters["file_us"] = sqlite / count;
  state.counters["floor_us"] = floor / (2 * count);
  state.counters["file - floor us"] = (sqlite - floor / 2) / count;
}

// Deleting a package of 10,000 elements (1,000 classes of 9 attributes and
// their names), made untimed, once on each store.
void deletePackage(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<PackageRef> made;
    for (auto* model : {&stores->memory, &stores->sqlite}) {
      Connection& connection = model->connection();
      const PackageRef package = Package::create(connection, model->repository());
      const NamespaceRef space = Namespace::cast(connection, package, true);
      for (int c = 0; c < 1000; ++c) connection.release(doomedClass(*model, space, 9).handle);
      made.push_back(package);
    }
    state.ResumeTiming();
    const double memory = microseconds(
        [&](ServedModel& m, std::size_t) { m.connection().deleteObject(made[0].handle); },
        stores->memory, 0);
    const double sqlite = microseconds(
        [&](ServedModel& m, std::size_t) { m.connection().deleteObject(made[1].handle); },
        stores->sqlite, 0);
    state.counters["memory_ms"] = memory / 1000;
    state.counters["file_ms"] = sqlite / 1000;
  }
}

// How long the file's server takes from its start to its first answer on
// the largest model.
void restart(benchmark::State& state) {
  for (auto _ : state) {
    const int stopped = stores->sqlite.server().stop(SIGTERM);
    if (stopped != 0) state.SkipWithError("qovixd did not stop cleanly");
    // Every object the file holds, as the sqlite3 tool counts them.
    const ProgramRun counted =
        runProgram("/usr/bin/sqlite3", {stores->file, "SELECT count(*) FROM object"});
    const long objects = counted.status == 0 ? std::strtol(counted.out.c_str(), nullptr, 10) : -1;
    const auto started = Clock::now();
    ServerProcess again({"--store", stores->file});
    Connection connection("127.0.0.1", again.port());
    const RepositoryRef repository{connection.repository()};
    const auto found = ModelElement::find_myName(connection, repository, "C7");
    if (connection.size(found.handle) != 1) state.SkipWithError("the model did not come back");
    state.counters["serving_ms"] =
        std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    state.counters["objects"] = static_cast<double>(objects);
  }
}

// `operation` on `baseline` and on `other` in turn, each first every other
// time, on models of 1,000 elements: the microseconds of each, as counters
// named NAME_us, and the speed of `other` against `baseline`.
void compareTwo(benchmark::State& state, const Operation& operation, ServedModel& baseline,
                const char* baselineName, ServedModel& other, const char* otherName) {
  baseline.growTo(1000);
  other.growTo(1000);
  double baselineTime = 0, otherTime = 0;
  std::size_t n = 0;
  for (auto _ : state) {
    const bool otherFirst = n % 2 == 1;
    if (otherFirst) otherTime += microseconds(operation, other, n);
    baselineTime += microseconds(operation, baseline, n);
    if (!otherFirst) otherTime += microseconds(operation, other, n);
    ++n;
  }
  state.counters[std::string(baselineName) + "_us"] = baselineTime / static_cast<double>(n);
  state.counters[std::string(otherName) + "_us"] = otherTime / static_cast<double>(n);
  state.counters[std::string(otherName) + "/" + baselineName + " speed"] = baselineTime / otherTime;
}

// The writes with --sync full (a flush to the disk per reply) against
// --sync normal.
void syncFull(benchmark::State& state, Operation operation) {
  const TemporaryFolder folder;
  ServedModel normal({"--store", (folder.path() / "normal.sqlite3").string()});
  ServedModel full({"--store", (folder.path() / "full.sqlite3").string(), "--sync", "full"});
  compareTwo(state, operation, normal, "normal", full, "full");
}

// The writes on PostgreSQL with --sync normal (the default: each commit on
// the database's disk before its reply) against --sync relaxed; both qovixd
// and their PostgreSQL processes pinned as above.
void syncOnPostgres(benchmark::State& state, Operation operation) {
  if (!stores->server) {
    state.SkipWithError("no PostgreSQL (QOVIX_STORE_BENCH_POSTGRES=0)");
    return;
  }
  ServedModel relaxed({"--store", stores->server->freshDatabase(), "--sync", "relaxed"});
  ServedModel normal({"--store", stores->server->freshDatabase()});
  pin(normal.server().pid(), 0);
  pin(relaxed.server().pid(), 0);
  for (pid_t backend : stores->server->qovixdBackends()) pin(backend, 0);
  pin(0, clientCpu());
  compareTwo(state, operation, relaxed, "relaxed", normal, "normal");
}

}  // namespace

int main(int argc, char** argv) {
  everyCpu();  // before anything is pinned
  const char* configured = std::getenv("QOVIX_STORE_BENCH_MAX");
  const std::size_t largest =
      configured != nullptr ? std::strtoul(configured, nullptr, 10) : 1000000;
  benchmark::Initialize(&argc, argv);
  Stores both;
  stores = &both;
  for (std::size_t elements = 1000; elements <= largest; elements *= 10) {
    for (const auto& [name, operation] : operations()) {
      // A whole package of a million elements is some 90 MB of XMI: its
      // export, timed again and again, would take most of the run.
      if (std::string(name) == "export" && elements > kLargestExported) continue;
      const std::string label = std::string(name).append("/").append(std::to_string(elements));
      auto* registered = benchmark::RegisterBenchmark(
          label.c_str(), [elements, operation = operation](benchmark::State& state) {
            compareStores(state, elements, operation);
          });
      registered->MinTime(0.3)->UseRealTime();
      if (std::string(name) == "null call" || std::string(name) == "getter" || std::string(name) == "setter" ||
          std::string(name) == "create_1") {
        const std::string same = label + " same core";
        benchmark::RegisterBenchmark(same.c_str(),
                                     [elements, operation = operation](benchmark::State& state) {
                                       compareStores(state, elements, operation, true);
                                     })
            ->MinTime(0.3)
            ->UseRealTime();
      }
    }
    const std::string label =
        std::string("delete class of 10 features/").append(std::to_string(elements));
    benchmark::RegisterBenchmark(
        label.c_str(), [elements](benchmark::State& state) { deleteClass(state, elements); })
        ->Iterations(50)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("delete package of 10k, largest model", deletePackage)
      ->Iterations(1)
      ->UseRealTime();
  benchmark::RegisterBenchmark("restart, largest model", restart)->Iterations(1)->UseRealTime();
  for (const auto& [name, operation] : operations()) {
    if (std::string(name) != "setter" && std::string(name) != "create_1") continue;
    const std::string label = std::string("sync full vs normal: ").append(name);
    benchmark::RegisterBenchmark(
        label.c_str(),
        [operation = operation](benchmark::State& state) { syncFull(state, operation); })
        ->MinTime(0.3)
        ->UseRealTime();
    const std::string onPostgres = std::string("postgres sync normal vs relaxed: ").append(name);
    benchmark::RegisterBenchmark(
        onPostgres.c_str(),
        [operation = operation](benchmark::State& state) { syncOnPostgres(state, operation); })
        ->MinTime(0.3)
        ->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
