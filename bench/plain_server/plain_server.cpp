// plain-rpc: the benchmark's reference server. rpcgen's dispatcher and
// libtirpc's svc_run serve procedures with the shapes of qovixd's most common
// calls, over TCP and UDP on one loopback port, with a small handle table in
// place of the registry and the model. What qovixd costs beyond this is what
// its own work costs.
//
//   plain-rpc --bind 127.0.0.1 --port 0   # prints "plain-rpc listening on 127.0.0.1:PORT (tcp,
//   udp)"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>

#include "plain.h"

extern "C" void plain_program_1(svc_req* rqstp, SVCXPRT* transp);

namespace {

struct Object {
  int size;
  std::string name;
  u_int reference;
};

// Handle 1 names an object with a three-member collection, a short name and
// a reference to itself; CREATE and REFERENCE register new handles, RELEASE
// drops them.
class HandleTable {
 public:
  HandleTable() { objects_.emplace(1, Object{3, "author", 1}); }

  const Object* find(u_int handle) const {
    const auto found = objects_.find(handle);
    return found != objects_.end() ? &found->second : nullptr;
  }
  u_int add(Object object) {
    objects_.emplace(next_, std::move(object));
    return next_++;
  }
  bool release(u_int handle) { return handle != 1 && objects_.erase(handle) == 1; }

 private:
  std::unordered_map<u_int, Object> objects_;
  u_int next_ = 2;
};

HandleTable& table() {
  static HandleTable handles;
  return handles;
}

int boundSocket(int type, const in_addr& address, std::uint16_t port) {
  const int fd = socket(AF_INET, type, 0);
  if (fd < 0) return -1;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_addr = address;
  where.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      (type == SOCK_STREAM && listen(fd, 64) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t portOf(int fd) {
  sockaddr_in where{};
  socklen_t length = sizeof where;
  getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length);
  return ntohs(where.sin_port);
}

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "plain-rpc: %s\n", message.c_str());
  std::exit(1);
}

}  // namespace

extern "C" {

int* plain_size_1_svc(u_int* handle, svc_req*) {
  static int result;
  const Object* object = table().find(*handle);
  result = object != nullptr ? object->size : -1;
  return &result;
}

plain_text* plain_name_1_svc(u_int* handle, svc_req*) {
  static char empty[] = "";
  static plain_text result;
  const Object* object = table().find(*handle);
  result = object != nullptr ? const_cast<char*>(object->name.c_str()) : empty;
  return &result;
}

u_int* plain_reference_1_svc(u_int* handle, svc_req*) {
  static u_int result;
  const Object* object = table().find(*handle);
  const Object* referenced = object != nullptr ? table().find(object->reference) : nullptr;
  result = referenced != nullptr ? table().add(*referenced) : 0;
  return &result;
}

u_int* plain_create_1_svc(u_int* handle, svc_req*) {
  static u_int result;
  result = table().find(*handle) != nullptr ? table().add(Object{0, "", 1}) : 0;
  return &result;
}

int* plain_release_1_svc(u_int* handle, svc_req*) {
  static int result;
  result = table().release(*handle) ? 1 : 0;
  return &result;
}

}  // extern "C"

int main(int argc, char** argv) {
  std::string bind = "127.0.0.1";
  long port = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--bind") {
      bind = argv[i + 1];
    } else if (option == "--port") {
      port = std::strtol(argv[i + 1], nullptr, 10);
    } else {
      fail("unknown option " + option + " (takes --bind ADDRESS --port PORT)");
    }
  }
  in_addr address{};
  if (inet_pton(AF_INET, bind.c_str(), &address) != 1) fail("--bind takes an IPv4 address");
  if (port < 0 || port > 65535) fail("--port takes 0..65535");

  // With port 0, the TCP socket picks the port and UDP takes the same one.
  const int tcp = boundSocket(SOCK_STREAM, address, static_cast<std::uint16_t>(port));
  if (tcp < 0) fail("cannot bind TCP: " + std::string(std::strerror(errno)));
  const int udp = boundSocket(SOCK_DGRAM, address, portOf(tcp));
  if (udp < 0) fail("cannot bind UDP: " + std::string(std::strerror(errno)));

  // Protocol 0: served on these sockets, not announced to rpcbind.
  SVCXPRT* stream = svc_vc_create(tcp, 0, 0);
  SVCXPRT* datagram = svc_dg_create(udp, 0, 0);
  if (stream == nullptr || datagram == nullptr ||
      !svc_register(stream, PLAIN_PROGRAM, PLAIN_VERSION, plain_program_1, 0) ||
      !svc_register(datagram, PLAIN_PROGRAM, PLAIN_VERSION, plain_program_1, 0)) {
    fail("cannot create the transports");
  }
  std::printf("plain-rpc listening on %s:%u (tcp, udp)\n", bind.c_str(), portOf(tcp));
  std::fflush(stdout);
  svc_run();
  fail("svc_run returned");
}
