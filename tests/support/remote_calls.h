#pragma once

// Calls to a running qovixd over one TCP (or UDP) client, addressing model
// procedures by label like LibraryCalls does in process.
//
//   ServerProcess server;
//   RemoteCalls remote(server.port());
//   InteropHandle a = remote.handle("QOVIXClass_create_1", words({remote.repository()}));

#include <string>

#include "tests/support/reply_values.h"
#include "tests/support/rpc_client.h"

class RemoteCalls {
 public:
  explicit RemoteCalls(std::uint16_t port, Transport transport = Transport::Tcp);

  InteropHandle repository();

  // A model procedure by label, a cast, a host procedure: the reply's status
  // and raw body (as the test transport gives it).
  Reply call(const std::string& label, const Bytes& arguments = {});
  Reply cast(std::uint32_t classNumber, InteropHandle object, std::int32_t check);
  Reply host(std::uint32_t procedure, const Bytes& arguments = {});

  InteropHandle handle(const std::string& label, const Bytes& arguments = {});
  std::int32_t integer(const std::string& label, const Bytes& arguments = {});
  std::u16string text(const std::string& label, const Bytes& arguments = {});

  // Host services.
  std::int32_t size(InteropHandle collection);
  InteropHandle element(InteropHandle collection, std::int32_t index);
  std::string className(InteropHandle handle);
  std::int32_t release(InteropHandle handle);
  std::int32_t handleCount();

 private:
  Reply callProgram(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                    const Bytes& arguments);

  std::uint16_t port_;
  Transport transport_;
};
