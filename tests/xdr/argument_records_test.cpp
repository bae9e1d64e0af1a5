// The fifteen argument-record shapes: field order and types on the wire,
// byte examples, round trips, truncation, and decoding through the frame.

#include "xdr/argument_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "dispatch/frame.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"
#include "xdr/primitive_filters.h"

namespace {

struct Shape {
  const char* name;
  XdrFilter filter;
  unsigned size;
  const char* fields;  // H handle, L long, I int, V data value, in wire order
};

// Each shape's fields as the wire carries them, written out independently of
// the record declarations.
const Shape kShapes[] = {
    {"HandleHandle", untypedFilter<&X_HandleHandle>, sizeof(HandleHandle), "HH"},
    {"HandleLong", untypedFilter<&X_HandleLong>, sizeof(HandleLong), "HL"},
    {"HandleInt", untypedFilter<&X_HandleInt>, sizeof(HandleInt), "HI"},
    {"HandleValue", untypedFilter<&X_HandleValue>, sizeof(HandleValue), "HV"},
    {"HandleHandleValue", untypedFilter<&X_HandleHandleValue>, sizeof(HandleHandleValue), "HHV"},
    {"HandleValueValueInt", untypedFilter<&X_HandleValueValueInt>, sizeof(HandleValueValueInt),
     "HVVI"},
    {"HandleValueLongInt", untypedFilter<&X_HandleValueLongInt>, sizeof(HandleValueLongInt),
     "HVLI"},
    {"HandleHandleLong", untypedFilter<&X_HandleHandleLong>, sizeof(HandleHandleLong), "HHL"},
    {"HandleValueHandle", untypedFilter<&X_HandleValueHandle>, sizeof(HandleValueHandle), "HVH"},
    {"HandleValueValue", untypedFilter<&X_HandleValueValue>, sizeof(HandleValueValue), "HVV"},
    {"HandleValueValueHandle", untypedFilter<&X_HandleValueValueHandle>,
     sizeof(HandleValueValueHandle), "HVVH"},
    {"HandleHandleHandleValue", untypedFilter<&X_HandleHandleHandleValue>,
     sizeof(HandleHandleHandleValue), "HHHV"},
    {"HandleHandleHandle", untypedFilter<&X_HandleHandleHandle>, sizeof(HandleHandleHandle), "HHH"},
    {"HandleValueLong", untypedFilter<&X_HandleValueLong>, sizeof(HandleValueLong), "HVL"},
    {"HandleHandleValueValue", untypedFilter<&X_HandleHandleValueValue>,
     sizeof(HandleHandleValueValue), "HHVV"},
};

// The wire bytes of a call of `shape`: distinct numbers for the scalar
// fields, and data values that hold strings (a text, then two optional
// strings, alternating) so truncation and freeing have allocations to find.
Bytes sampleCall(const Shape& shape) {
  Bytes bytes;
  std::uint32_t number = 1;
  bool text = true;
  for (const char* field = shape.fields; *field != '\0'; ++field, ++number) {
    if (*field != 'V') {
      bytes = bytes + words({*field == 'L' ? 0xFFFFFF00 + number : number});
    } else if (text) {
      bytes = bytes + words({10, number, 4, 'a', 'b', 'c', 0});
      text = false;
    } else {
      bytes = bytes + words({7, number, 5, 6, 1, 2, 0x78790000, 1, 1, 0x7A000000});
      text = true;
    }
  }
  return bytes;
}

// A zeroed record of any shape, freed with its filter when it goes.
class Record {
 public:
  explicit Record(const Shape& shape) : shape_(shape) { std::memset(storage_, 0, sizeof storage_); }
  ~Record() { freeWith(shape_.filter, storage_); }
  Record(const Record&) = delete;
  Record& operator=(const Record&) = delete;
  void* get() { return storage_; }
  template <class T>
  T& as() {
    return *reinterpret_cast<T*>(storage_);
  }

 private:
  const Shape& shape_;
  alignas(std::max_align_t) unsigned char storage_[qovix::kArgumentRecordCapacity];
};

TEST(ArgumentRecords, EveryShapeFitsTheFrame) {
  for (const Shape& shape : kShapes) {
    EXPECT_LE(shape.size, qovix::kArgumentRecordCapacity) << shape.name;
  }
}

TEST(ArgumentRecords, EveryShapeRoundTripsItsFieldsInOrder) {
  for (const Shape& shape : kShapes) {
    const Bytes call = sampleCall(shape);
    Record record(shape);
    const DecodeOutcome outcome = decodeWith(toXdrProc(shape.filter), record.get(), call);
    ASSERT_TRUE(outcome.decoded) << shape.name;
    EXPECT_EQ(outcome.bytesLeft, 0u) << shape.name;
    EXPECT_EQ(encodeWith(toXdrProc(shape.filter), record.get()), call) << shape.name;
  }
}

TEST(ArgumentRecords, DecodeCutShortAnywhereFailsAndAFreePassReleasesIt) {
  for (const Shape& shape : kShapes) {
    const Bytes call = sampleCall(shape);
    for (std::size_t cut = 0; cut < call.size(); ++cut) {
      Record record(shape);  // freed with its filter, as the frame does
      EXPECT_FALSE(
          decodeWith(toXdrProc(shape.filter), record.get(), Bytes(call.begin(), call.begin() + cut))
              .decoded)
          << shape.name << " cut at " << cut;
    }
  }
}

TEST(ArgumentRecords, FieldsLandInTheirNamedMembers) {
  Record find2(kShapes[6]);
  ASSERT_TRUE(decodeWith(toXdrProc(kShapes[6].filter), find2.get(), sampleCall(kShapes[6])).decoded);
  const auto& record = find2.as<HandleValueLongInt>();
  EXPECT_EQ(record.target, 1u);
  EXPECT_EQ(record.param1.kind, 10);
  EXPECT_EQ(std::u16string(record.param1.text), u"abc");
  EXPECT_EQ(record.param2, static_cast<udt_integer>(0xFFFFFF03));
  EXPECT_EQ(record.param3, 4);
}

TEST(ArgumentRecords, IndexCallIsTwoWords) {
  HandleLong ownedDiagramAt{7, 2};
  EXPECT_EQ(encode(X_HandleLong, ownedDiagramAt), words({7, 2}));
}

TEST(ArgumentRecords, FindWithTwoNullStringsIsTwentyFourBytes) {
  HandleValueValueInt find{};
  find.target = 3;
  find.param1.kind = -1;
  find.param2.kind = -1;
  find.param2.extra = 5;
  find.param3 = 1;
  EXPECT_EQ(encode(X_HandleValueValueInt, find),
            words({3, 0xFFFFFFFF, 0, 0xFFFFFFFF, 5, 1}));
}

TEST(ArgumentRecords, HandleValueIsTheHandleThenAtOnceTheHeader) {
  HandleValue setName{};
  setName.target = 9;
  setName.param1.kind = 10;
  setName.param1.text = heapText(u"A");
  EXPECT_EQ(encode(X_HandleValue, setName), words({9, 10, 0, 2, 'A', 0}));
  freeWith(X_HandleValue, setName);
}

TEST(ArgumentRecords, NullValueDoesNotStopTheFreePass) {
  // A null first value, then a text the free pass must still reach.
  HandleValueValue record{};
  ASSERT_TRUE(decode(X_HandleValueValue, record,
                     words({1, 0xFFFFFFFF, 0, 10, 0, 3, 'h', 'i', 0}))
                  .decoded);
  EXPECT_EQ(record.param1.kind, -1);
  ASSERT_NE(record.param2.text, nullptr);
  EXPECT_TRUE(freeWith(X_HandleValueValue, record));
  EXPECT_EQ(record.param2.text, nullptr);
}

TEST(ArgumentRecords, ClearedValueStopsTheFreePass) {
  HandleValueValue record{};
  record.param2.kind = 10;
  record.param2.text = heapText(u"x");
  EXPECT_FALSE(freeWith(X_HandleValueValue, record)) << "param1 is kind 0";
  EXPECT_NE(record.param2.text, nullptr);
  std::free(record.param2.text);
}

// Through the frame: one table entry per shape, whose routine re-encodes the
// record it was given.
Bytes reencoded;
InteropHandle resultSlot = 0;

template <std::size_t Index>
void* reencodeRecord(void* argp) {
  reencoded = encodeWith(toXdrProc(kShapes[Index].filter), argp).value_or(Bytes{});
  return &resultSlot;
}

template <std::size_t... Index>
std::vector<ProcedureEntry> shapeTable(std::index_sequence<Index...>) {
  return {ProcedureEntry{&reencodeRecord<Index>, kShapes[Index].filter, kShapes[Index].size,
                         untypedFilter<&X_InteropHandle>}...};
}

TEST(ArgumentRecords, EveryShapeDecodesARealCallThroughTheFrameAndIsFreed) {
  const std::vector<ProcedureEntry> table =
      shapeTable(std::make_index_sequence<std::size(kShapes)>());
  TestTransport transport;
  for (std::size_t i = 0; i < table.size(); ++i) {
    const Bytes call = sampleCall(kShapes[i]);
    transport.clear();
    transport.setArguments(call);
    reencoded.clear();
    svc_req request{};
    request.rq_proc = static_cast<std::uint32_t>(i + 1);
    qovix::runProcedure(table, &request, transport.xprt());
    ASSERT_EQ(transport.replies().size(), 1u) << kShapes[i].name;
    EXPECT_EQ(transport.replies()[0].status, ReplyStatus::Success) << kShapes[i].name;
    EXPECT_EQ(reencoded, call) << kShapes[i].name;
    EXPECT_EQ(transport.freeargsCalls(), 1) << kShapes[i].name;
  }
}

}  // namespace
