// Several client processes at once against one qovixd, over TCP and UDP:
// each checks every answer against what it wrote (qovix_load_client), and
// afterwards the repository must hold exactly the objects, values and set
// members the clients report, and no handle more than they still hold.
// QOVIX_LOAD_OPERATIONS sets the operations per client (a longer soak).

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client/connection.h"
#include "client_model.h"
#include "tests/support/process_memory.h"
#include "tests/support/server_process.h"

namespace {

using namespace qovix::client;

constexpr int kClients = 6;  // half over TCP, half over UDP

int operationsPerClient() {
  const char* configured = std::getenv("QOVIX_LOAD_OPERATIONS");
  return configured != nullptr ? std::atoi(configured) : 2500;
}

// What one client says it wrote.
struct Written {
  std::map<std::string, std::string> values;  // tag → value
  std::set<std::string> ownerMembers;         // tags in its owner's set
  std::string ownerName;
  std::size_t held = 0;
  std::uint64_t calls = 0;
};

Written parse(const std::string& output) {
  Written written;
  std::istringstream lines(output);
  for (std::string kind; lines >> kind;) {
    if (kind == "tagged") {
      std::string tag, value;
      int inOwner = 0;
      lines >> tag >> value >> inOwner;
      written.values[tag] = value;
      if (inOwner != 0) written.ownerMembers.insert(tag);
    } else if (kind == "owner") {
      std::size_t members = 0;
      lines >> written.ownerName >> members;
    } else if (kind == "held") {
      lines >> written.held;
    } else if (kind == "calls") {
      lines >> written.calls;
    }
  }
  return written;
}

TEST(Load, ClientsOverTcpAndUdpFindExactlyWhatTheyWrote) {
  ServerProcess server;
  Connection checker("127.0.0.1", server.port());
  const RepositoryRef repository{checker.repository()};
  const std::int32_t handlesBefore = checker.handleCount();
  const int operations = operationsPerClient();

  std::vector<ProgramRun> runs(kClients);
  std::vector<std::thread> clients;
  const auto started = std::chrono::steady_clock::now();
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back([&, client] {
      runs[client] = runProgram(
          QOVIX_LOAD_CLIENT_PATH,
          {std::to_string(server.port()), client % 2 == 0 ? "tcp" : "udp", std::to_string(client),
           std::to_string(operations), std::to_string(20241 + client)},
          std::chrono::minutes(10));
    });
  }
  for (std::thread& client : clients) client.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  std::vector<Written> written;
  std::uint64_t calls = 0;
  std::size_t held = 0;
  for (int client = 0; client < kClients; ++client) {
    ASSERT_EQ(runs[client].status, 0) << "client " << client << ": " << runs[client].err;
    written.push_back(parse(runs[client].out));
    calls += written.back().calls;
    held += written.back().held;
  }
  const ResidentMemory memory = residentMemory(server.pid());
  std::printf(
      "[ load     ] %d clients (3 tcp, 3 udp), %llu calls in %.1f s: %.0f calls/s; "
      "qovixd resident peak %ld kB, after %ld kB\n",
      kClients, static_cast<unsigned long long>(calls), seconds,
      static_cast<double>(calls) / seconds, memory.peakKilobytes, memory.kilobytes);

  // Every tagged value in the repository, with its value, is one a client
  // wrote, and every one a client wrote is there.
  std::map<std::string, std::string> expected;
  for (const Written& client : written) expected.insert(client.values.begin(), client.values.end());
  std::map<std::string, std::string> found;
  const auto all = TaggedValue::find(checker, repository, 0);
  for (std::int32_t i = 0; i < checker.size(all.handle); ++i) {
    const TaggedValueRef element{checker.element(all.handle, i)};
    found[TaggedValue::get_tag(checker, element)] = TaggedValue::get_umlValue(checker, element);
    checker.release(element.handle);
  }
  checker.release(all.handle);
  EXPECT_EQ(found.size(), expected.size());
  EXPECT_TRUE(found == expected) << "the repository differs from what the clients wrote";

  // Each owner's set holds exactly the members its client left in it.
  for (const Written& client : written) {
    const auto owners = ModelElement::find_myName(checker, repository, client.ownerName);
    ASSERT_EQ(checker.size(owners.handle), 1) << client.ownerName;
    const ModelElementRef owner{checker.element(owners.handle, 0)};
    const auto members = ModelElement::get_taggedValue(checker, owner);
    std::set<std::string> tags;
    for (std::int32_t i = 0; i < checker.size(members.handle); ++i) {
      const TaggedValueRef member{checker.element(members.handle, i)};
      tags.insert(TaggedValue::get_tag(checker, member));
      checker.release(member.handle);
    }
    EXPECT_EQ(tags, client.ownerMembers) << client.ownerName;
    for (std::uint32_t handle : {members.handle, owner.handle, owners.handle}) {
      checker.release(handle);
    }
  }

  // No handle leaked: the server holds exactly those the clients kept.
  EXPECT_EQ(checker.handleCount(), handlesBefore + static_cast<std::int32_t>(held));
}

}  // namespace
