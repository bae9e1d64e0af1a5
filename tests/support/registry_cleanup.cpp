// Releases whatever the tests left registered when the test program ends, as
// qovixd does when it stops, so leak checks see only real leaks.

#include <gtest/gtest.h>

#include "model/vorn_os/handle_registry.h"

namespace {

class ReleaseRegistry : public ::testing::Environment {
 public:
  void TearDown() override { vorn_os::releaseAll(); }
};

const auto* const kReleaseRegistry = ::testing::AddGlobalTestEnvironment(new ReleaseRegistry);

}  // namespace
