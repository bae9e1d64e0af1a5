// The library's own cost per call, in process: QOVIX_server_1 driven through
// the test transport, against a baseline that costs what the transport and
// the runtime's reply path cost alone (decode one handle, send one handle).
// The difference is the library's share: routing, the frame, the registry,
// the model and the conversions.
//
//   build/bench/qovix_library_bench

#include <benchmark/benchmark.h>

#include <vector>

#include "client/procedure_listing.h"
#include "dispatch/entry_point.h"
#include "model_classes.h"
#include "model/vorn_os/handle_registry.h"
#include "tests/support/reply_values.h"
#include "tests/support/test_transport.h"
#include "xdr/primitive_filters.h"

namespace {

CallAddress addressOf(const char* label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  return found != nullptr ? CallAddress{found->classNumber, 0, found->number} : CallAddress{};
}

// What any procedure costs besides the library: its handle decoded, a handle
// replied.
void baselineEntry(svc_req*, SVCXPRT* transp, ModelCall*) {
  InteropHandle handle = 0;
  transp->xp_ops->xp_getargs(transp, toXdrProc(&X_InteropHandle), &handle);
  svc_sendreply(transp, toXdrProc(&X_InteropHandle), &handle);
  transp->xp_ops->xp_freeargs(transp, toXdrProc(&X_InteropHandle), &handle);
}

struct Model {
  Model() {
    repositoryHandle = getHandle(&repository, static_cast<VornObject*>(&repository), nullptr);
    tagged = new QOVIXTaggedValue(repository);
    tagged->set_tag(QOVIXName(u"author"));
    QOVIXModelElement element(repository);
    tagged->set_modelElement(element);
    taggedHandle = getHandle(tagged, static_cast<VornObject*>(tagged), tagged);
  }
  ~Model() {
    deleteHandle(repositoryHandle);  // the repository is ours, not the registry's
    vorn_os::releaseAll();
  }

  VORN repository{"bench"};
  unsigned long repositoryHandle;
  QOVIXTaggedValue* tagged;
  unsigned long taggedHandle;
};

// Calls `label` with `arguments` repeatedly, each call's changes committed
// to `store` as qovixd does (none for the baseline); when the procedure makes
// a new handle each call, releases them in batches outside the timing.
void run(benchmark::State& state, QovixServerEntry entry, CallAddress address,
         const Bytes& arguments, bool releasesResults, PersistentStore* store = nullptr) {
  TestTransport transport;
  std::vector<InteropHandle> made;
  for (auto _ : state) {
    const auto& replies = transport.call(entry, address, arguments);
    if (store != nullptr) store->commit();
    if (releasesResults) {
      made.push_back(handleOf(replies.front()));
      if (made.size() == 4096) {
        state.PauseTiming();
        for (InteropHandle handle : made) vorn_os::releaseHandle(handle);
        made.clear();
        state.ResumeTiming();
      }
    }
  }
  for (InteropHandle handle : made) vorn_os::releaseHandle(handle);
}

void Baseline(benchmark::State& state) { run(state, &baselineEntry, {1, 0, 1}, words({1}), false); }
BENCHMARK(Baseline);

void ValueAttributeGetter(benchmark::State& state) {
  Model model;
  run(state, &QOVIX_server_1, addressOf("QOVIXTaggedValue_get_tag_0"),
      words({static_cast<std::uint32_t>(model.taggedHandle)}), false, &model.repository.store());
}
BENCHMARK(ValueAttributeGetter);

void SingleReferenceGetter(benchmark::State& state) {
  Model model;
  run(state, &QOVIX_server_1, addressOf("QOVIXTaggedValue_get_modelElement_0"),
      words({static_cast<std::uint32_t>(model.taggedHandle)}), true, &model.repository.store());
}
BENCHMARK(SingleReferenceGetter);

void CollectionSize(benchmark::State& state) {
  Model model;
  QOVIXNamespace* space = new QOVIXNamespace(model.repository);
  for (int i = 0; i < 10; ++i) {
    QOVIXModelElement element(model.repository);
    space->add_ownedElement(element);
  }
  const unsigned long handle = getHandle(space, static_cast<VornObject*>(space), space);
  run(state, &QOVIX_server_1, addressOf("QOVIXNamespace_size_ownedElement_0"),
      words({static_cast<std::uint32_t>(handle)}), false, &model.repository.store());
}
BENCHMARK(CollectionSize);

void CreateInRepository(benchmark::State& state) {
  Model model;
  run(state, &QOVIX_server_1, addressOf("QOVIXClass_create_1"),
      words({static_cast<std::uint32_t>(model.repositoryHandle)}), true, &model.repository.store());
}
BENCHMARK(CreateInRepository);

}  // namespace

BENCHMARK_MAIN();
