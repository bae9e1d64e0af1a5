// Several qovixd on one PostgreSQL repository, against one: how aggregate
// throughput grows with servers, and what clients of one server see while
// another runs a long call. The benchmark starts a PostgreSQL server of its
// own (scripts/postgres-server), then for 1, 2 and 4 qovixd on one database
// runs the same client threads (4 by default, QOVIX_CLUSTER_CLIENTS), spread
// evenly over the servers, each with its own connection, for a few seconds:
//
//   getters      Class get_isActive on a class of the model
//   mix 90/10    nine getters, then one set_isActive
//
// Counters: calls_per_s (all clients together), p50_us and p99_us (each
// call's latency), and vs_1_server (calls_per_s against one server's, from
// the same run). Nothing is pinned: the servers, PostgreSQL and the clients
// share the machine's cores, which on a small machine are the ceiling.
//
// The stall: one server exports the whole model to an XMI document (one
// call that reads every element, from a cold cache), while a client of
// another server calls a getter in a loop; longest_gap_ms is the longest
// wait it saw, p99_us its latency's 99th percentile, and long_call_s how
// long the export took.
//
//   build/bench/qovix_cluster_bench
//   QOVIX_CLUSTER_CLASSES=10000 build/bench/qovix_cluster_bench

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
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

std::size_t setting(const char* name, std::size_t otherwise) {
  const char* set = std::getenv(name);
  return set != nullptr ? std::strtoul(set, nullptr, 10) : otherwise;
}

std::string numbered(const char* prefix, std::size_t n) {
  return std::string(prefix).append(std::to_string(n));
}

// The database, with a package P of N classes built through a first server.
struct Repository {
  OwnPostgres postgres{OwnPostgres::Settings::AsInstalled};
  TemporaryFolder documents;
  std::string store = postgres.freshDatabase();
  std::size_t classes = setting("QOVIX_CLUSTER_CLASSES", 2000);

  Repository() {
    ServerProcess builder({"--store", store});
    Connection connection("127.0.0.1", builder.port());
    const RepositoryRef repository{connection.repository()};
    const PackageRef package = Package::create(connection, repository);
    ModelElement::set_name(connection, ModelElement::cast(connection, package, true), "P");
    const NamespaceRef space = Namespace::cast(connection, package, true);
    for (std::size_t n = 0; n < classes; ++n) {
      const ClassRef made = Class::create(connection, repository);
      Class::construct(connection, made, space, numbered("C", n));
      connection.release(made.handle);
    }
  }

  std::unique_ptr<ServerProcess> serve() const {
    return std::make_unique<ServerProcess>(
        std::vector<std::string>{"--store", store, "--documents", documents.path().string()});
  }
};

Repository* repository = nullptr;

// One client: its connection to one server, and classes found there.
struct Client {
  Connection connection;
  std::vector<ClassRef> classes;

  explicit Client(std::uint16_t port) : connection("127.0.0.1", port) {
    const RepositoryRef repo{connection.repository()};
    for (std::size_t n = 0; n < 16; ++n) {
      const auto found =
          ModelElement::find_myName(connection, repo, numbered("C", n * 97 % repository->classes));
      classes.push_back(Class::cast(connection, AnyRef(connection.element(found.handle, 0)), true));
      connection.release(found.handle);
    }
  }
};

struct Latencies {
  std::vector<double> micros;
  double percentile(double p) {
    if (micros.empty()) return 0;
    std::sort(micros.begin(), micros.end());
    return micros[static_cast<std::size_t>(p * static_cast<double>(micros.size() - 1))];
  }
};

// Runs `clients` threads over `servers` for `seconds`, every tenth call a
// setter when `writes`; all calls per second, and every call's latency.
std::pair<double, Latencies> load(const std::vector<std::unique_ptr<ServerProcess>>& servers,
                                  std::size_t clients, bool writes, double seconds) {
  std::vector<std::unique_ptr<Client>> made;
  for (std::size_t i = 0; i < clients; ++i) {
    made.push_back(std::make_unique<Client>(servers[i % servers.size()]->port()));
  }
  std::vector<Latencies> each(clients);
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  Clock::time_point until;
  for (std::size_t i = 0; i < clients; ++i) {
    threads.emplace_back([&, i] {
      while (!go) std::this_thread::yield();
      Client& client = *made[i];
      for (std::size_t n = 0; Clock::now() < until; ++n) {
        const ClassRef target = client.classes[n % client.classes.size()];
        const auto started = Clock::now();
        if (writes && n % 10 == 9) {
          Class::set_isActive(client.connection, target, n % 20 == 9);
        } else {
          Class::get_isActive(client.connection, target);
        }
        each[i].micros.push_back(
            std::chrono::duration<double, std::micro>(Clock::now() - started).count());
      }
    });
  }
  const auto started = Clock::now();
  until =
      started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  go = true;
  for (auto& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  Latencies all;
  for (auto& one : each) all.micros.insert(all.micros.end(), one.micros.begin(), one.micros.end());
  return {static_cast<double>(all.micros.size()) / elapsed, std::move(all)};
}

void scale(benchmark::State& state, std::size_t serverCount, bool writes) {
  static double single[2] = {0, 0};
  const std::size_t clients = setting("QOVIX_CLUSTER_CLIENTS", 4);
  std::vector<std::unique_ptr<ServerProcess>> servers;
  for (std::size_t i = 0; i < serverCount; ++i) servers.push_back(repository->serve());
  load(servers, clients, writes, 0.5);  // caches warm
  for (auto _ : state) {
    auto [rate, latencies] = load(servers, clients, writes, 3.0);
    state.SetIterationTime(3.0);
    state.counters["calls_per_s"] = rate;
    state.counters["p50_us"] = latencies.percentile(0.5);
    state.counters["p99_us"] = latencies.percentile(0.99);
    if (serverCount == 1) single[writes ? 1 : 0] = rate;
    if (single[writes ? 1 : 0] > 0) state.counters["vs_1_server"] = rate / single[writes ? 1 : 0];
  }
}

void stall(benchmark::State& state) {
  for (auto _ : state) {
    const auto quiet = repository->serve();
    const auto busy = repository->serve();  // cold: it has read nothing yet
    Client client(quiet->port());
    Connection exporter("127.0.0.1", busy->port());
    const RepositoryRef repo{exporter.repository()};
    const auto found = ModelElement::find_myName(exporter, repo, "P");
    const PackageRef package =
        Package::cast(exporter, AnyRef(exporter.element(found.handle, 0)), true);
    std::atomic<bool> done{false};
    double longCall = 0;
    std::thread runner([&] {
      const auto started = Clock::now();
      Package::externalize(exporter, package, "xmi", "stall.xmi");
      longCall = std::chrono::duration<double>(Clock::now() - started).count();
      done = true;
    });
    Latencies latencies;
    while (!done) {
      const auto started = Clock::now();
      Class::get_isActive(client.connection, client.classes[0]);
      latencies.micros.push_back(
          std::chrono::duration<double, std::micro>(Clock::now() - started).count());
    }
    runner.join();
    state.SetIterationTime(longCall);
    state.counters["long_call_s"] = longCall;
    state.counters["calls_meanwhile"] = static_cast<double>(latencies.micros.size());
    state.counters["p99_us"] = latencies.percentile(0.99);
    state.counters["longest_gap_ms"] = latencies.percentile(1.0) / 1000;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Repository made;
  repository = &made;
  for (bool writes : {false, true}) {
    for (std::size_t servers : {1, 2, 4}) {
      const std::string label = std::string(writes ? "mix 90/10" : "getters")
                                    .append("/servers:")
                                    .append(std::to_string(servers));
      benchmark::RegisterBenchmark(
          label.c_str(),
          [servers, writes](benchmark::State& state) { scale(state, servers, writes); })
          ->Iterations(1)
          ->UseManualTime();
    }
  }
  benchmark::RegisterBenchmark("stall of another server's client during an export", stall)
      ->Iterations(1)
      ->UseManualTime();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
