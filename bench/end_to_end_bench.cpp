// qovixd end to end over loopback, next to plain-rpc, an rpcgen server with
// procedures of the same shapes (plain_server/plain.x). qovixd runs twice:
// on its default store, the repository file ("file"), and on the memory
// store ("memory"), reported beside it by name. The servers run as child
// processes pinned to CPU 0; the client, this process, calls them with
// the same libtirpc client code, pinned to CPU 0 as well ("same core") or to
// CPU 1 ("other core"). A wake-up across cores costs tens of microseconds on
// small machines, so the two placements are reported apart.
//
// Operations, one per benchmark iteration:
//   size       qovixd Classifier size_feature_0          plain SIZE
//   value      qovixd TaggedValue get_tag_0 (text)       plain NAME (string)
//   reference  qovixd get_modelElement_0 + host release  plain REFERENCE + RELEASE
//   create     qovixd TaggedValue create_1 + release     plain CREATE + RELEASE
//
// Each benchmark runs one operation on the three servers in turn and reports
// the operations per second of each and the ratios qovixd / plain; a
// summary at the end adds p50 and p99 latencies in microseconds.
//
//   build/bench/qovix_end_to_end_bench

#include <benchmark/benchmark.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "client/procedure_listing.h"
#include "client_model.h"
#include "plain.h"
#include "qovix_protocol.h"
#include "tests/support/rpc_client.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace {

enum class Operation { Size, Value, Reference, Create };
enum class Placement { SameCore, OtherCore };

const char* nameOf(Operation operation) {
  switch (operation) {
    case Operation::Size:
      return "size";
    case Operation::Value:
      return "value";
    case Operation::Reference:
      return "reference+release";
    case Operation::Create:
      return "create+release";
  }
  return "";
}
const char* nameOf(Placement placement) {
  return placement == Placement::SameCore ? "same core" : "other core";
}

std::uint32_t procedureNumber(const char* label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) throw std::runtime_error(std::string("no procedure ") + label);
  return found->number;
}

void pin(pid_t pid, int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (sched_setaffinity(pid, sizeof set, &set) != 0) {
    throw std::runtime_error("cannot pin to CPU " + std::to_string(cpu));
  }
}

int usableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  sched_getaffinity(0, sizeof set, &set);
  return CPU_COUNT(&set);
}

// A qovixd, and the objects the operations work on.
struct Qovixd {
  explicit Qovixd(std::vector<std::string> arguments) : process(std::move(arguments)) {
    qovix::client::Connection connection("127.0.0.1", process.port());
    using namespace qovix::client;
    repository = connection.repository();
    const RepositoryRef inRepository{repository};
    const auto aClassifier = Classifier::create(connection, inRepository);
    for (int i = 0; i < 3; ++i) {
      const auto feature =
          Feature::cast(connection, Attribute::create(connection, inRepository), true);
      Classifier::add_feature(connection, aClassifier, feature, i);
    }
    classifier = aClassifier.handle;
    const auto aTaggedValue = TaggedValue::create(connection, inRepository);
    TaggedValue::set_tag(connection, aTaggedValue, "author");
    TaggedValue::set_modelElement(connection, aTaggedValue,
                                  ModelElement::create(connection, inRepository));
    tagged = aTaggedValue.handle;
  }

  ServerProcess process;
  InteropHandle repository = 0;
  InteropHandle classifier = 0;
  InteropHandle tagged = 0;
};

// The three servers.
struct Servers {
  TemporaryFolder folder;
  ServerProcess plain{{}, PLAIN_SERVER_PATH};
  Qovixd file{{"--store", (folder.path() / "repository.sqlite3").string()}};
  Qovixd memory{{"--store", "memory"}};
};

Servers* servers = nullptr;

timeval kTimeout{5, 0};

template <class Argument, class Result>
bool call(CLIENT* client, std::uint32_t procedure, bool_t (*argumentFilter)(XDR*, Argument*),
          Argument argument, bool_t (*resultFilter)(XDR*, Result*), Result& result) {
  return clnt_call(client, procedure, toXdrProc(argumentFilter), &argument, toXdrProc(resultFilter),
                   &result, kTimeout) == RPC_SUCCESS;
}

// One operation against plain-rpc; false when a call failed.
class PlainCaller {
 public:
  explicit PlainCaller(Transport transport)
      : client_(transport, servers->plain.port(), PLAIN_PROGRAM, PLAIN_VERSION) {}

  bool run(Operation operation) {
    CLIENT* client = client_.get();
    u_int object = 1;
    switch (operation) {
      case Operation::Size: {
        int size = 0;
        return call(client, PLAIN_SIZE, xdr_u_int, object, xdr_int, size) && size == 3;
      }
      case Operation::Value: {
        plain_text name = nullptr;
        const bool ok = call(client, PLAIN_NAME, xdr_u_int, object, xdr_plain_text, name);
        xdr_free(toXdrProc(xdr_plain_text), &name);
        return ok;
      }
      case Operation::Reference:
      case Operation::Create: {
        u_int made = 0;
        int released = 0;
        return call(client, operation == Operation::Reference ? PLAIN_REFERENCE : PLAIN_CREATE,
                    xdr_u_int, object, xdr_u_int, made) &&
               call(client, PLAIN_RELEASE, xdr_u_int, made, xdr_int, released) && released == 1;
      }
    }
    return false;
  }

 private:
  RpcClient client_;
};

// The same operations against qovixd: the model program (its version is the
// class number) and the host program for releases.
class QovixdCaller {
 public:
  QovixdCaller(Transport transport, const Qovixd& server)
      : server_(server),
        model_(transport, server.process.port(), qovix::protocol::kModelProgram, 2),
        host_(transport, server.process.port(), qovix::protocol::kHostProgram,
              qovix::protocol::kHostVersion) {}

  bool run(Operation operation) {
    CLIENT* model = model_.get();
    switch (operation) {
      case Operation::Size: {
        udt_integer size = 0;
        return call(model, size_, X_InteropHandle, server_.classifier, X_udt_integer, size) &&
               size == 3;
      }
      case Operation::Value: {
        udt_dataType value{};
        const bool ok =
            call(model, getTag_, X_InteropHandle, server_.tagged, X_VornDataType, value);
        xdr_free(toXdrProc(X_VornDataType), &value);
        return ok;
      }
      case Operation::Reference:
      case Operation::Create: {
        InteropHandle made = 0;
        udt_boolean released = 0;
        const bool reference = operation == Operation::Reference;
        return call(model, reference ? getModelElement_ : create_, X_InteropHandle,
                    reference ? server_.tagged : server_.repository, X_InteropHandle, made) &&
               call(host_.get(), qovix::protocol::kHostRelease, X_InteropHandle, made,
                    X_udt_boolean, released) &&
               released == 1;
      }
    }
    return false;
  }

  // The model program's version names the class of the procedures called.
  void prepare(Operation operation) {
    u_long version = operation == Operation::Size ? 12 : 2;
    clnt_control(model_.get(), CLSET_VERS, reinterpret_cast<char*>(&version));
  }

 private:
  const Qovixd& server_;
  RpcClient model_;
  RpcClient host_;
  const std::uint32_t size_ = procedureNumber("QOVIXClassifier_size_feature_0");
  const std::uint32_t getTag_ = procedureNumber("QOVIXTaggedValue_get_tag_0");
  const std::uint32_t getModelElement_ = procedureNumber("QOVIXTaggedValue_get_modelElement_0");
  const std::uint32_t create_ = procedureNumber("QOVIXTaggedValue_create_1");
};

// Latencies of one server's operations, in microseconds.
class Samples {
 public:
  Samples() { latencies_.reserve(1 << 20); }

  template <class Caller>
  bool time(Caller& caller, Operation operation) {
    const auto start = std::chrono::steady_clock::now();
    if (!caller.run(operation)) return false;
    const auto took = std::chrono::steady_clock::now() - start;
    latencies_.push_back(std::chrono::duration<double, std::micro>(took).count());
    return true;
  }

  struct Figures {
    double perSecond;
    double p50;
    double p99;
  };
  Figures figures() {
    std::sort(latencies_.begin(), latencies_.end());
    double total = 0;
    for (double each : latencies_) total += each;
    return {static_cast<double>(latencies_.size()) / total * 1e6, latencies_[latencies_.size() / 2],
            latencies_[latencies_.size() * 99 / 100]};
  }

 private:
  std::vector<double> latencies_;
};

struct Comparison {
  Samples::Figures plain;
  Samples::Figures file;
  Samples::Figures memory;
};
using Key = std::tuple<Placement, Transport, Operation>;
std::map<Key, Comparison> comparisons;

// Each iteration runs the operation once on each server, in rotating order,
// so that whatever the machine does meanwhile weighs on all alike.
void compare(benchmark::State& state, Key key) {
  const auto [placement, transport, operation] = key;
  pin(servers->plain.pid(), 0);
  pin(servers->file.process.pid(), 0);
  pin(servers->memory.process.pid(), 0);
  pin(0, placement == Placement::SameCore ? 0 : 1);
  PlainCaller plain(transport);
  QovixdCaller file(transport, servers->file);
  QovixdCaller memory(transport, servers->memory);
  file.prepare(operation);
  memory.prepare(operation);
  Samples plainSamples, fileSamples, memorySamples;
  const std::function<bool()> runs[] = {[&] { return plainSamples.time(plain, operation); },
                                        [&] { return fileSamples.time(file, operation); },
                                        [&] { return memorySamples.time(memory, operation); }};
  std::size_t first = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < 3; ++i) {
      if (!runs[(first + i) % 3]()) {
        state.SkipWithError("a call failed");
        return;
      }
    }
    first = (first + 1) % 3;
  }
  const Comparison measured{plainSamples.figures(), fileSamples.figures(), memorySamples.figures()};
  comparisons[key] = measured;
  state.counters["plain_per_s"] = measured.plain.perSecond;
  state.counters["file_per_s"] = measured.file.perSecond;
  state.counters["memory_per_s"] = measured.memory.perSecond;
  state.counters["file/plain"] = measured.file.perSecond / measured.plain.perSecond;
  state.counters["memory/plain"] = measured.memory.perSecond / measured.plain.perSecond;
}

void printSummary() {
  std::printf(
      "\nqovixd on its repository file and in memory / plain-rpc, operations per second "
      "(p50 / p99 in microseconds)\n");
  std::printf("%-10s %-4s %-18s %9s %9s %6s %9s %6s   %-13s %-13s %-13s\n", "placement", "via",
              "operation", "plain/s", "file/s", "ratio", "memory/s", "ratio", "plain p50/p99",
              "file p50/p99", "memory p50/p99");
  for (const auto& [key, measured] : comparisons) {
    const auto [placement, transport, operation] = key;
    std::printf(
        "%-10s %-4s %-18s %9.0f %9.0f %6.3f %9.0f %6.3f   %5.1f / %-5.1f %5.1f / %-5.1f "
        "%5.1f / %-5.1f\n",
        nameOf(placement), toString(transport).c_str(), nameOf(operation), measured.plain.perSecond,
        measured.file.perSecond, measured.file.perSecond / measured.plain.perSecond,
        measured.memory.perSecond, measured.memory.perSecond / measured.plain.perSecond,
        measured.plain.p50, measured.plain.p99, measured.file.p50, measured.file.p99,
        measured.memory.p50, measured.memory.p99);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Servers started;
  servers = &started;
  std::vector<Placement> placements{Placement::SameCore};
  if (usableCpus() >= 2) placements.push_back(Placement::OtherCore);
  for (Placement placement : placements) {
    for (Transport transport : {Transport::Tcp, Transport::Udp}) {
      for (Operation operation :
           {Operation::Size, Operation::Value, Operation::Reference, Operation::Create}) {
        const std::string name = toString(transport) + "/" + nameOf(operation) + "/" +
                                 (placement == Placement::SameCore ? "same_core" : "other_core");
        benchmark::RegisterBenchmark(name.c_str(), compare, Key{placement, transport, operation})
            ->UseRealTime()
            ->MinTime(2.0);
      }
    }
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  printSummary();
  servers = nullptr;
  return 0;
}
