// qovixd's TCP connections against clients the fuzzer plays: it connects
// them, sends them bytes in pieces of its choosing, shrinks their receive
// buffers, reads or does not read, half-closes and resets them, and lets the
// one serving loop run between its moves. Whatever it does, the server must
// neither crash nor leak nor hang, and must still answer a well-behaved call
// at the end. Model calls are answered with the system error (no library is
// loaded); the host program is served in full, its calls held for each
// round's commit and their replies sent when it ends.

#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "host/rpc_endpoints.h"
#include "host/serving_context.h"
#include "host/serve_loop.h"
#include "host/stream_listener.h"
#include "store/persistent_store.h"
#include "qovix_protocol.h"

namespace {

RpcEndpoints& endpoints() {
  // Nothing is served but the host program: model calls get the system
  // error. Its calls are held for each round's commit, on a store in memory.
  static const std::unique_ptr<PersistentStore> store = makeMemoryStore();
  static ServingContext serving(nullptr, 0, store.get());
  static RpcEndpoints served = [] {
    ConnectionLimits limits;
    limits.maxConnections = 64;  // more than the players ever leave open
    return RpcEndpoints(&serving, "127.0.0.1", 0, false, limits);
  }();
  return served;
}

void serveOnce(int longest) {
  static std::vector<pollfd> watched;
  serveRound(-1, endpoints().connections(), longest, watched);
}

void serveFor(int rounds) {
  for (int i = 0; i < rounds; ++i) serveOnce(0);
}

// One client socket the fuzzer plays.
class Player {
 public:
  explicit Player(int receiveBuffer) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (receiveBuffer > 0) {
      setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoints().port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  ~Player() { close(fd_); }
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  void send(const std::vector<std::uint8_t>& bytes) {
    ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  void read(std::size_t most) {
    std::array<char, 4096> buffer{};
    recv(fd_, buffer.data(), std::min(most, buffer.size()), MSG_DONTWAIT);
  }
  void halfClose() { shutdown(fd_, SHUT_WR); }
  // Whether a reply (some bytes) has arrived.
  bool answered() {
    std::array<char, 64> buffer{};
    return recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0;
  }
  void reset() {
    const linger now{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  }

 private:
  int fd_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::array<std::unique_ptr<Player>, 3> players;
  while (input.remaining_bytes() > 0) {
    auto& player = players[input.ConsumeIntegralInRange<std::size_t>(0, players.size() - 1)];
    switch (input.ConsumeIntegralInRange(0, 6)) {
      case 0:
        player = std::make_unique<Player>(input.ConsumeBool() ? 0 : 1024);
        break;
      case 1:
        if (player) player->send(input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegral<std::uint16_t>()));
        break;
      case 2:
        if (player) player->read(input.ConsumeIntegral<std::uint16_t>());
        break;
      case 3:
        if (player) player->halfClose();
        break;
      case 4:
        if (player) player->reset();
        player.reset();
        break;
      case 5:
        player.reset();
        break;
      default:
        serveFor(input.ConsumeIntegralInRange(1, 8));
        break;
    }
  }
  serveFor(4);
  for (auto& player : players) player.reset();
  serveFor(8);

  // A well-behaved client is still answered: the host program's null call.
  Player good(0);
  const std::uint32_t call[] = {0x80000028, 1, 0, 2, qovix::protocol::kHostProgram,
                                qovix::protocol::kHostVersion, 0, 0, 0, 0, 0};
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t word : call) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(word >> shift));
  }
  good.send(bytes);
  bool answered = false;
  for (int round = 0; round < 500 && !answered; ++round) {
    serveOnce(1);
    answered = good.answered();
  }
  if (!answered) __builtin_trap();
  serveFor(2);
  return 0;
}
