// qovixd's TCP connections: records as large as the bound in any number of
// fragments, a cap on open connections and the closing of idle ones, so that
// thousands of clients that connect and go quiet cannot lock out one that
// works.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "client/procedure_listing.h"
#include "model_values.h"
#include "qovix_protocol.h"
#include "tests/support/process_memory.h"
#include "tests/support/raw_connection.h"
#include "tests/support/remote_calls.h"
#include "tests/support/rpc_client.h"
#include "tests/support/server_process.h"
#include "utf/utf.h"
#include "xdr/primitive_filters.h"

namespace {

using namespace qovix::protocol;
using namespace std::chrono_literals;

constexpr std::uint32_t kModelElementClass = 3;
const std::string kSetName = "QOVIXModelElement_QOVIXModelElementset_name_0";
const std::string kGetName = "QOVIXModelElement_QOVIXModelElementget_name_0";

std::size_t openDescriptors(pid_t pid) {
  std::size_t count = 0;
  for ([[maybe_unused]] const auto& entry :
       std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    ++count;
  }
  return count;
}

rlim_t setSoftDescriptorLimit(rlim_t wanted) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = std::min(wanted, limit.rlim_max);
  setrlimit(RLIMIT_NOFILE, &limit);
  return limit.rlim_cur;
}

bool hostNullAnswers(RpcClient& client) { return client.call(kHostNull).status == RPC_SUCCESS; }

TEST(Connections, CallsAndRepliesUpToTheRecordBoundInAnyFragments) {
  ServerProcess server;
  RemoteCalls remote(server.port());
  const InteropHandle model = remote.handle("QOVIXModel_create_1", words({remote.repository()}));
  const InteropHandle element = handleOf(remote.cast(kModelElementClass, model, 1));

  // The longest text a value holds, 131,072 units, is 524,288 bytes; the
  // runtime's client sends them in fragments of 64 KiB, and the reply comes
  // back as one record.
  const std::u16string large(utf::kMostTextUnits, u'a');
  ASSERT_EQ(
      remote.call(kSetName, words({element}) + textValue(QOVIXName::kValueClassId, large)).status,
      ReplyStatus::Success);
  EXPECT_EQ(remote.text(kGetName, words({element})), large);

  // The same size in 997-byte fragments, from a client of our own.
  const std::u16string other(utf::kMostTextUnits, u'b');
  RawConnection raw(server.port());
  ASSERT_TRUE(raw.send(recordMarked(
      callMessage(77, kModelProgram, kModelElementClass, findProcedureByLabel(kSetName)->number,
                  words({element}) + textValue(QOVIXName::kValueClassId, other)),
      997)));
  const auto reply = raw.receiveRecord(10s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(*reply, words({77, 1, 0, 0, 0, 0})) << "xid, reply, accepted, no verifier, success";
  EXPECT_EQ(remote.text(kGetName, words({element})), other);
}

TEST(Connections, ThousandsOfIdleConnectionsDoNotLockOutAWorkingClient) {
  // qovixd starts with the usual soft limit of 1024 descriptors and must
  // raise it itself to hold the 1500 connections it is allowed.
  setSoftDescriptorLimit(1024);
  constexpr std::size_t kCap = 1500;
  ServerProcess server({"--max-connections", std::to_string(kCap)});
  const std::size_t atStart = openDescriptors(server.pid());
  const long residentAtStart = residentMemory(server.pid()).kilobytes;
  const std::size_t kIdle = std::min<std::size_t>(4000, setSoftDescriptorLimit(5000) - 100);
  ASSERT_GT(kIdle, kCap + 500) << "the test needs more descriptors than the cap";

  RpcClient working(Transport::Tcp, server.port(), kHostProgram, kHostVersion, 3s);
  std::vector<std::unique_ptr<RawConnection>> idle;
  std::size_t peak = 0;
  for (std::size_t i = 0; i < kIdle; ++i) {
    idle.push_back(std::make_unique<RawConnection>(server.port()));
    ASSERT_TRUE(idle.back()->connected()) << "connection " << i;
    if (i % 250 == 0) {
      ASSERT_TRUE(hostNullAnswers(working)) << "after " << i << " idle connections";
      RpcClient newcomer(Transport::Tcp, server.port(), kHostProgram, kHostVersion, 3s);
      ASSERT_TRUE(hostNullAnswers(newcomer)) << "a new client after " << i;
      peak = std::max(peak, openDescriptors(server.pid()));
    }
  }
  EXPECT_TRUE(hostNullAnswers(working)) << "the working client kept its connection";
  EXPECT_TRUE(idle.front()->closedByServer(3s)) << "the least recently active went first";
  EXPECT_FALSE(idle.back()->closedByServer(100ms)) << "the newest are kept";
  peak = std::max(peak, openDescriptors(server.pid()));
  EXPECT_GT(peak, 1024u) << "qovixd raised its own descriptor limit";
  // The server may be caught between accepting a connection and closing the
  // least recently active one.
  EXPECT_LE(peak, atStart + kCap + 1) << "no more connections than the cap";

  // Once the clients hang up, the server gives back what the connections took.
  idle.clear();
  const auto hungUp = std::chrono::steady_clock::now();
  while (openDescriptors(server.pid()) > atStart + 1 &&
         std::chrono::steady_clock::now() - hungUp < 10s) {
    ASSERT_TRUE(hostNullAnswers(working));
  }
  EXPECT_EQ(openDescriptors(server.pid()), atStart + 1) << "the working client's connection only";
  const ResidentMemory memory = residentMemory(server.pid());
  if (!kUnderAddressSanitizer) {
    EXPECT_LT(memory.kilobytes, residentAtStart + 16 * 1024);
  }
  std::printf(
      "[ idle     ] %zu idle connections; qovixd held at most %zu descriptors; resident "
      "%ld kB at start, peak %ld kB, %ld kB after\n",
      kIdle, peak, residentAtStart, memory.peakKilobytes, memory.kilobytes);
}

// Under a low descriptor limit the server keeps as many connections as the
// limit leaves room for, not one: 40 clients calling in turn are all served,
// each on the connection it opened.
TEST(Connections, ALowDescriptorLimitStillServesManyClients) {
  ServerProcess server(
      {"--store", "memory"}, "/bin/sh",
      {"-c", std::string("ulimit -n 64; exec ").append(QOVIXD_PATH).append(" \"$@\""), "qovixd"});
  std::vector<std::unique_ptr<RpcClient>> clients;
  for (int i = 0; i < 40; ++i) {
    clients.push_back(
        std::make_unique<RpcClient>(Transport::Tcp, server.port(), kHostProgram, kHostVersion, 3s));
    ASSERT_TRUE(hostNullAnswers(*clients.back())) << "client " << i;
  }
  for (std::size_t i = 0; i < clients.size(); ++i) {
    EXPECT_TRUE(hostNullAnswers(*clients[i])) << "client " << i << " lost its connection";
  }
  EXPECT_EQ(server.standardError().find("allows 1 connections"), std::string::npos);
}

TEST(Connections, IdleConnectionsAreClosedAndWorkingOnesKept) {
  ServerProcess server({"--idle-seconds", "1"});
  const std::size_t atStart = openDescriptors(server.pid());
  std::vector<std::unique_ptr<RawConnection>> idle;
  for (int i = 0; i < 50; ++i) idle.push_back(std::make_unique<RawConnection>(server.port()));
  idle.front()->send(words({0x80000100, 1, 0}));  // a record begun and never finished

  // The working client calls without pause until every idle connection is
  // closed: it is never a second without a call, however slow the machine.
  RpcClient working(Transport::Tcp, server.port(), kHostProgram, kHostVersion, 30s);
  std::vector<bool> closed(idle.size(), false);
  std::size_t closedCount = 0;
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  while (closedCount < idle.size() && std::chrono::steady_clock::now() < deadline) {
    ASSERT_TRUE(hostNullAnswers(working));
    for (std::size_t i = 0; i < idle.size(); ++i) {
      if (!closed[i] && idle[i]->closedByServer(0ms)) {
        closed[i] = true;
        ++closedCount;
      }
    }
  }
  EXPECT_EQ(closedCount, idle.size()) << "idle connections left open";
  EXPECT_TRUE(hostNullAnswers(working)) << "a client that keeps calling is never idle";
  EXPECT_EQ(openDescriptors(server.pid()), atStart + 1) << "the working client's connection only";
}

}  // namespace
