// qovixd with its repository file: a restart brings the model back, a
// second qovixd on the file is refused, and a full disk fails the call it
// happens in while everything committed before stays.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "client/connection.h"
#include "client_model.h"
#include "tests/support/process_memory.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;

class ServedStore : public ::testing::Test {
 protected:
  std::filesystem::path bigDocument(int classes) const;

  TemporaryFolder folder_;
  std::string file_ = (folder_.path() / "repository.sqlite3").string();
};

std::string tagOf(int n) { return std::string("t").append(std::to_string(n)); }

ModelElementRef named(Connection& connection, const std::string& name) {
  const RepositoryRef repository{connection.repository()};
  const ModelElementRef element = ModelElement::create(connection, repository);
  ModelElement::set_name(connection, element, name);
  return element;
}

ModelElementRef findNamed(Connection& connection, const std::string& name) {
  const RepositoryRef repository{connection.repository()};
  const auto found = ModelElement::find(connection, repository, "name", name, 1);
  EXPECT_EQ(connection.size(found.handle), 1) << name;
  return ModelElementRef{connection.size(found.handle) > 0 ? connection.element(found.handle, 0)
                                                           : 0};
}

// The folder `documents` beside the file, holding big.xmi: the model Big of
// `classes` classes, named by tagOf.
std::filesystem::path ServedStore::bigDocument(int classes) const {
  const std::filesystem::path documents = folder_.path() / "documents";
  std::filesystem::create_directory(documents);
  std::string model =
      "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
      "<UML:Model xmi.id=\"m\" name=\"Big\"><UML:Namespace.ownedElement>";
  for (int i = 0; i < classes; ++i) {
    model += "<UML:Class xmi.id=\"c" + std::to_string(i) + "\" name=\"" + tagOf(i) + "\"/>";
  }
  std::ofstream(documents / "big.xmi") << model << "</UML:Namespace.ownedElement></UML:Model>"
                                       << "</XMI.content></XMI>";
  return documents;
}

// qovixd checkpoints its file's log in a pause between calls, not inside a
// call: after a burst of writes and a pause, the pages are in the file.
TEST_F(ServedStore, ThePauseAfterABurstOfWritesCheckpointsTheLog) {
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  const auto before = std::filesystem::file_size(file_);
  const std::string long_name(1500, 'n');
  // About 500 pages of log: past what waits for a pause, short of what
  // SQLite would checkpoint at once.
  for (int i = 0; i < 40; ++i) named(connection, long_name + tagOf(i));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  connection.ping();
  EXPECT_GT(std::filesystem::file_size(file_), before + 20 * 4096) << "no checkpoint in the pause";
}

TEST_F(ServedStore, ARestartBringsBackObjectsValuesOrderAndObjectNumbers) {
  std::uint32_t number = 0;
  {
    ServerProcess server({"--store", file_});
    Connection connection("127.0.0.1", server.port());
    const ModelElementRef owner = named(connection, "owner");
    const ModelElementRef a = named(connection, "a"), b = named(connection, "b"),
                          c = named(connection, "c");
    ModelElement::add_templateParameter(connection, owner, a, 0);
    ModelElement::add_templateParameter(connection, owner, c, 1);
    ModelElement::add_templateParameter(connection, owner, b, 1);
    const RepositoryRef repository{connection.repository()};
    const TaggedValueRef tagged = TaggedValue::create(connection, repository);
    TaggedValue::construct(connection, tagged, "author", "ada", owner);
    number = connection.identity(owner.handle).object;
    EXPECT_EQ(server.stop(SIGTERM), 0) << server.standardError();
  }
  ServerProcess server({"--store", file_});
  EXPECT_NE(server.readyLine().find("listening"), std::string::npos);
  Connection connection("127.0.0.1", server.port());
  const ModelElementRef owner = findNamed(connection, "owner");
  EXPECT_EQ(connection.identity(owner.handle).object, number);
  std::string order;
  for (std::int32_t i = 0; i < ModelElement::size_templateParameter(connection, owner); ++i) {
    order += ModelElement::get_name(connection,
                                    ModelElement::get_templateParameter(connection, owner, i));
  }
  EXPECT_EQ(order, "abc");
  const auto values = ModelElement::get_taggedValue(connection, owner);
  ASSERT_EQ(connection.size(values.handle), 1);
  const TaggedValueRef tagged{connection.element(values.handle, 0)};
  EXPECT_EQ(TaggedValue::get_tag(connection, tagged), "author");
  EXPECT_EQ(TaggedValue::get_umlValue(connection, tagged), "ada");
}

TEST_F(ServedStore, ASecondQovixdOnTheFileIsRefusedAndSaysWhichFile) {
  ServerProcess first({"--store", file_});
  const ProgramRun second = runProgram(QOVIXD_PATH, {"--port", "0", "--store", file_});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find(std::string("'").append(file_).append("' is in use by another qovixd")),
            std::string::npos)
      << second.err;
  Connection connection("127.0.0.1", first.port());
  connection.ping();
}

// A document that fails halfway through leaves nothing it read behind.
TEST_F(ServedStore, AFailedCallLeavesNothingOfItself) {
  const std::filesystem::path documents = folder_.path() / "documents";
  std::filesystem::create_directory(documents);
  ServerProcess server({"--store", file_, "--documents", documents.string()});
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const PackageRef package = Package::create(connection, repository);
  for (int i = 0; i < 20; ++i) {
    const ClassRef made = Class::create(connection, repository);
    Class::construct(connection, made, Namespace::cast(connection, package, true), tagOf(i));
  }
  Package::externalize(connection, package, "qovix", "model");
  std::ofstream(documents / "model", std::ios::app) << "member 1 not-a-feature 2\n";
  const auto objects = [&] {
    return connection.size(Element::find(connection, repository, 1).handle);
  };
  const std::int32_t before = objects();
  try {
    Package::internalize(connection, package, "qovix", "model");
    ADD_FAILURE() << "a damaged document was read";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::SystemError) << error.what();
  }
  EXPECT_EQ(objects(), before) << "what the document held before the damage stayed";
}

// A call that cannot get a handle for what it makes fails whole: it answers
// the system error (never another object's handle) and makes nothing.
TEST_F(ServedStore, ACallThatGetsNoHandleFailsAndMakesNothing) {
  ServerProcess server({"--store", file_, "--max-handles-per-client", "4"});
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  std::vector<std::uint32_t> made;
  for (int i = 0; i < 4; ++i) made.push_back(TaggedValue::create(connection, repository).handle);
  try {
    TaggedValue::create(connection, repository);
    ADD_FAILURE() << "a fifth handle";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::SystemError) << error.what();
  }
  const std::uint32_t lastObject = connection.identity(made.back()).object;
  connection.release(made.back());
  const TaggedValueRef next = TaggedValue::create(connection, repository);
  EXPECT_EQ(connection.identity(next.handle).object, lastObject + 1) << "the failed call made none";
}

// The file may grow to 256 KiB (RLIMIT_FSIZE, a quota): a write past it
// fails the call it happens in, and never kills the server with SIGXFSZ.
TEST_F(ServedStore, AFullDiskFailsTheCallAndLosesNothingCommitted) {
  int written = 0;
  {
    ServerProcess server = fileSizeLimitedServer({"--store", file_}, 256);
    Connection connection("127.0.0.1", server.port());
    const RepositoryRef repository{connection.repository()};
    const std::string text(2000, 'x');
    try {
      for (; written < 10000; ++written) {
        const TaggedValueRef tagged = TaggedValue::create(connection, repository);
        TaggedValue::set_tag(connection, tagged, tagOf(written));
        TaggedValue::set_umlValue(connection, tagged, text);
        connection.release(tagged.handle);
      }
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::SystemError) << error.what();
    }
    ASSERT_LT(written, 10000) << "the file never filled";
    EXPECT_NE(server.standardError().find("changes were not kept"), std::string::npos)
        << server.standardError();
    connection.ping();  // still serving
    EXPECT_EQ(server.stop(SIGTERM), 0) << server.standardError();
  }
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  for (int n = 0; n < written; n += std::max(1, written / 50)) {
    const auto found = TaggedValue::find(connection, repository, "tag", tagOf(n), 0);
    ASSERT_EQ(connection.size(found.handle), 1) << "t" << n << " of " << written;
    const TaggedValueRef tagged{connection.element(found.handle, 0)};
    EXPECT_EQ(TaggedValue::get_umlValue(connection, tagged).size(), 2000u);
    connection.release(tagged.handle);
    connection.release(found.handle);
  }
}

// A large import's rows are written while it reads on: a disk that fills
// under them (past SQLite's cache, so before the commit) fails the import
// whole, as one that fills under a setter.
TEST_F(ServedStore, AFullDiskUnderALargeImportFailsItWhole) {
  const std::filesystem::path documents = bigDocument(90000);
  {
    ServerProcess server =
        fileSizeLimitedServer({"--store", file_, "--documents", documents.string()}, 1024);
    Connection connection("127.0.0.1", server.port());
    const RepositoryRef repository{connection.repository()};
    named(connection, "before");
    EXPECT_THROW(
        Package::internalize(connection, Package::create(connection, repository), "xmi", "big.xmi"),
        Error);
    connection.ping();  // still serving
    EXPECT_EQ(server.stop(SIGTERM), 0) << server.standardError();
  }
  ServerProcess server({"--store", file_});
  Connection connection("127.0.0.1", server.port());
  findNamed(connection, "before");
  const auto found =
      ModelElement::find(connection, RepositoryRef{connection.repository()}, "name", "t7", 1);
  EXPECT_EQ(connection.size(found.handle), 0) << "part of the import was kept";
}

// No call leaves qovixd holding much more memory than before it: the
// cache counts all it holds and keeps within its budget, and what a long
// call used goes back to the system.
TEST_F(ServedStore, NoCallKeepsTheMemoryItUsed) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
  const std::filesystem::path documents = bigDocument(20000);
  // A cache kept small, below what a call of this model reads.
  const std::vector<std::string> arguments{"--store", file_, "--documents", documents.string(),
                                           "--cache-mib", "8"};
  {
    ServerProcess server(arguments);
    Connection connection("127.0.0.1", server.port());
    Package::internalize(connection,
                         Package::create(connection, RepositoryRef{connection.repository()}), "xmi",
                         "big.xmi");
  }
  ServerProcess server(arguments);  // its cache cold
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const PackageRef big =
      Package::cast(connection, AnyRef(findNamed(connection, "Big").handle), true);
  const NamespaceRef into =
      Namespace::cast(connection, Package::create(connection, repository), true);
  const std::vector<std::pair<std::string, std::function<void()>>> calls = {
      {"document export", [&] { Package::externalize(connection, big, "qovix", "big.qovix"); }},
      {"XMI export", [&] { Package::externalize(connection, big, "xmi", "out.xmi"); }},
      {"copy", [&] { Package::copyModel(connection, big, into); }},
      {"document import", [&] { Package::internalize(connection, big, "qovix", "big.qovix"); }},
  };
  for (const auto& [what, call] : calls) {
    const long before = residentMemory(server.pid()).kilobytes;
    call();
    const long kept = residentMemory(server.pid()).kilobytes - before;
    EXPECT_LT(kept, 64 * 1024) << what << " kept " << kept / 1024 << " MiB";
  }
}

// An XMI import holds at most four times its document in memory at its
// peak, whatever the document holds: here a million and a half attributes,
// each of which took some 250 bytes in libxml2's own tree. (A document of
// 15 MiB is small beside what the store keeps whatever is imported; at
// 95 MB, bench/import_bench.cpp finds under three times.)
TEST_F(ServedStore, AnXmiImportPeaksWithinFourTimesItsDocument) {
  if (kUnderAddressSanitizer) GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
  const std::filesystem::path documents = folder_.path() / "documents";
  std::filesystem::create_directory(documents);
  std::string attributes;
  for (int i = 0; i < 50; ++i) attributes += " tag" + std::to_string(i) + "=\"v\"";
  std::string model =
      "<XMI xmi.version=\"1.2\" xmlns:UML=\"org.omg.xmi.namespace.UML\"><XMI.content>"
      "<UML:Model xmi.id=\"m\" name=\"Wide\"><UML:Namespace.ownedElement>\n";
  for (int i = 0; i < 30000; ++i) {
    model += "<UML:Class xmi.id=\"c" + std::to_string(i) + "\" name=\"" + tagOf(i) + "\"" +
             attributes + "/>\n";
  }
  model += "</UML:Namespace.ownedElement></UML:Model></XMI.content></XMI>\n";
  std::ofstream(documents / "wide.xmi") << model;
  ServerProcess server({"--store", file_, "--documents", documents.string()});
  Connection connection("127.0.0.1", server.port());
  const long before = residentMemory(server.pid()).kilobytes;
  Package::internalize(connection,
                       Package::create(connection, RepositoryRef{connection.repository()}), "xmi",
                       "wide.xmi");
  const long peak = residentMemory(server.pid()).peakKilobytes - before;
  std::printf("[ memory ] an import of %zu KiB peaked at %ld KiB more\n", model.size() / 1024,
              peak);
  EXPECT_LT(peak * 1024, 4 * static_cast<long>(model.size()))
      << "peak " << peak / 1024 << " MiB for " << model.size() / 1024 / 1024 << " MiB";
}

}  // namespace
