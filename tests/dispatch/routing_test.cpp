// Class routing from the entry point, and the dispatchers generated from the
// catalogue.

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "class_dispatchers.h"
#include "dispatch/entry_point.h"
#include "dispatch/serve_class.h"
#include "tests/support/test_transport.h"
#include "tests/support/wire_bytes.h"
#include "xdr/primitive_filters.h"

namespace {

TEST(ClassRouting, NumbersOutside1To97AreUnavailable) {
  TestTransport transport;
  for (std::uint32_t classNumber : {0u, 98u, 0x80000000u, 0xFFFFFFFFu}) {
    for (std::int32_t templateId : {0, kCastTemplateId}) {
      const auto& replies =
          transport.call(QOVIX_server_1, {classNumber, templateId, 1}, words({1}));
      ASSERT_EQ(replies.size(), 1u) << "class " << classNumber;
      EXPECT_EQ(replies[0].status, ReplyStatus::ProcedureUnavailable);
      EXPECT_EQ(transport.getargsCalls(), 0);
    }
  }
}

TEST(ClassRouting, NullModelCallIsUnavailable) {
  TestTransport transport;
  svc_req request{};
  request.rq_proc = 1;
  QOVIX_server_1(&request, transport.xprt(), nullptr);
  ASSERT_EQ(transport.replies().size(), 1u);
  EXPECT_EQ(transport.replies()[0].status, ReplyStatus::ProcedureUnavailable);
}

TEST(ClassRouting, RoutesFollowTheCatalogueOrder) {
  ASSERT_EQ(kClassCount, 97u);
  EXPECT_STREQ(classRoutes[0].name, "QOVIXElement");
  EXPECT_EQ(classRoutes[0].dispatcher, &QOVIXElement_server_1);
  EXPECT_STREQ(classRoutes[1].name, "QOVIXTaggedValue");
  EXPECT_EQ(classRoutes[1].dispatcher, &QOVIXTaggedValue_server_1);
  EXPECT_STREQ(classRoutes[54].name, "QOVIXUseCase");
  EXPECT_EQ(classRoutes[54].dispatcher, &QOVIXUseCase_server_1);
  EXPECT_STREQ(classRoutes[96].name, "QOVIXActivityState");
  EXPECT_EQ(classRoutes[96].dispatcher, &QOVIXActivityState_server_1);

  std::set<std::string> names;
  std::set<ClassDispatcher> dispatchers;
  for (const ClassRoute& route : classRoutes) {
    names.insert(route.name);
    dispatchers.insert(route.dispatcher);
    EXPECT_EQ(std::string(route.name).rfind("QOVIX", 0), 0u) << route.name;
  }
  EXPECT_EQ(names.size(), kClassCount);
  EXPECT_EQ(dispatchers.size(), kClassCount);
}

// Each table's size is its class's highest procedure number (which the
// procedure tables' test holds to the catalogue): in all, every procedure
// and the numbers kept without one.
TEST(ClassRouting, TablesHoldEveryProcedureNumber) {
  std::size_t numbers = 0;
  for (const ClassRoute& route : classRoutes) numbers += route.procedures.size();
  EXPECT_EQ(numbers, 2649u + 4u) << "served procedures plus the four unassigned numbers";
}

TEST(ClassRouting, NumbersOutsideEachTableAreUnavailable) {
  TestTransport transport;
  for (std::uint32_t classNumber = 1; classNumber <= kClassCount; ++classNumber) {
    const auto highest = static_cast<std::uint32_t>(classRoutes[classNumber - 1].procedures.size());
    for (std::int32_t templateId : {0, 77, kCastTemplateId, 79}) {
      for (std::uint32_t procedure : {0u, highest + 1, 0xFFFFFFFFu}) {
        const auto& replies =
            transport.call(QOVIX_server_1, {classNumber, templateId, procedure}, words({1, 0}));
        ASSERT_EQ(replies.size(), 1u) << "class " << classNumber << " procedure " << procedure;
        ASSERT_EQ(replies[0].status, ReplyStatus::ProcedureUnavailable);
        ASSERT_EQ(transport.getargsCalls(), 0);
      }
    }
    const auto& second = transport.call(QOVIX_server_1, {classNumber, kCastTemplateId, 2}, {});
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].status, ReplyStatus::ProcedureUnavailable) << "a cast server has one";
  }
}

// Procedure 1 is create_0 for a class and the cast for its cast server: the
// one makes an object, the other (given no object) answers handle 0.
TEST(ClassRouting, TheCastTemplateReachesTheCastRoutine) {
  TestTransport transport;
  for (std::uint32_t classNumber = 1; classNumber <= kClassCount; ++classNumber) {
    const auto& cast =
        transport.call(QOVIX_server_1, {classNumber, kCastTemplateId, 1}, words({0, 1}));
    ASSERT_EQ(cast.size(), 1u);
    ASSERT_EQ(cast[0].status, ReplyStatus::Success);
    EXPECT_EQ(cast[0].body, words({0})) << "class " << classNumber;
    const auto& created = transport.call(QOVIX_server_1, {classNumber, 0, 1}, {});
    ASSERT_EQ(created.size(), 1u);
    ASSERT_EQ(created[0].status, ReplyStatus::Success);
    EXPECT_NE(created[0].body, words({0})) << "class " << classNumber;
  }
}

// The routing of serveClass, with a class whose cast server and table are
// the test's own.
struct ProbeClass {};
int castServerCalls = 0;
int tableRoutineCalls = 0;

}  // namespace

template <>
struct VornCast<ProbeClass> {
  static void server_1(svc_req*, SVCXPRT*) { ++castServerCalls; }
};

namespace {

InteropHandle probeSlot = 0;
void* probeRoutine(void*) {
  ++tableRoutineCalls;
  return &probeSlot;
}

constexpr ProcedureEntry kProbeTable[] = {
    {}, {}, {}, {}, {&probeRoutine, &voidFilter, 4, untypedFilter<&X_InteropHandle>}};

void serveProbe(std::int32_t templateId, std::uint32_t procedure) {
  TestTransport transport;
  svc_req request{};
  request.rq_proc = procedure;
  serveClass<ProbeClass>(kProbeTable, &request, transport.xprt(), templateId);
}

TEST(ClassDispatcher, CastTemplateGoesToTheCastServerWhateverTheProcedure) {
  castServerCalls = tableRoutineCalls = 0;
  for (std::uint32_t procedure : {0u, 1u, 5u, 6u, 0xFFFFFFFFu})
    serveProbe(kCastTemplateId, procedure);
  EXPECT_EQ(castServerCalls, 5);
  EXPECT_EQ(tableRoutineCalls, 0);
}

TEST(ClassDispatcher, OtherTemplatesRunTheClassTable) {
  castServerCalls = tableRoutineCalls = 0;
  for (std::int32_t templateId : {0, 77, 79, -78}) serveProbe(templateId, 5);
  EXPECT_EQ(castServerCalls, 0);
  EXPECT_EQ(tableRoutineCalls, 4);
}

}  // namespace
