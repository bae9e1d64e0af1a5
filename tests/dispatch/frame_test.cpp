// The frame shared by every dispatcher and cast server, driven with test
// tables through the test transport.

#include "dispatch/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"
#include "xdr/primitive_filters.h"

namespace {

// What the test routines saw.
struct RoutineLog {
  int calls = 0;
  std::string text;
  bool recordWasZero = false;
};
RoutineLog routineLog;

// The filter of every record, recorded by stream operation.
std::vector<xdr_op> filterOps;

struct TextAndHandle {
  char* text;
  InteropHandle handle;
};

bool_t X_TextAndHandle(XDR* xdrs, TextAndHandle* record) {
  filterOps.push_back(xdrs->x_op);
  return X_OptionalString(xdrs, &record->text) && X_InteropHandle(xdrs, &record->handle);
}

udt_integer lengthSlot;

void* lengthOfText(void* argp) {
  ++routineLog.calls;
  auto* record = static_cast<TextAndHandle*>(argp);
  routineLog.text = record->text != nullptr ? record->text : "";
  lengthSlot =
      static_cast<udt_integer>(routineLog.text.size()) + static_cast<udt_integer>(record->handle);
  return &lengthSlot;
}

void* returnsNull(void*) {
  ++routineLog.calls;
  return nullptr;
}

void* throwsModelError(void*) {
  ++routineLog.calls;
  throw std::runtime_error("model failure");
}

constexpr unsigned kWideRecord = 64;

void* checksRecordIsZero(void* argp) {
  ++routineLog.calls;
  unsigned char zero[kWideRecord] = {};
  routineLog.recordWasZero = std::memcmp(argp, zero, kWideRecord) == 0;
  return &lengthSlot;
}

// Decodes nothing but scribbles over its record, as a large record would.
bool_t scribbleFilter(XDR* xdrs, void* record) {
  if (xdrs->x_op == XDR_DECODE) std::memset(record, 0xAB, kWideRecord);
  return TRUE;
}

bool_t failingResultFilter(XDR*, udt_integer*) { return FALSE; }

constexpr XdrFilter kTextAndHandle = untypedFilter<&X_TextAndHandle>;
constexpr XdrFilter kInteger = untypedFilter<&X_udt_integer>;

constexpr ProcedureEntry kTable[] = {
    /* 1 */ {&lengthOfText, kTextAndHandle, sizeof(TextAndHandle), kInteger},
    /* 2 */ {},
    /* 3 */ {&returnsNull, kTextAndHandle, sizeof(TextAndHandle), kInteger},
    /* 4 */
    {&lengthOfText, kTextAndHandle, sizeof(TextAndHandle), untypedFilter<&failingResultFilter>},
    /* 5 */ {&throwsModelError, kTextAndHandle, sizeof(TextAndHandle), kInteger},
    /* 6 */ {&lengthOfText, kTextAndHandle, qovix::kArgumentRecordCapacity + 1, kInteger},
    /* 7 */ {&returnsNull, &scribbleFilter, kWideRecord, &voidFilter},
    /* 8 */ {&checksRecordIsZero, &voidFilter, kWideRecord, &voidFilter},
};

class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    routineLog = {};
    filterOps.clear();
  }

  const std::vector<Reply>& run(std::uint32_t procedure, Bytes arguments = {}) {
    transport.clear();
    transport.setArguments(std::move(arguments));
    svc_req request{};
    request.rq_proc = procedure;
    request.rq_xprt = transport.xprt();
    qovix::runProcedure(kTable, &request, transport.xprt());
    return transport.replies();
  }

  const Bytes abcAndHandle2 = words({1, 3, 0x61626300, 2});
  TestTransport transport;
};

TEST_F(Frame, ZeroAboveTheTableAndEmptyEntriesAreUnavailable) {
  for (std::uint32_t procedure : {0u, 2u, 9u, 0xFFFFFFFFu}) {
    const auto& replies = run(procedure, abcAndHandle2);
    ASSERT_EQ(replies.size(), 1u) << "procedure " << procedure;
    EXPECT_EQ(replies[0].status, ReplyStatus::ProcedureUnavailable);
    EXPECT_EQ(transport.getargsCalls(), 0) << "nothing is decoded";
  }
  EXPECT_EQ(routineLog.calls, 0);
}

TEST_F(Frame, DecodesCallsSendsAndFrees) {
  const auto& replies = run(1, abcAndHandle2);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::Success);
  EXPECT_EQ(replies[0].body, words({5})) << hex(replies[0].body);
  EXPECT_EQ(routineLog.text, "abc");
  EXPECT_EQ(transport.getargsCalls(), 1);
  EXPECT_EQ(transport.freeargsCalls(), 1);
  EXPECT_EQ(filterOps, (std::vector<xdr_op>{XDR_DECODE, XDR_FREE}));
}

TEST_F(Frame, DecodeFailureIsGarbageArgumentsWithoutCallingTheRoutine) {
  const auto& replies = run(1, words({1, 9}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::GarbageArguments);
  EXPECT_EQ(routineLog.calls, 0);
  EXPECT_EQ(transport.freeargsCalls(), 0);
}

TEST_F(Frame, DecodeFailingPartWayReleasesWhatWasDecoded) {
  // The string decodes in full; the handle after it is missing.
  const auto& replies = run(1, words({1, 3, 0x61626300}));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::GarbageArguments);
  EXPECT_EQ(transport.freeargsCalls(), 0) << "not through the transport";
  EXPECT_EQ(filterOps, (std::vector<xdr_op>{XDR_DECODE, XDR_FREE}))
      << "but by a free pass of its own, so the string does not leak";
}

TEST_F(Frame, NullResultSendsNothingAndStillFrees) {
  EXPECT_TRUE(run(3, abcAndHandle2).empty());
  EXPECT_EQ(routineLog.calls, 1);
  EXPECT_EQ(transport.freeargsCalls(), 1);
}

TEST_F(Frame, ResultThatFailsToEncodeBecomesSystemError) {
  const auto& replies = run(4, abcAndHandle2);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::SystemError);
  EXPECT_EQ(transport.freeargsCalls(), 1);
}

TEST_F(Frame, ReplyThatCannotBeSentStillFreesTheArguments) {
  transport.setRepliesFail(true);
  EXPECT_TRUE(run(1, abcAndHandle2).empty());
  EXPECT_EQ(transport.freeargsCalls(), 1);
}

TEST_F(Frame, ExceptionFromTheRoutinePassesOutAndTheRecordIsFreed) {
  EXPECT_THROW(run(5, abcAndHandle2), std::runtime_error);
  EXPECT_TRUE(transport.replies().empty()) << "no reply for that call";
  EXPECT_EQ(transport.freeargsCalls(), 1);
  EXPECT_EQ(filterOps, (std::vector<xdr_op>{XDR_DECODE, XDR_FREE}));
}

TEST_F(Frame, RecordTooLargeForTheFrameIsSystemErrorWithoutCallingTheRoutine) {
  const auto& replies = run(6, abcAndHandle2);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::SystemError);
  EXPECT_EQ(transport.getargsCalls(), 0);
  EXPECT_EQ(routineLog.calls, 0);
}

TEST_F(Frame, EveryRecordStartsZeroed) {
  run(7);  // leaves its storage full of 0xAB
  const auto& replies = run(8);
  EXPECT_EQ(routineLog.calls, 2);
  EXPECT_TRUE(routineLog.recordWasZero);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, ReplyStatus::Success);
  EXPECT_TRUE(replies[0].body.empty()) << "a void result is an empty body";
}

}  // namespace
