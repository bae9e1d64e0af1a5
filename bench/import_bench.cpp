// Importing a large XMI document into qovixd on the repository file, against
// the floor this benchmark measures in the same run: libxml2 reading the
// same document and doing nothing with it.
//
// The document is generated: a model of packages of 100 classes, each with
// three attributes, an operation with a parameter and a generalization, of
// QOVIX_IMPORT_BENCH_ELEMENTS elements (default 1,000,000, about 92 MB).
// For --history all and none, the benchmark reports elements imported a
// second, the import's time over the floor's, and qovixd's peak resident
// memory over the document's size.
//
//   build/bench/qovix_import_bench
//   QOVIX_IMPORT_BENCH_ELEMENTS=100000 build/bench/qovix_import_bench

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "client/connection.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;
using Clock = std::chrono::steady_clock;

std::size_t elementsWanted() {
  const char* set = std::getenv("QOVIX_IMPORT_BENCH_ELEMENTS");
  return set != nullptr ? std::strtoul(set, nullptr, 10) : 1'000'000;
}

// Writes the document; answers how many elements it holds.
std::size_t writeDocument(const std::filesystem::path& path, std::size_t wanted) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\">\n"
         "<XMI.header><XMI.metamodel xmi.name=\"UML\" xmi.version=\"1.4\"/></XMI.header>\n"
         "<XMI.content><UML:Model xmi.id=\"m\" name=\"Large\"><UML:Namespace.ownedElement>\n"
         "<UML:DataType xmi.id=\"t\" name=\"int\"/>\n";
  std::size_t count = 2;
  for (std::size_t package = 0; count < wanted; ++package) {
    out << "<UML:Package xmi.id=\"p" << package << "\" name=\"package" << package
        << "\"><UML:Namespace.ownedElement>\n";
    ++count;
    for (int c = 0; c < 100 && count < wanted; ++c) {
      const std::string id =
          std::string("c").append(std::to_string(package)).append("_").append(std::to_string(c));
      out << "<UML:Class xmi.id=\"" << id << "\" name=\"Class" << package << "_" << c
          << "\" visibility=\"public\" isAbstract=\"false\"><UML:Classifier.feature>";
      for (int a = 0; a < 3; ++a) {
        out << "<UML:Attribute xmi.id=\"" << id << "a" << a << "\" name=\"attribute" << a
            << "\" visibility=\"private\" type=\"t\"/>";
      }
      out << "<UML:Operation xmi.id=\"" << id << "o\" name=\"operation\">"
          << "<UML:BehavioralFeature.parameter><UML:Parameter xmi.id=\"" << id
          << "p\" name=\"x\" kind=\"in\" type=\"t\"/></UML:BehavioralFeature.parameter>"
          << "</UML:Operation></UML:Classifier.feature></UML:Class>\n";
      count += 6;
      if (c > 0) {
        out << "<UML:Generalization xmi.id=\"g" << id << "\" child=\"" << id << "\" parent=\"c"
            << package << "_0\"/>\n";
        ++count;
      }
    }
    out << "</UML:Namespace.ownedElement></UML:Package>\n";
  }
  out << "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>\n";
  return count;
}

double secondsOf(Clock::time_point started) {
  return std::chrono::duration<double>(Clock::now() - started).count();
}

// The floor: libxml2's SAX parser reading the file, doing nothing.
double parseSeconds(const std::filesystem::path& path) {
  xmlSAXHandler nothing{};
  nothing.initialized = XML_SAX2_MAGIC;
  const auto started = Clock::now();
  xmlSAXUserParseFile(&nothing, nullptr, path.c_str());
  return secondsOf(started);
}

// A process's peak resident memory, in bytes (VmHWM).
double peakBytes(pid_t pid) {
  std::ifstream status(std::string("/proc/").append(std::to_string(pid)).append("/status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) * 1024;
  }
  return 0;
}

struct Document {
  TemporaryFolder folder;
  std::size_t elements = 0;
  double bytes = 0;
  double parse = 0;
};

Document* document = nullptr;

void import(benchmark::State& state, const std::string& history) {
  for (auto _ : state) {
    TemporaryFolder store;
    ServerProcess server({"--store", (store.path() / "repository.sqlite3").string(), "--documents",
                          document->folder.path().string(), "--history", history,
                          "--max-document-mib", "4096"});
    Connection connection("127.0.0.1", server.port(), TlsOptions{}, std::chrono::hours(1));
    const auto started = Clock::now();
    const qovix::Outcome imported = connection.importDocument("large.xmi", 0, "");
    const double seconds = secondsOf(started);
    if (imported.value == 0) {
      state.SkipWithError(imported.text.c_str());
      return;
    }
    // An import that read less than the document holds would count as fast:
    // its commit counts every object it made (those past a page's bound
    // among the objects left, all made by the import), and must count them all.
    const qovix::CommitPage made = connection.commit(connection.changes(UINT64_MAX).last);
    std::size_t created = made.objectsLeft;
    for (const qovix::WireTouched& touched : made.commits.at(0).objects) {
      created += touched.change == 0;
    }
    if (created < document->elements) {
      state.SkipWithError(("the import made " + std::to_string(created) + " objects of the " +
                           std::to_string(document->elements) + " elements")
                              .c_str());
      return;
    }
    state.counters["elements"] = static_cast<double>(document->elements);
    state.counters["elements/s"] = static_cast<double>(document->elements) / seconds;
    state.counters["x parse"] = seconds / document->parse;
    state.counters["peak MiB"] = peakBytes(server.pid()) / (1 << 20);
    state.counters["peak/document"] = peakBytes(server.pid()) / document->bytes;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Document made;
  made.elements = writeDocument(made.folder.path() / "large.xmi", elementsWanted());
  made.bytes = static_cast<double>(std::filesystem::file_size(made.folder.path() / "large.xmi"));
  made.parse = parseSeconds(made.folder.path() / "large.xmi");
  document = &made;
  benchmark::RegisterBenchmark("libxml2 reads the document (the floor)",
                               [](benchmark::State& state) {
                                 for (auto _ : state) {
                                   state.counters["MB"] = document->bytes / 1e6;
                                   state.counters["seconds"] =
                                       parseSeconds(document->folder.path() / "large.xmi");
                                 }
                               })
      ->Iterations(1)
      ->UseRealTime();
  for (const char* history : {"all", "none"}) {
    benchmark::RegisterBenchmark(std::string("import, --history ").append(history).c_str(),
                                 [history](benchmark::State& state) { import(state, history); })
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
