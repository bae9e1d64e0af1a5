// Importing and exporting a large model on qovixd's repository file,
// against the floor this benchmark measures in the same run: libxml2
// reading the same document and doing nothing with it.
//
// The documents are generated, one model in two formats: packages of 100
// classes, each with three attributes, an operation with a parameter and a
// generalization, of QOVIX_IMPORT_BENCH_ELEMENTS elements (default
// 1,000,000: about 92 MB as XMI 1.2, 90 MB as UML 2.5). The XMI 1.2 one is
// imported with --history all and none, the UML 2.5 one with --history all;
// then the model is exported as XMI 1.2 and as XMI 2.5. Each reports
// elements a second, the time over the floor's (for an export, libxml2
// reading what it wrote), and qovixd's peak resident memory over the
// document's size: for an import the whole process's, for an export what it
// added to the peak.
//
//   build/bench/qovix_import_bench
//   QOVIX_IMPORT_BENCH_ELEMENTS=200000 build/bench/qovix_import_bench

#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
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

// The same model as UML 2.5 in XMI 2.5.1, as today's tools write it.
std::size_t writeUml25Document(const std::filesystem::path& path, std::size_t wanted) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<xmi:XMI xmlns:xmi=\"http://www.omg.org/spec/XMI/20131001\" "
         "xmlns:uml=\"http://www.omg.org/spec/UML/20161101\">\n"
         "<uml:Model xmi:type=\"uml:Model\" xmi:id=\"m\" name=\"Large\">\n"
         "<packagedElement xmi:type=\"uml:DataType\" xmi:id=\"t\" name=\"int\"/>\n";
  std::size_t count = 2;
  for (std::size_t package = 0; count < wanted; ++package) {
    out << "<packagedElement xmi:type=\"uml:Package\" xmi:id=\"p" << package << "\" name=\"package"
        << package << "\">\n";
    ++count;
    for (int c = 0; c < 100 && count < wanted; ++c) {
      const std::string id =
          std::string("c").append(std::to_string(package)).append("_").append(std::to_string(c));
      out << "<packagedElement xmi:type=\"uml:Class\" xmi:id=\"" << id << "\" name=\"Class"
          << package << "_" << c << "\" visibility=\"public\">";
      for (int a = 0; a < 3; ++a) {
        out << "<ownedAttribute xmi:type=\"uml:Property\" xmi:id=\"" << id << "a" << a
            << "\" name=\"attribute" << a << "\" visibility=\"private\" type=\"t\"/>";
      }
      out << "<ownedOperation xmi:type=\"uml:Operation\" xmi:id=\"" << id
          << "o\" name=\"operation\"><ownedParameter xmi:type=\"uml:Parameter\" xmi:id=\"" << id
          << "p\" name=\"x\" direction=\"in\" type=\"t\"/></ownedOperation>";
      count += 6;
      if (c > 0) {
        out << "<generalization xmi:type=\"uml:Generalization\" xmi:id=\"g" << id
            << "\" general=\"c" << package << "_0\"/>";
        ++count;
      }
      out << "</packagedElement>\n";
    }
    out << "</packagedElement>\n";
  }
  out << "</uml:Model>\n</xmi:XMI>\n";
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

// Sets the process's peak resident memory back to what it holds now.
void resetPeak(pid_t pid) {
  std::ofstream(std::string("/proc/").append(std::to_string(pid)).append("/clear_refs")) << "5";
}

struct Document {
  TemporaryFolder folder;
  std::size_t elements = 0;
  std::map<std::string, double> bytes;  // by document name
  std::map<std::string, double> parse;
};

Document* document = nullptr;

ServerProcess serve(const TemporaryFolder& store, const std::string& history) {
  return ServerProcess({"--store", (store.path() / "repository.sqlite3").string(), "--documents",
                        document->folder.path().string(), "--history", history,
                        "--max-document-mib", "4096"});
}

void import(benchmark::State& state, const std::string& name, const std::string& history) {
  for (auto _ : state) {
    TemporaryFolder store;
    ServerProcess server = serve(store, history);
    Connection connection("127.0.0.1", server.port(), TlsOptions{}, std::chrono::hours(1));
    const auto started = Clock::now();
    const qovix::Outcome imported = connection.importDocument(name, 0, "");
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
    state.counters["x parse"] = seconds / document->parse.at(name);
    state.counters["peak MiB"] = peakBytes(server.pid()) / (1 << 20);
    state.counters["peak/document"] = peakBytes(server.pid()) / document->bytes.at(name);
  }
}

// The model, read from the XMI 1.2 document, written out in `format`.
void exportAs(benchmark::State& state, const std::string& format) {
  for (auto _ : state) {
    TemporaryFolder store;
    ServerProcess server = serve(store, "all");
    Connection connection("127.0.0.1", server.port(), TlsOptions{}, std::chrono::hours(1));
    const qovix::Outcome imported = connection.importDocument("large.xmi", 0, "");
    if (imported.value == 0) {
      state.SkipWithError(imported.text.c_str());
      return;
    }
    resetPeak(server.pid());
    const double before = peakBytes(server.pid());
    const auto started = Clock::now();
    const qovix::Outcome exported =
        connection.exportDocument(static_cast<std::uint32_t>(imported.value), format, "out.xmi");
    const double seconds = secondsOf(started);
    if (exported.value == 0) {
      state.SkipWithError(exported.text.c_str());
      return;
    }
    const auto written = static_cast<double>(exported.value);
    const double floor = parseSeconds(document->folder.path() / "out.xmi");
    state.counters["elements/s"] = static_cast<double>(document->elements) / seconds;
    state.counters["x parse"] = seconds / floor;
    state.counters["MB"] = written / 1e6;
    state.counters["peak added MiB"] = (peakBytes(server.pid()) - before) / (1 << 20);
    state.counters["added/document"] = (peakBytes(server.pid()) - before) / written;
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  Document made;
  made.elements = writeDocument(made.folder.path() / "large.xmi", elementsWanted());
  writeUml25Document(made.folder.path() / "large.uml", elementsWanted());
  for (const char* name : {"large.xmi", "large.uml"}) {
    made.bytes[name] = static_cast<double>(std::filesystem::file_size(made.folder.path() / name));
    made.parse[name] = parseSeconds(made.folder.path() / name);
  }
  document = &made;
  for (const char* name : {"large.xmi", "large.uml"}) {
    benchmark::RegisterBenchmark(
        std::string("libxml2 reads ").append(name).append(" (the floor)").c_str(),
        [name](benchmark::State& state) {
          for (auto _ : state) {
            state.counters["MB"] = document->bytes.at(name) / 1e6;
            state.counters["seconds"] = parseSeconds(document->folder.path() / name);
          }
        })
        ->Iterations(1)
        ->UseRealTime();
  }
  for (const char* history : {"all", "none"}) {
    benchmark::RegisterBenchmark(
        std::string("import XMI 1.2, --history ").append(history).c_str(),
        [history](benchmark::State& state) { import(state, "large.xmi", history); })
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::RegisterBenchmark("import UML 2.5, --history all",
                               [](benchmark::State& state) { import(state, "large.uml", "all"); })
      ->Iterations(1)
      ->UseRealTime();
  for (const char* format : {"xmi", "xmi 2.5"}) {
    benchmark::RegisterBenchmark(std::string("export ").append(format).c_str(),
                                 [format](benchmark::State& state) { exportAs(state, format); })
        ->Iterations(1)
        ->UseRealTime();
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
