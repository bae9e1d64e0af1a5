// Fuzzes the library's entry point as the host calls it, against a small live
// repository: the input picks the class number, the template id and the
// procedure number, and the rest are the call's argument bytes. Words of the
// form 0x5158000K in the arguments stand for the repository's K-th handle
// (the repository, then one object each of a few classes), so the fuzzer
// reaches the procedures' work and not only their handle checks. Exceptions
// leave the library as they leave it for the host, which answers them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "client/procedure_listing.h"
#include "dispatch/entry_point.h"
#include "model/vorn_os/handle_registry.h"
#include "model/wkm_srv/VORN.h"
#include "tests/support/test_transport.h"

namespace {

constexpr std::uint32_t kHandleMark = 0x51580000;  // "QX" then the handle's index
constexpr int kCallsPerRepository = 2000;          // then everything is rebuilt, bounding memory

const char* const kObjectsMade[] = {
    "QOVIXTaggedValue_create_1", "QOVIXClass_create_1",          "QOVIXPackage_create_1",
    "QOVIXAssociation_create_1", "QOVIXAssociationEnd_create_1", "QOVIXAttribute_create_1",
    "QOVIXOperation_create_1",   "QOVIXMultiplicity_create_1",
};

CallAddress addressOf(const char* label) {
  const ProcedureListing* found = findProcedureByLabel(label);
  if (found == nullptr) std::abort();
  return {found->classNumber, 0, found->number};
}

std::vector<std::uint8_t> word(std::uint32_t value) {
  return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
          static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}

class Fixture {
 public:
  Fixture() { build(); }
  // Leaves nothing registered, so the leak check at exit sees only real leaks.
  ~Fixture() { release(); }
  Fixture(const Fixture&) = delete;
  Fixture& operator=(const Fixture&) = delete;

  void callWith(CallAddress address, std::vector<std::uint8_t> arguments) {
    if (++calls_ % kCallsPerRepository == 0) rebuild();
    for (std::size_t at = 0; at + 4 <= arguments.size(); at += 4) {
      const std::uint32_t value = std::uint32_t(arguments[at]) << 24 | arguments[at + 1] << 16 |
                                  arguments[at + 2] << 8 | arguments[at + 3];
      if ((value & 0xFFFF0000) == kHandleMark) {
        const auto replaced = word(handles_[(value & 0xFFFF) % handles_.size()]);
        std::memcpy(&arguments[at], replaced.data(), 4);
      }
    }
    try {
      transport_.call(QOVIX_server_1, address, std::move(arguments));
    } catch (...) {
      // The host answers these with the system-error reply.
    }
  }

 private:
  void build() {
    repository_ = std::make_unique<VORN>("fuzz");
    const auto repository = static_cast<std::uint32_t>(
        getHandle(repository_.get(), static_cast<VornObject*>(repository_.get()), nullptr));
    handles_ = {repository};
    for (const char* label : kObjectsMade) {
      const auto& replies = transport_.call(QOVIX_server_1, addressOf(label), word(repository));
      if (replies.size() != 1 || replies[0].body.size() != 4) std::abort();
      const auto& body = replies[0].body;
      handles_.push_back(std::uint32_t(body[0]) << 24 | body[1] << 16 | body[2] << 8 | body[3]);
    }
  }

  void release() {
    deleteHandle(handles_[0]);  // the repository is ours, not the registry's
    vorn_os::releaseAll();
    repository_.reset();
  }

  void rebuild() {
    release();
    build();
  }

  TestTransport transport_;
  std::unique_ptr<VORN> repository_;
  std::vector<std::uint32_t> handles_;
  long calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  if (size < 4) return 0;
  CallAddress address;
  // Mostly the 97 classes; now and then a number outside them.
  address.classNumber = data[0] < 240 ? data[0] % 97 + 1 : data[0] == 255 ? 0xFFFFFFFF : data[0];
  address.templateId = data[1] & 1 ? 78 : data[1] & 2 ? 0 : data[1];
  address.procedure = (std::uint32_t(data[2]) << 8 | data[3]) % 512;
  fixture.callWith(address, std::vector<std::uint8_t>(data + 4, data + size));
  return 0;
}
