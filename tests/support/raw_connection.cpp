#include "tests/support/raw_connection.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

RawConnection::RawConnection(std::uint16_t port, int receiveBufferBytes)
    : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  if (receiveBufferBytes > 0) {
    setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

RawConnection::~RawConnection() { close(fd_); }

bool RawConnection::send(const Bytes& bytes) {
  return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

bool RawConnection::closedByServer(std::chrono::milliseconds timeout) {
  // At least one look, so that a timeout of 0 asks without waiting.
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{fd_, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 50))) <= 0)
      continue;
    char buffer[4096];
    if (recv(fd_, buffer, sizeof buffer, 0) <= 0) return true;
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::optional<Bytes> RawConnection::receiveRecord(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  Bytes received;
  auto readUntil = [&](std::size_t size) {
    while (received.size() < size) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      pollfd entry{fd_, POLLIN, 0};
      if (left.count() <= 0 || poll(&entry, 1, static_cast<int>(left.count())) <= 0) return false;
      std::uint8_t buffer[65536];
      const ssize_t count = recv(fd_, buffer, std::min(sizeof buffer, size - received.size()), 0);
      if (count <= 0) return false;
      received.insert(received.end(), buffer, buffer + count);
    }
    return true;
  };
  if (!readUntil(4)) return std::nullopt;
  const std::uint32_t mark = (std::uint32_t{received[0]} << 24) |
                             (std::uint32_t{received[1]} << 16) |
                             (std::uint32_t{received[2]} << 8) | std::uint32_t{received[3]};
  if (!readUntil(4 + (mark & 0x7FFFFFFFu))) return std::nullopt;
  return Bytes(received.begin() + 4, received.end());
}
