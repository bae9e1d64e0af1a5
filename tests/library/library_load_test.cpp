// libQOVIX_os.so as other programs see it: loaded with dlopen and linked
// against, with exactly the documented symbols exported.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dispatch/entry_point.h"
#include "model/wkm_srv/VORN.h"
#include "model/wkm_srv/VornDataType.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"

namespace {

class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  void* handle() const { return handle_; }
  void* symbol(const char* name) const { return dlsym(handle_, name); }

 private:
  void* handle_;
};

TEST(LoadedLibrary, EntryPointIsFoundByItsPlainNameAndAnswers) {
  LoadedLibrary library(QOVIX_OS_LIBRARY_PATH);
  ASSERT_NE(library.handle(), nullptr) << dlerror();
  auto entry = reinterpret_cast<QovixServerEntry>(library.symbol("QOVIX_server_1"));
  ASSERT_NE(entry, nullptr) << dlerror();

  TestTransport transport;
  const auto& outOfRange = transport.call(entry, {0, 0, 1});
  ASSERT_EQ(outOfRange.size(), 1u);
  EXPECT_EQ(outOfRange[0].status, ReplyStatus::ProcedureUnavailable);

  const auto& aboveHighest = transport.call(entry, {1, 0, 11}, words({1}));
  ASSERT_EQ(aboveHighest.size(), 1u);
  EXPECT_EQ(aboveHighest[0].status, ReplyStatus::ProcedureUnavailable);
}

TEST(LoadedLibrary, DispatchersAndHelpersStayHidden) {
  LoadedLibrary library(QOVIX_OS_LIBRARY_PATH);
  ASSERT_NE(library.handle(), nullptr) << dlerror();
  for (const char* name :
       {"QOVIXElement_server_1", "QOVIXActivityState_server_1", "X_InteropHandle", "classRoutes"}) {
    EXPECT_EQ(library.symbol(name), nullptr) << name << " must not be exported";
  }
}

TEST(LoadedLibrary, ExportsTheNamesOfItsValueOperations) {
  LoadedLibrary library(QOVIX_OS_LIBRARY_PATH);
  ASSERT_NE(library.handle(), nullptr) << dlerror();
  const std::vector<std::pair<const char*, const char*>> expected = {
      {"QOVIX_nameOf_VornDataType_operatorEqual", "VornDataType::operator=="},
      {"QOVIX_nameOf_VornDataType_operatorNotEqual", "VornDataType::operator!="},
      {"QOVIX_nameOf_VornDataType_operatorLess", "VornDataType::operator<"},
      {"QOVIX_nameOf_VornDataType_operatorLessEqual", "VornDataType::operator<="},
      {"QOVIX_nameOf_VornDataType_operatorGreater", "VornDataType::operator>"},
      {"QOVIX_nameOf_VornDataType_operatorGreaterEqual", "VornDataType::operator>="},
      {"QOVIX_nameOf_VORN_get_handleIndex", "VORN::get_handleIndex"},
      {"QOVIX_nameOf_VORN_set_handleIndex", "VORN::set_handleIndex"},
  };
  for (const auto& [symbol, text] : expected) {
    const auto* name = static_cast<const char*>(library.symbol(symbol));
    ASSERT_NE(name, nullptr) << symbol;
    EXPECT_STREQ(name, text);
  }
}

// A data value whose `comparison` answers a fixed result and counts its calls.
class FixedComparison final : public VornDataType {
 public:
  explicit FixedComparison(int answer) : answer_(answer) {}
  Comparisons comparison(VornDataType const&) const override {
    ++calls;
    return static_cast<Comparisons>(answer_);
  }
  int datatypeId() const override { return 0; }
  std::u16string format() const override { return u""; }
  int classId() const override { return 0; }
  VornObject* copy() const override { return new FixedComparison(answer_); }
  int isNull() const override { return 0; }
  int isValid() const override { return 1; }
  int modelId() const override { return 0; }

  mutable int calls = 0;

 private:
  int answer_;
};

struct Expectation {
  int comparison;
  int equal, notEqual, less, lessEqual, greater, greaterEqual;
};

// Linked against the library like any other module that uses the operators.
TEST(ValueOperators, MapEachComparisonResult) {
  const Expectation table[] = {
      {1, 0, 1, 1, 1, 0, 0}, {2, 1, 0, 0, 1, 0, 1},  {3, 0, 1, 0, 0, 1, 1},  {0, 0, 1, 0, 0, 0, 0},
      {4, 0, 1, 0, 0, 0, 0}, {-1, 0, 1, 0, 0, 0, 0}, {99, 0, 1, 0, 0, 0, 0},
  };
  const FixedComparison other(2);
  for (const Expectation& row : table) {
    const FixedComparison value(row.comparison);
    EXPECT_EQ(value == other, row.equal) << "comparison " << row.comparison;
    EXPECT_EQ(value != other, row.notEqual) << "comparison " << row.comparison;
    EXPECT_EQ(value < other, row.less) << "comparison " << row.comparison;
    EXPECT_EQ(value <= other, row.lessEqual) << "comparison " << row.comparison;
    EXPECT_EQ(value > other, row.greater) << "comparison " << row.comparison;
    EXPECT_EQ(value >= other, row.greaterEqual) << "comparison " << row.comparison;
    EXPECT_EQ(value.calls, 6) << "one virtual call per operator, on the left operand";
    EXPECT_EQ(other.calls, 0);
  }
}

TEST(HandleIndex, KeepsWhatWasSet) {
  VORN repository;
  EXPECT_EQ(repository.get_handleIndex(), 0);
  repository.set_handleIndex(-1);
  EXPECT_EQ(repository.get_handleIndex(), -1);
  repository.set_handleIndex(INT32_MAX);
  EXPECT_EQ(repository.get_handleIndex(), INT32_MAX);
}

}  // namespace
