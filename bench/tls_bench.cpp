// RPC-with-TLS against plain TCP, on one qovixd in one run: calls per
// second for a getter and a setter over each (interleaved in rounds, so
// both see the same machine), and what making a connection costs: a plain
// one (a null call) against a TLS one (the probe, a TLS 1.3 handshake with
// a client certificate, and a null call). Certificates are made for the
// run with certtool.
//
//   build/bench/qovix_tls_bench [SECONDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "client_model.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;
using Clock = std::chrono::steady_clock;

// Runs `operation` for about `seconds`; operations per second.
double rate(const std::function<void()>& operation, double seconds) {
  long done = 0;
  const auto start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    for (int i = 0; i < 50; ++i) operation();
    done += 50;
  }
  return static_cast<double>(done) / std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  TemporaryFolder folder;
  const std::string path = folder.path().string();
  if (runProgram("/usr/bin/env", {"python3", MAKE_CERTIFICATES_PATH, path},
                 std::chrono::seconds(60)).status != 0) {
    std::fprintf(stderr, "cannot make the certificates (needs certtool: gnutls-bin)\n");
    return 1;
  }
  ServerProcess server({"--tls-cert", path + "/server.pem", "--tls-key", path + "/server-key.pem",
                        "--tls-ca", path + "/ca.pem"});
  const TlsOptions tls{true, path + "/ca.pem", path + "/alice.pem", path + "/alice-key.pem"};
  Connection plain("127.0.0.1", server.port());
  Connection secure("127.0.0.1", server.port(), tls);
  struct Side {
    Connection& connection;
    TaggedValueRef tagged;
    double get = 0;
    double set = 0;
  };
  Side sides[] = {{plain, {}}, {secure, {}}};
  for (Side& side : sides) {
    side.tagged = TaggedValue::create(side.connection, RepositoryRef{side.connection.repository()});
    TaggedValue::set_tag(side.connection, side.tagged, "author");
  }
  constexpr int kRounds = 5;
  for (int round = 0; round < kRounds; ++round) {
    for (Side& side : sides) {
      side.get += rate([&] { TaggedValue::get_tag(side.connection, side.tagged); }, seconds / kRounds);
      side.set += rate([&] { TaggedValue::set_tag(side.connection, side.tagged, "author"); },
                       seconds / kRounds);
    }
  }
  auto connectTime = [&](const std::function<void()>& make) {
    std::vector<double> times;
    for (int i = 0; i < 50; ++i) {
      const auto start = Clock::now();
      make();
      times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
  };
  const double plainConnect = connectTime([&] { Connection("127.0.0.1", server.port()); });
  const double tlsConnect = connectTime([&] { Connection("127.0.0.1", server.port(), tls); });
  std::printf("%-28s %10s %10s %7s\n", "operation", "plain /s", "TLS /s", "ratio");
  std::printf("%-28s %10.0f %10.0f %7.2f\n", "get_tag_0 (text getter)", sides[0].get / kRounds,
              sides[1].get / kRounds, sides[1].get / sides[0].get);
  std::printf("%-28s %10.0f %10.0f %7.2f\n", "set_tag_0 (setter, commit)", sides[0].set / kRounds,
              sides[1].set / kRounds, sides[1].set / sides[0].set);
  std::printf("connecting (median of 50): plain %.0f us, TLS with a client certificate %.0f us\n",
              plainConnect, tlsConnect);
  return 0;
}
