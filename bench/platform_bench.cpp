// Scale of the platform stand-ins: the handle registry, a set feature of a
// model object, an ordered list in both stores, and find over a class's
// instances. Each family runs at sizes
// from 1,024 to 1,048,576 and Google Benchmark fits the growth ("BigO"); a
// flat fit (O(1)) is the claim for per-operation costs.
//
//   build/bench/qovix_platform_bench

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <vector>

#include "model_classes.h"
#include "store/sqlite_store.h"
#include "model/vorn_os/handle_registry.h"
#include "tests/support/temporary_folder.h"

namespace {

constexpr std::int64_t kSmallest = 1 << 10;
constexpr std::int64_t kLargest = 1 << 20;

double residentMegabytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  long resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1 << 20);
}

// Registering and dropping a million handles one after another: the
// registry reuses slots, so memory stays where it began.
void RegistryRegisterAndDrop(benchmark::State& state) {
  QOVIXClass object;
  const double before = residentMegabytes();
  for (auto _ : state) {
    for (std::int64_t i = 0; i < state.range(0); ++i) {
      const unsigned long handle = getHandle(&object, static_cast<VornObject*>(&object), &object);
      benchmark::DoNotOptimize(okHandle(handle));
      deleteHandle(handle);
    }
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["resident_growth_MB"] = residentMegabytes() - before;
  state.counters["live_handles"] = static_cast<double>(vorn_os::handleCount());
  state.SetComplexityN(state.range(0));
}
BENCHMARK(RegistryRegisterAndDrop)->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

// Looking a handle up among N live ones.
void RegistryLookup(benchmark::State& state) {
  std::vector<QOVIXClass> objects(static_cast<std::size_t>(state.range(0)));
  std::vector<unsigned long> handles;
  for (QOVIXClass& object : objects) {
    handles.push_back(getHandle(&object, static_cast<VornObject*>(&object), &object));
  }
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, handles.size() - 1);
  for (auto _ : state) {
    const unsigned long handle = handles[pick(random)];
    benchmark::DoNotOptimize(okHandle(handle));
    benchmark::DoNotOptimize(vorn_os::lookup<QOVIXClass>(handle));
  }
  for (unsigned long handle : handles) deleteHandle(handle);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(RegistryLookup)->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

// A namespace whose ownedElement set already holds N members.
struct FilledSet {
  explicit FilledSet(std::int64_t size) : space(repository) {
    for (std::int64_t i = 0; i < size; ++i) {
      QOVIXModelElement element(repository);
      space.add_ownedElement(element);
      members.push_back(element);
    }
    repository.store().commit();
  }
  VORN repository;
  QOVIXNamespace space;
  std::vector<QOVIXModelElement> members;
};

// Adding a member and removing it again, on a set of N members.
void SetAddThenRemove(benchmark::State& state) {
  FilledSet set(state.range(0));
  QOVIXModelElement extra(set.repository);
  for (auto _ : state) {
    set.space.add_ownedElement(extra);
    set.space.remove_ownedElement(extra);
    set.repository.store().commit();  // as qovixd does after each call
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(SetAddThenRemove)->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

void SetContains(benchmark::State& state) {
  FilledSet set(state.range(0));
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, set.members.size() - 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(set.space.contains_ownedElement(set.members[pick(random)]));
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(SetContains)->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

// Removing a random member and adding it back, on a set of N members.
void SetRemoveThenAdd(benchmark::State& state) {
  FilledSet set(state.range(0));
  std::mt19937 random(7);
  std::uniform_int_distribution<std::size_t> pick(0, set.members.size() - 1);
  for (auto _ : state) {
    QOVIXModelElement& member = set.members[pick(random)];
    set.space.remove_ownedElement(member);
    set.space.add_ownedElement(member);
    set.repository.store().commit();
  }
  state.SetComplexityN(state.range(0));
}
BENCHMARK(SetRemoveThenAdd)->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

// Inserting a member at the front of an ordered list of N members and
// removing it again, in the memory store and in the repository file (its
// changes committed every 1,000 operations): neither renumbers the members.
void ListInsertAtFrontThenRemove(benchmark::State& state, bool inFile) {
  const TemporaryFolder folder;
  VORN repository("r", inFile ? openSqliteStore(folder.path() / "r.sqlite3") : makeMemoryStore());
  QOVIXModelElement owner(repository);
  for (std::int64_t i = 0; i < state.range(0); ++i) {
    QOVIXModelElement member(repository);
    owner.add_templateParameter(member, static_cast<VornLong>(i));
  }
  repository.store().commit();
  QOVIXModelElement extra(repository);
  std::int64_t done = 0;
  for (auto _ : state) {
    owner.add_templateParameter(extra, 0);
    owner.remove_templateParameter(extra);
    if (++done % 1000 == 0) repository.store().commit();
  }
  repository.store().commit();
  state.SetComplexityN(state.range(0));
}
BENCHMARK_CAPTURE(ListInsertAtFrontThenRemove, memory, false)
    ->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();
BENCHMARK_CAPTURE(ListInsertAtFrontThenRemove, file, true)
    ->RangeMultiplier(32)->Range(kSmallest, kLargest)->Complexity();

// find over a class with N instances, against the baseline of copying N ids.
void FindAllInstances(benchmark::State& state) {
  VORN repository;
  for (std::int64_t i = 0; i < state.range(0); ++i) QOVIXClass created(repository);
  for (auto _ : state) benchmark::DoNotOptimize(QOVIXClass::find(repository, 1).size());
  state.SetComplexityN(state.range(0));
}
BENCHMARK(FindAllInstances)->Arg(kLargest)->Unit(benchmark::kMillisecond);

void CopyIdsBaseline(benchmark::State& state) {
  const std::vector<ObjectId> ids(static_cast<std::size_t>(state.range(0)), 1);
  for (auto _ : state) {
    std::vector<ObjectId> copy(ids);
    benchmark::DoNotOptimize(copy.data());
  }
}
BENCHMARK(CopyIdsBaseline)->Arg(kLargest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
