// The server side of RPC-with-TLS through qovixd's one serving loop: a
// client asks for TLS with the AUTH_TLS probe, is answered STARTTLS, and
// then sends the fuzzer's bytes as what should be its TLS handshake and
// records, in pieces with serving rounds between them. The first byte says
// into how many pieces (1 to 16); the rest are the bytes. Whatever comes,
// the server must neither crash nor leak nor hang, and must still answer a
// well-behaved plain call at the end. The seeds hold a real ClientHello.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "qovix_protocol.h"
#include "host/rpc_endpoints.h"
#include "host/serving_context.h"
#include "host/serve_loop.h"
#include "host/stream_listener.h"
#include "host/tls_credentials.h"

namespace {

const std::string kCertificates = QOVIX_FUZZ_CERTIFICATES;

RpcEndpoints& endpoints() {
  static TlsCredentials credentials(kCertificates + "/server.pem",
                                    kCertificates + "/server-key.pem", kCertificates + "/ca.pem");
  // Nothing is served but the host program: model calls get the system error.
  static ServingContext serving(nullptr, 0, nullptr);
  static RpcEndpoints served = [] {
    ConnectionLimits limits;
    limits.maxConnections = 64;
    return RpcEndpoints(&serving, "127.0.0.1", 0, false, limits);
  }();
  static const bool tls = (served.connections().serveTls(&credentials, false, std::chrono::seconds(0)),
                           true);
  (void)tls;
  return served;
}

void serveRounds(int rounds, int longest = 0) {
  static std::vector<pollfd> watched;
  for (int i = 0; i < rounds; ++i) serveRound(-1, endpoints().connections(), longest, watched);
}

std::vector<std::uint8_t> nullCall(std::uint32_t flavor) {
  const std::uint32_t call[] = {0x80000028, 1, 0, 2, qovix::protocol::kHostProgram,
                                qovix::protocol::kHostVersion, 0, flavor, 0, 0, 0};
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t word : call) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  return bytes;
}

class Client {
 public:
  Client() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoints().port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  ~Client() { close(fd_); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void send(const std::uint8_t* bytes, std::size_t length) {
    ::send(fd_, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  // Serves until an answer arrives; how many bytes it had.
  long answer() {
    std::array<char, 4096> buffer{};
    for (int round = 0; round < 500; ++round) {
      serveRounds(1, 1);
      const ssize_t got = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (got > 0) return got;
    }
    return -1;
  }

 private:
  int fd_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t pieces = 1 + data[0] % 16;
  const std::uint8_t* bytes = data + 1;
  const std::size_t length = size - 1;
  {
    Client client;
    const std::vector<std::uint8_t> probe = nullCall(7);
    client.send(probe.data(), probe.size());
    if (client.answer() != 36) __builtin_trap();  // the STARTTLS answer, record mark included
    for (std::size_t i = 0; i < pieces; ++i) {
      const std::size_t from = length * i / pieces;
      const std::size_t to = length * (i + 1) / pieces;
      client.send(bytes + from, to - from);
      serveRounds(2);
    }
    serveRounds(4);
  }
  serveRounds(4);
  Client good;
  const std::vector<std::uint8_t> call = nullCall(0);
  good.send(call.data(), call.size());
  if (good.answer() <= 0) __builtin_trap();
  serveRounds(2);
  return 0;
}
