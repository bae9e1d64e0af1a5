// How long one expensive call holds qovixd, as another client sees it.
// qovixd serves one call at a time, so the length of a call is the stall
// every other client waits out. A second client polls a getter in a loop;
// a call's stall is the longest gap between two of its replies while the
// call runs. qovixd keeps its repository in a file (the SQLite store), and
// is started afresh, with a cold cache, for every call.
//
// The model: a package of N classes (100,000 by default; QOVIX_STALL_CLASSES
// sets another), read in from XMI documents; a class with N/2.5 operations
// for the well-formedness check; a document of 4N elements (450,000 at most)
// of a metaclass UML 1.x lacks, for an import that skips them all. A call
// makes at most 100,000 objects, so imports and copies work on half the
// classes at a time. Each benchmark's counters:
//   stall_s        the longest gap the polling client saw
//   per_100k_s     the stall per 100,000 elements the call works on
//   vs_find        the stall against the baseline's: a find of every class,
//                  which reads the same elements from the file's index
//   rss_kept_MiB   qovixd's resident memory after the call less before
//
//   build/bench/qovix_stall_bench
//   QOVIX_STALL_CLASSES=20000 build/bench/qovix_stall_bench
//   QOVIX_STALL_QOVIXD=/elsewhere/qovixd build/bench/qovix_stall_bench

#include <benchmark/benchmark.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "tests/support/process_memory.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;
using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

std::size_t classCount() {
  const char* set = std::getenv("QOVIX_STALL_CLASSES");
  return set != nullptr ? std::strtoul(set, nullptr, 10) : 100000;
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string xmiDocument(const std::string& content) {
  return "<?xml version=\"1.0\"?>\n<XMI xmi.version=\"1.2\" "
         "xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>" +
         content + "</XMI.content></XMI>\n";
}

// The documents the model is read from, and the files it lives in. A call
// makes at most 100,000 objects, so the model comes in parts: the package
// Big holds Part0 and Part1, of N/2 classes each, and the class Wide.
struct Scene {
  TemporaryFolder folder;
  std::filesystem::path documents = folder.path() / "documents";
  std::filesystem::path store = folder.path() / "repository.sqlite3";
  std::size_t classes = classCount();

  Scene() {
    std::filesystem::create_directory(documents);
    for (int part = 0; part < 2; ++part) {
      const std::string name = "Part" + std::to_string(part);
      std::string model =
          "<UML:Model xmi.id=\"m\" name=\"" + name + "\"><UML:Namespace.ownedElement>";
      for (std::size_t i = 0; i < partClasses(); ++i) {
        const std::string n = std::to_string(i);
        model += "<UML:Class xmi.id=\"c" + n + "\" name=\"" + name + "C" + n + "\"/>";
      }
      model += "</UML:Namespace.ownedElement></UML:Model>";
      writeFile(documents / (name + ".xmi"), xmiDocument(model));
    }
    std::string wide =
        "<UML:Model xmi.id=\"m\" name=\"WidePackage\"><UML:Namespace.ownedElement>"
        "<UML:Class xmi.id=\"wide\" name=\"Wide\"><UML:Classifier.feature>";
    for (std::size_t i = 0; i < wideOperations(); ++i) {
      const std::string n = std::to_string(i);
      wide += "<UML:Operation xmi.id=\"o" + n + "\" name=\"op" + n + "\"/>";
    }
    wide += "</UML:Classifier.feature></UML:Class></UML:Namespace.ownedElement></UML:Model>";
    writeFile(documents / "wide.xmi", xmiDocument(wide));
    std::string unknown = "<UML:Model xmi.id=\"u\" name=\"Unknown\"><UML:Namespace.ownedElement>";
    for (std::size_t i = 0; i < skippedElements(); ++i) {
      unknown += "<UML:Gizmo xmi.id=\"g" + std::to_string(i) + "\"/>";
    }
    unknown += "</UML:Namespace.ownedElement></UML:Model>";
    writeFile(documents / "unknown.xmi", xmiDocument(unknown));
  }
  std::size_t partClasses() const { return classes / 2; }
  std::size_t wideOperations() const { return classes * 2 / 5; }
  std::size_t skippedElements() const { return std::min<std::size_t>(classes * 4, 450000); }
  std::size_t elements() const { return classes + wideOperations(); }
};

Scene& scene() {
  static Scene made;
  return made;
}

// Polls a getter from its own connection while it runs, and keeps the
// longest gap between two replies.
class Poller {
 public:
  explicit Poller(std::uint16_t port)
      : connection_("127.0.0.1", port, Transport::Tcp, std::chrono::seconds(600)) {
    tagged_ = TaggedValue::create(connection_, RepositoryRef{connection_.repository()});
    TaggedValue::set_tag(connection_, tagged_, "polled");
    thread_ = std::thread([this] { poll(); });
    while (!started_) std::this_thread::yield();
  }
  ~Poller() { stop(); }
  Seconds stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    return longest_;
  }

 private:
  void poll() {
    auto last = Clock::now();
    started_ = true;
    while (running_) {
      TaggedValue::get_tag(connection_, tagged_);
      const auto now = Clock::now();
      longest_ = std::max<Seconds>(longest_, now - last);
      last = now;
    }
  }

  Connection connection_;
  TaggedValueRef tagged_;
  std::atomic<bool> started_{false}, running_{true};
  Seconds longest_{0};
  std::thread thread_;
};

// The server measured: this build's qovixd, or QOVIX_STALL_QOVIXD (another
// build's, to compare).
std::string serverExecutable() {
  const char* set = std::getenv("QOVIX_STALL_QOVIXD");
  return set != nullptr ? set : QOVIXD_PATH;
}

// A fresh qovixd on the scene's repository file, and a client of it.
struct Served {
  ServerProcess server{
      {"--store", scene().store.string(), "--documents", scene().documents.string()},
      serverExecutable()};
  Connection connection{"127.0.0.1", server.port(), Transport::Tcp, std::chrono::seconds(600)};
  RepositoryRef repository{connection.repository()};

  template <class Made>
  auto named(const std::string& name) {
    const auto found = ModelElement::find(connection, repository, "name", name, 1);
    if (connection.size(found.handle) < 1) throw std::runtime_error("no element " + name);
    return Made::cast(connection, AnyRef(connection.element(found.handle, 0)), true);
  }
  long residentKilobytes() { return residentMemory(server.pid()).kilobytes; }
};

struct Stall {
  double seconds;
  double keptMiB;
};

// Runs `call` on a fresh server while another client polls it.
Stall measure(const std::function<void(Served&)>& prepare,
              const std::function<void(Served&)>& call) {
  Served served;
  if (prepare) prepare(served);
  const long before = served.residentKilobytes();
  Poller poller(served.server.port());
  call(served);
  const Seconds stall = poller.stop();
  return {stall.count(), static_cast<double>(served.residentKilobytes() - before) / 1024.0};
}

double baselineStall() {
  static const double measured = measure(nullptr, [](Served& served) {
                                   Class::find(served.connection, served.repository, 1);
                                 }).seconds;
  return measured;
}

void report(benchmark::State& state, const Stall& stall, std::size_t elements) {
  state.SetIterationTime(stall.seconds);
  state.counters["stall_s"] = stall.seconds;
  state.counters["per_100k_s"] = stall.seconds * 100000.0 / static_cast<double>(elements);
  state.counters["vs_find"] = stall.seconds / baselineStall();
  state.counters["rss_kept_MiB"] = stall.keptMiB;
}

// The model is read in once, part by part, measured as the first benchmark:
// the longest stall of the parts' imports.
void XmiImport(benchmark::State& state) {
  for (auto _ : state) {
    std::filesystem::remove(scene().store);
    Stall longest{0, 0};
    for (const char* part : {"Part0.xmi", "Part1.xmi", "wide.xmi"}) {
      const Stall stall = measure(
          [](Served& served) {
            const auto found =
                ModelElement::find(served.connection, served.repository, "name", "Big", 1);
            if (served.connection.size(found.handle) > 0) return;
            const PackageRef big = Package::create(served.connection, served.repository);
            ModelElement::set_name(served.connection,
                                   ModelElement::cast(served.connection, big, true), "Big");
          },
          [part](Served& served) {
            Package::internalize(served.connection, served.named<Package>("Big"), "xmi into", part);
          });
      longest.seconds = std::max(longest.seconds, stall.seconds);
      longest.keptMiB = std::max(longest.keptMiB, stall.keptMiB);
    }
    report(state, longest, scene().partClasses());
  }
}

void FindEveryClass(benchmark::State& state) {
  for (auto _ : state) {
    report(state, {baselineStall(), 0}, scene().classes);
  }
}

void XmiExport(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      Package::externalize(served.connection, served.named<Package>("Big"), "xmi", "out.xmi");
    });
    report(state, stall, scene().elements());
  }
}

void DocumentExport(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      Package::externalize(served.connection, served.named<Package>("Big"), "qovix", "big.qovix");
    });
    report(state, stall, scene().elements());
  }
}

// Reads back one part (a call makes at most 100,000 objects).
void DocumentImport(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(
        [](Served& served) {
          Package::externalize(served.connection, served.named<Package>("Part0"), "qovix",
                               "part.qovix");
        },
        [](Served& served) {
          Package::internalize(served.connection, served.named<Package>("Big"), "qovix",
                               "part.qovix");
        });
    report(state, stall, scene().partClasses());
  }
}

void CopyModel(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      const PackageRef into = Package::create(served.connection, served.repository);
      Package::copyModel(served.connection, served.named<Package>("Part0"),
                         Namespace::cast(served.connection, into, true));
    });
    report(state, stall, scene().partClasses());
  }
}

void WellFormedness(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      Classifier::checkWellFormedness(served.connection, served.named<Classifier>("Wide"));
    });
    report(state, stall, scene().wideOperations());
  }
}

void AllContents(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      Namespace::allContents(
          served.connection,
          Namespace::cast(served.connection, served.named<Package>("Part0"), true));
    });
    report(state, stall, scene().partClasses());
  }
}

void XmiImportOfSkippedElements(benchmark::State& state) {
  for (auto _ : state) {
    const Stall stall = measure(nullptr, [](Served& served) {
      try {
        Package::internalize(served.connection,
                             Package::create(served.connection, served.repository), "xmi",
                             "unknown.xmi");
      } catch (const Error&) {
        // a document of nothing but unknown elements may be refused: its stall counts
      }
    });
    report(state, stall, scene().skippedElements());
  }
}

// In this order: the import makes the model the others work on, and the
// document export writes what the document import reads.
BENCHMARK(XmiImport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(FindEveryClass)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(XmiExport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DocumentExport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(DocumentImport)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(CopyModel)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(WellFormedness)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(AllContents)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(XmiImportOfSkippedElements)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
