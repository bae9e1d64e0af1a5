// qovixd killed with SIGKILL at random moments while clients write over TCP
// and UDP, and started again on the same repository file. Each client keeps
// a record of the writes the server acknowledged. After every restart each
// acknowledged write must be there, no call may be half visible (a
// `construct` names a tagged value, gives it a value and puts it in its
// owner's set: all of that or none of it), and at the end SQLite's own
// integrity check must pass.

#include <signal.h>
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "client/connection.h"
#include "client_model.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;

constexpr int kRounds = 6;
constexpr int kWriters = 4;  // half over TCP, half over UDP
// Writes per writer and round at the most: the server is killed long before
// a writer gets there, and the checks stay short.
constexpr int kMostWrites = 1000;

std::string valueFor(const std::string& tag) { return std::string("value of ").append(tag); }

// Acknowledged writes: tag → the name of the owner it was put in.
class Record {
 public:
  void add(const std::string& tag, const std::string& owner) {
    const std::lock_guard lock(mutex_);
    owners_[tag] = owner;
  }
  std::map<std::string, std::string> all() const {
    const std::lock_guard lock(mutex_);
    return owners_;
  }

 private:
  mutable std::mutex mutex_;
  std::map<std::string, std::string> owners_;
};

// Writes until the server goes away.
void write(std::uint16_t port, Transport transport, const std::string& name, Record& record) {
  try {
    Connection connection("127.0.0.1", port, transport, std::chrono::milliseconds(500));
    const RepositoryRef repository{connection.repository()};
    const ModelElementRef owner = ModelElement::create(connection, repository);
    ModelElement::set_name(connection, owner, name);
    for (int n = 0; n < kMostWrites; ++n) {
      const std::string tag = std::string(name).append("-").append(std::to_string(n));
      const TaggedValueRef tagged = TaggedValue::create(connection, repository);
      TaggedValue::construct(connection, tagged, tag, valueFor(tag), owner);
      record.add(tag, name);
      connection.release(tagged.handle);
    }
  } catch (const Error&) {
    // the server was killed
  }
}

// Every tagged value the repository holds is whole, and every acknowledged
// one is among them.
void expectEverythingAcknowledged(std::uint16_t port, const std::map<std::string, std::string>& acknowledged,
                                  int round) {
  Connection connection("127.0.0.1", port);
  const RepositoryRef repository{connection.repository()};
  const auto all = TaggedValue::find(connection, repository, 0);
  std::map<std::string, int> present;
  const std::int32_t count = connection.size(all.handle);
  for (std::int32_t i = 0; i < count; ++i) {
    const TaggedValueRef tagged{connection.element(all.handle, i)};
    const std::string tag = TaggedValue::get_tag(connection, tagged);
    if (tag.empty()) continue;  // created, never constructed
    ++present[tag];
    EXPECT_EQ(TaggedValue::get_umlValue(connection, tagged), valueFor(tag))
        << "round " << round << ": " << tag << " is half there";
    const ModelElementRef owner = TaggedValue::get_modelElement(connection, tagged);
    ASSERT_NE(owner.handle, 0u) << "round " << round << ": " << tag << " has no owner";
    EXPECT_EQ(ModelElement::contains_taggedValue(connection, owner, tagged), 1)
        << "round " << round << ": " << tag << " is not in its owner's set";
  }
  for (const auto& [tag, owner] : acknowledged) {
    EXPECT_EQ(present[tag], 1) << "round " << round << ": acknowledged " << tag << " of " << owner;
  }
}

std::string integrityOf(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* check = nullptr;
  std::string answer = "(could not check)";
  if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr) == SQLITE_OK &&
      sqlite3_step(check) == SQLITE_ROW) {
    answer = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
  }
  sqlite3_finalize(check);
  sqlite3_close(db);
  return answer;
}

TEST(Crash, AcknowledgedWritesOutliveSigkillAndNoCallIsHalfVisible) {
  const TemporaryFolder folder;
  const std::string file = (folder.path() / "repository.sqlite3").string();
  Record record;
  std::mt19937 random(std::random_device{}());
  for (int round = 0; round < kRounds; ++round) {
    ServerProcess server({"--store", file});
    expectEverythingAcknowledged(server.port(), record.all(), round);
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w) {
      writers.emplace_back(write, server.port(), w % 2 == 0 ? Transport::Tcp : Transport::Udp,
                           std::string("w").append(std::to_string(round)).append(".").append(std::to_string(w)),
                           std::ref(record));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30 + random() % 200));
    server.stop(SIGKILL);
    for (std::thread& writer : writers) writer.join();
  }
  ServerProcess server({"--store", file});
  const auto acknowledged = record.all();
  EXPECT_GT(acknowledged.size(), 100u) << "the writers hardly wrote";
  std::printf("%zu writes acknowledged in %d rounds\n", acknowledged.size(), kRounds);
  expectEverythingAcknowledged(server.port(), acknowledged, kRounds);
  EXPECT_EQ(server.stop(SIGTERM), 0) << server.standardError();
  EXPECT_EQ(integrityOf(file), "ok");
}

}  // namespace
