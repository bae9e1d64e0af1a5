// qovixd end to end, over real TCP and UDP on loopback, with the probe
// library in place of libQOVIX_os.so so every answer shows how the host
// addressed the library.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netconfig.h>
#include <poll.h>
#include <rpc/rpcb_clnt.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>

#include "qovix_protocol.h"
#include "tests/host/probe_library.h"
#include "tests/support/raw_connection.h"
#include "tests/support/rpc_client.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"
#include "xdr/primitive_filters.h"

namespace {

using namespace qovix::protocol;
using namespace std::chrono_literals;

const Transport kTransports[] = {Transport::Tcp, Transport::Udp};

class Host : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server =
        std::make_unique<ServerProcess>(std::vector<std::string>{"--library", PROBE_LIBRARY_PATH});
  }
  static void TearDownTestSuite() { server.reset(); }

  static ProbeEcho echo(Transport transport, std::uint32_t program, std::uint32_t version,
                        std::uint32_t procedure) {
    RpcClient client(transport, server->port(), program, version);
    ProbeEcho answer{};
    const CallOutcome outcome = client.call(procedure, {}, toXdrProc(&X_ProbeEcho), &answer);
    EXPECT_EQ(outcome.status, RPC_SUCCESS) << clnt_sperrno(outcome.status);
    return answer;
  }

  static std::unique_ptr<ServerProcess> server;
};
std::unique_ptr<ServerProcess> Host::server;

TEST_F(Host, ModelProgramVersionIsTheClassNumber) {
  for (Transport transport : kTransports) {
    const ProbeEcho answer = echo(transport, kModelProgram, 5, 7);
    EXPECT_EQ(answer.hostProgram, kModelProgram) << toString(transport);
    EXPECT_EQ(answer.hostVersion, 5u);
    EXPECT_EQ(answer.classNumber, 5u);
    EXPECT_EQ(answer.templateId, 0);
    EXPECT_EQ(answer.procedure, 7u);
  }
  EXPECT_EQ(echo(Transport::Tcp, kModelProgram, 1, 170).classNumber, 1u);
  EXPECT_EQ(echo(Transport::Udp, kModelProgram, 97, 0).classNumber, 97u);
}

TEST_F(Host, CastProgramCarriesTheCastTemplate) {
  for (Transport transport : kTransports) {
    const ProbeEcho answer = echo(transport, kCastProgram, 9, kCastProcedure);
    EXPECT_EQ(answer.hostProgram, kCastProgram) << toString(transport);
    EXPECT_EQ(answer.classNumber, 9u);
    EXPECT_EQ(answer.templateId, 78);
    EXPECT_EQ(answer.procedure, 1u);
  }
}

TEST_F(Host, VersionsOutsideAProgramGetTheMismatchReply) {
  struct Case {
    std::uint32_t program, version, low, high;
  };
  const Case cases[] = {{kModelProgram, 0, 1, 97},
                        {kModelProgram, 98, 1, 97},
                        {kCastProgram, 0, 1, 97},
                        {kCastProgram, 0xFFFFFFFF, 1, 97},
                        {kHostProgram, 2, 1, 1}};
  for (Transport transport : kTransports) {
    for (const Case& c : cases) {
      RpcClient client(transport, server->port(), c.program, c.version);
      const CallOutcome outcome = client.call(1);
      EXPECT_EQ(outcome.status, RPC_PROGVERSMISMATCH)
          << toString(transport) << " program " << c.program << " version " << c.version;
      EXPECT_EQ(outcome.error.re_vers.low, c.low);
      EXPECT_EQ(outcome.error.re_vers.high, c.high);
    }
  }
}

TEST_F(Host, OtherProgramsAreUnavailable) {
  for (Transport transport : kTransports) {
    RpcClient client(transport, server->port(), 0x20241003, 1);
    EXPECT_EQ(client.call(0).status, RPC_PROGUNAVAIL) << toString(transport);
  }
}

TEST_F(Host, HostProgramAnswersItsNullProcedure) {
  for (Transport transport : kTransports) {
    RpcClient client(transport, server->port(), kHostProgram, kHostVersion);
    EXPECT_EQ(client.call(kHostNull).status, RPC_SUCCESS) << toString(transport);
    EXPECT_EQ(client.call(999).status, RPC_PROCUNAVAIL) << toString(transport);
  }
}

TEST_F(Host, HostProgramNamesTheRepository) {
  InteropHandle first = 0;
  InteropHandle second = 0;
  RpcClient tcp(Transport::Tcp, server->port(), kHostProgram, kHostVersion);
  ASSERT_EQ(tcp.call(kHostRepository, {}, toXdrProc(&X_InteropHandle), &first).status, RPC_SUCCESS);
  RpcClient udp(Transport::Udp, server->port(), kHostProgram, kHostVersion);
  ASSERT_EQ(udp.call(kHostRepository, {}, toXdrProc(&X_InteropHandle), &second).status,
            RPC_SUCCESS);
  EXPECT_NE(first, 0u);
  EXPECT_EQ(first, second) << "one repository for the server's life";
}

TEST_F(Host, ExceptionFromTheLibraryIsASystemErrorAndServingGoesOn) {
  for (Transport transport : kTransports) {
    RpcClient failing(transport, server->port(), kModelProgram, kProbeThrowingClass);
    EXPECT_EQ(failing.call(3).status, RPC_SYSTEMERROR) << toString(transport);
    RpcClient failingOddly(transport, server->port(), kCastProgram, kProbeThrowingAnythingClass);
    EXPECT_EQ(failingOddly.call(1).status, RPC_SYSTEMERROR) << toString(transport);
    EXPECT_EQ(echo(transport, kModelProgram, 2, 4).classNumber, 2u);
  }
  const std::string log = server->standardError();
  EXPECT_NE(log.find("class 66 procedure 3: exception from the library: probe failure"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("class 67 procedure 1 (cast): exception from the library"), std::string::npos)
      << log;
}

TEST_F(Host, StalledHalfRecordDoesNotDelayOtherConnections) {
  RawConnection stalled(server->port());
  ASSERT_TRUE(stalled.connected());
  // A record mark promising 100 bytes, and only the first 20: the start of a
  // well-formed call, so a server that decoded as bytes came would wait.
  ASSERT_TRUE(stalled.send(words({0x80000064, 1, 0, 2, kHostProgram, kHostVersion})));

  // A server that waited for the stalled record would never answer: the
  // answer itself, within a timeout a loaded machine cannot reach, shows it.
  RpcClient other(Transport::Tcp, server->port(), kHostProgram, kHostVersion, 30s);
  EXPECT_EQ(other.call(kHostNull).status, RPC_SUCCESS);
  EXPECT_FALSE(stalled.closedByServer(100ms)) << "a slow client is not a bad one";
}

TEST_F(Host, OversizedRecordDropsOnlyThatConnection) {
  RawConnection oversized(server->port());
  ASSERT_TRUE(oversized.connected());
  // A record mark announcing 2 MiB, over the 1 MiB the server accepts, then
  // the start of a well-formed call.
  const Bytes callStart = words({1, 0, 2, kHostProgram, kHostVersion, kHostNull});
  ASSERT_TRUE(oversized.send(words({0x80200000}) + callStart));
  EXPECT_TRUE(oversized.closedByServer(3s));

  RawConnection manyFragments(server->port());
  ASSERT_TRUE(manyFragments.connected());
  // Fragments of 512 KiB each, none the last, adding up past the bound.
  const Bytes fragmentMark = words({0x00080000});
  manyFragments.send(fragmentMark + callStart + Bytes(0x80000 - callStart.size(), 0));
  for (int i = 0; i < 2; ++i) manyFragments.send(fragmentMark + Bytes(0x80000, 0));
  EXPECT_TRUE(manyFragments.closedByServer(3s));

  EXPECT_EQ(echo(Transport::Tcp, kModelProgram, 3, 3).classNumber, 3u);
}

TEST(HostLifecycle, SigtermAndSigintStopCleanlyAndUnloadTheLibrary) {
  for (int signal : {SIGTERM, SIGINT}) {
    ServerProcess server({"--library", PROBE_LIBRARY_PATH});
    {
      RpcClient connected(Transport::Tcp, server.port(), kHostProgram, kHostVersion);
      ASSERT_EQ(connected.call(kHostNull).status, RPC_SUCCESS);
      EXPECT_EQ(server.stop(signal), 0) << strsignal(signal);
    }
    EXPECT_NE(server.standardError().find(kProbeUnloadedLine), std::string::npos)
        << server.standardError();
  }
}

bool rpcbindIsRunning() {
  RawConnection portmapper(111);
  return portmapper.connected();
}

bool registeredWithRpcbind(std::uint32_t program, std::uint32_t version, const char* netid) {
  netconfig* config = getnetconfigent(netid);
  if (config == nullptr) return false;
  char buffer[128];
  netbuf address{sizeof buffer, 0, buffer};
  const bool found = rpcb_getaddr(program, version, config, &address, "127.0.0.1");
  freenetconfigent(config);
  return found;
}

TEST(HostLifecycle, RegistersWithRpcbindWhenAskedAndWithdrawsOnStop) {
  if (!rpcbindIsRunning()) GTEST_SKIP() << "no rpcbind on this machine";
  ServerProcess server({"--library", PROBE_LIBRARY_PATH, "--register"});
  for (const char* netid : {"tcp", "udp"}) {
    EXPECT_TRUE(registeredWithRpcbind(kModelProgram, 97, netid)) << netid;
    // A client that finds the server through rpcbind alone.
    CLIENT* client = clnt_create("127.0.0.1", kCastProgram, 4, netid);
    ASSERT_NE(client, nullptr) << clnt_spcreateerror(netid);
    ProbeEcho answer{};
    timeval timeout{5, 0};
    EXPECT_EQ(clnt_call(client, 1, toXdrProc(&voidFilter), nullptr, toXdrProc(&X_ProbeEcho),
                        &answer, timeout),
              RPC_SUCCESS);
    EXPECT_EQ(answer.classNumber, 4u);
    clnt_destroy(client);
  }
  EXPECT_EQ(server.stop(SIGTERM), 0);
  EXPECT_FALSE(registeredWithRpcbind(kModelProgram, 97, "tcp"));
  EXPECT_FALSE(registeredWithRpcbind(kHostProgram, kHostVersion, "udp"));
}

TEST(HostLifecycle, PortInUseIsAClearErrorNotACrashAndLeavesNoNewFile) {
  ServerProcess first({"--library", PROBE_LIBRARY_PATH});
  const TemporaryFolder folder;
  const auto startSecond = [&](const std::filesystem::path& store) {
    return runProgram(QOVIXD_PATH, {"--bind", "127.0.0.1", "--port", std::to_string(first.port()),
                                    "--library", PROBE_LIBRARY_PATH, "--store", store.string()});
  };
  const auto fresh = folder.path() / "new.sqlite3";
  const ProgramRun second = startSecond(fresh);
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("cannot serve TCP on 127.0.0.1:" + std::to_string(first.port()) +
                            ": Address already in use"),
            std::string::npos)
      << second.err;
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()))
      << "the failed start made its file and left it";

  // A repository that was there before the failed start is kept as it was.
  const auto kept = folder.path() / "kept.sqlite3";
  ServerProcess maker({"--library", PROBE_LIBRARY_PATH, "--store", kept.string()});
  ASSERT_EQ(maker.stop(SIGTERM), 0);
  EXPECT_EQ(startSecond(kept).status, 1);
  EXPECT_TRUE(std::filesystem::exists(kept));
}

TEST(HostLifecycle, DocumentFolderMustBeAFolder) {
  const ProgramRun run =
      runProgram(QOVIXD_PATH, {"--port", "0", "--library", PROBE_LIBRARY_PATH, "--store", "memory",
                               "--documents", "/nonexistent"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("--documents: '/nonexistent' is no folder"), std::string::npos) << run.err;
}

TEST(HostLifecycle, MissingLibraryIsAClearError) {
  const ProgramRun run =
      runProgram(QOVIXD_PATH, {"--port", "0", "--library", "/nonexistent/libQOVIX_os.so"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("qovixd: cannot load the library"), std::string::npos) << run.err;
}

TEST(HostCommandLine, HelpDocumentsEveryOption) {
  const ProgramRun run = runProgram(QOVIXD_PATH, {"--help"});
  EXPECT_EQ(run.status, 0);
  for (const char* option : {"--bind", "--port", "--library", "--repository-name", "--documents",
                             "--register", "--access", "--tls-cert", "--tls-key", "--tls-ca",
                             "--tls-require", "--principal-grace-seconds", "--help"}) {
    EXPECT_NE(run.out.find(option), std::string::npos) << option;
  }
}

TEST(HostCommandLine, BadUsageExitsWithTwoAndSaysWhy) {
  struct Case {
    std::vector<std::string> arguments;
    const char* message;
  };
  const Case cases[] = {
      {{"--verbose"}, "unknown option '--verbose'"},
      {{"--port"}, "option '--port' needs a value"},
      {{"--port", "65536"}, "--port needs a number from 0 to 65535, not '65536'"},
      {{"--port=-1"}, "--port needs a number from 0 to 65535, not '-1'"},
      {{"--bind", "localhost"}, "--bind needs a numeric IPv4 or IPv6 address, not 'localhost'"},
      {{"serve"}, "unexpected argument 'serve'"},
      {{"--repository-name="}, "--repository-name needs a name"},
      {{"--documents", ""}, "--documents needs a folder"},
      {{"--tls-cert", "c.pem"}, "--tls-cert and --tls-key go together"},
      {{"--tls-require"}, "--tls-require needs --tls-cert and --tls-key"},
      {{"--tls-ca", "ca.pem"}, "--tls-ca needs --tls-cert and --tls-key"},
      {{"--tls-require=yes"}, "option '--tls-require' takes no value"},
      {{"--access="}, "--access needs a file"},
  };
  for (const Case& c : cases) {
    const ProgramRun run = runProgram(QOVIXD_PATH, c.arguments);
    EXPECT_EQ(run.status, 2) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
}

}  // namespace
