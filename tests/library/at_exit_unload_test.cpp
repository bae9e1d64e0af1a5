#include <dlfcn.h>
#include <gtest/gtest.h>

#include <vector>

#include "dispatch/at_exit_list.h"

namespace {

std::vector<int> ran;
int one = 1, two = 2, three = 3;

void record(void* context) { ran.push_back(*static_cast<int*>(context)); }

TEST(AtExitList, RunsInReverseOrderWhenTheLibraryIsUnloaded) {
  void* library = dlopen(QOVIX_AT_EXIT_PROBE_PATH, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  using Register = bool (*)(qovix::AtExitAction, void*);
  auto registerAtExit = reinterpret_cast<Register>(dlsym(library, "probeRegisterAtExit"));
  ASSERT_NE(registerAtExit, nullptr) << dlerror();

  ran.clear();
  ASSERT_TRUE(registerAtExit(&record, &one));
  ASSERT_TRUE(registerAtExit(&record, &two));
  ASSERT_TRUE(registerAtExit(&record, &three));
  EXPECT_TRUE(ran.empty());
  ASSERT_EQ(dlclose(library), 0);
  EXPECT_EQ(ran, (std::vector<int>{3, 2, 1}));
}

}  // namespace
