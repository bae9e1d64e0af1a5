// The client library and qovix over RPC-with-TLS, against a qovixd that
// requires it from clients with a certificate of its CA.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "client_model.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;

class OverTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder = std::make_unique<TemporaryFolder>();
    const ProgramRun made =
        runProgram("/usr/bin/env", {"python3", MAKE_CERTIFICATES_PATH, folder->path().string()},
                   std::chrono::seconds(60));
    ASSERT_EQ(made.status, 0) << made.err;
    const ProgramRun access = runProgram(
        "/bin/sh", {"-c", "printf 'write CN=alice,O=Modelling\\nread CN=bob,O=Modelling\\n' > " +
                              file("access")});
    ASSERT_EQ(access.status, 0);
    std::filesystem::create_directory(folder->path() / "documents");
    server = std::make_unique<ServerProcess>(std::vector<std::string>{
        "--tls-cert", file("server.pem"), "--tls-key", file("server-key.pem"), "--tls-ca",
        file("ca.pem"), "--tls-require", "--access", file("access"), "--documents",
        file("documents")});
  }
  static void TearDownTestSuite() {
    server.reset();
    folder.reset();
  }
  static std::string file(const std::string& name) { return (folder->path() / name).string(); }
  static TlsOptions as(const std::string& who) {
    return {true, file("ca.pem"), file(who + ".pem"), file(who + "-key.pem")};
  }
  static ErrorKind failure(const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& error) {
      return error.kind();
    }
    return ErrorKind::Other;
  }

  static std::unique_ptr<TemporaryFolder> folder;
  static std::unique_ptr<ServerProcess> server;
};
std::unique_ptr<TemporaryFolder> OverTls::folder;
std::unique_ptr<ServerProcess> OverTls::server;

TEST_F(OverTls, TypedCallsTravelInsideTlsAndOnlyTheCertifiedGetIn) {
  Connection alice("127.0.0.1", server->port(), as("alice"));
  const TaggedValueRef tagged = TaggedValue::create(alice, RepositoryRef{alice.repository()});
  TaggedValue::set_tag(alice, tagged, "over TLS");
  EXPECT_EQ(TaggedValue::get_tag(alice, tagged), "over TLS");

  Connection bob("127.0.0.1", server->port(), as("bob"));
  EXPECT_EQ(failure([&] { TaggedValue::create(bob, RepositoryRef{bob.repository()}); }),
            ErrorKind::AccessDenied);
  EXPECT_EQ(failure([&] { TaggedValue::get_tag(bob, tagged); }), ErrorKind::AccessDenied)
      << "alice's handle is not bob's";
  try {
    TaggedValue::set_tag(bob, tagged, "by bob");
    ADD_FAILURE() << "a reader wrote";
  } catch (const Error& error) {
    EXPECT_EQ(std::string(error.what()).rfind("TaggedValue.set_tag: refused", 0), 0u)
        << error.what();
  }
  EXPECT_EQ(failure([&] { Connection("127.0.0.1", server->port()); }), ErrorKind::AccessDenied);
  for (const char* who : {"stranger", "expired", "future"}) {
    EXPECT_EQ(failure([&] { Connection("127.0.0.1", server->port(), as(who)); }),
              ErrorKind::CannotConnect)
        << who;
  }
  EXPECT_EQ(
      failure([&] {
        Connection("127.0.0.1", server->port(), TlsOptions{true, file("other-ca.pem"), "", ""});
      }),
      ErrorKind::CannotConnect)
      << "a server its CA did not sign";
}

TEST_F(OverTls, QovixTakesTlsOptions) {
  const std::string port = std::to_string(server->port());
  const ProgramRun made =
      runProgram(QOVIX_TOOL_PATH, {"--port", port, "--ca", file("ca.pem"), "--cert",
                                   file("alice.pem"), "--key", file("alice-key.pem"), "demo"});
  EXPECT_EQ(made.status, 0) << made.err;
  const ProgramRun plain = runProgram(QOVIX_TOOL_PATH, {"--port", port, "tree"});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.err.find("requires TLS"), std::string::npos) << plain.err;
  EXPECT_EQ(runProgram(QOVIX_TOOL_PATH, {"--tls", "--udp", "tree"}).status, 2);

  // A document on the client's machine travels inside TLS; only a writer
  // may send one.
  const std::string model = std::string(QOVIX_XMI_SAMPLES) + "/uml13_xmi11_rose_style.xmi";
  const ProgramRun imported = runProgram(
      QOVIX_TOOL_PATH, {"--port", port, "--ca", file("ca.pem"), "--cert", file("alice.pem"),
                        "--key", file("alice-key.pem"), "import", model});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_NE(imported.out.find("imported Model 'Orders'"), std::string::npos) << imported.out;
  Connection bob("127.0.0.1", server->port(), as("bob"));
  EXPECT_EQ(failure([&] { bob.upload("x.xmi", 0, "x", true); }), ErrorKind::AccessDenied);
  EXPECT_FALSE(std::filesystem::exists(folder->path() / "documents" / "x.xmi"));
}

}  // namespace
