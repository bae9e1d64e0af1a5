// qovixd serving the real libQOVIX_os.so, over TCP and UDP on loopback.

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "qovix_protocol.h"
#include "tests/support/rpc_client.h"
#include "tests/support/server_process.h"

namespace {

using namespace qovix::protocol;

const Transport kTransports[] = {Transport::Tcp, Transport::Udp};

class Qovixd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server = std::make_unique<ServerProcess>(); }
  static void TearDownTestSuite() {
    EXPECT_EQ(server->stop(SIGTERM), 0);
    server.reset();
  }
  static std::unique_ptr<ServerProcess> server;
};
std::unique_ptr<ServerProcess> Qovixd::server;

TEST_F(Qovixd, ClassesOutside1To97AreUnreachable) {
  for (Transport transport : kTransports) {
    for (std::uint32_t classNumber : {0u, 98u}) {
      RpcClient client(transport, server->port(), kModelProgram, classNumber);
      const CallOutcome outcome = client.call(1);
      EXPECT_EQ(outcome.status, RPC_PROGVERSMISMATCH) << toString(transport);
      EXPECT_EQ(outcome.error.re_vers.low, 1u);
      EXPECT_EQ(outcome.error.re_vers.high, 97u);
    }
  }
}

TEST_F(Qovixd, ProcedureZeroAndAboveTheHighestAreUnavailable) {
  for (Transport transport : kTransports) {
    RpcClient element(transport, server->port(), kModelProgram, 1);
    EXPECT_EQ(element.call(0).status, RPC_PROCUNAVAIL) << toString(transport);
    EXPECT_EQ(element.call(11).status, RPC_PROCUNAVAIL) << toString(transport);
    RpcClient cast(transport, server->port(), kCastProgram, 97);
    EXPECT_EQ(cast.call(0).status, RPC_PROCUNAVAIL) << toString(transport);
    EXPECT_EQ(cast.call(2).status, RPC_PROCUNAVAIL) << toString(transport);
  }
}

}  // namespace
