// The client library against a live qovixd: typed calls for every value
// class and result kind, errors as typed errors, and handle housekeeping.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <thread>

#include "client/connection.h"
#include "client/text.h"
#include "client_model.h"
#include "tests/support/server_process.h"
#include "utf/utf.h"

namespace {

using namespace qovix::client;

class Client : public ::testing::TestWithParam<Transport> {
 protected:
  static void SetUpTestSuite() { server = std::make_unique<ServerProcess>(); }
  static void TearDownTestSuite() { server.reset(); }

  void SetUp() override {
    connection = std::make_unique<Connection>("127.0.0.1", server->port(), GetParam());
    repository = RepositoryRef{connection->repository()};
  }

  static std::unique_ptr<ServerProcess> server;
  std::unique_ptr<Connection> connection;
  RepositoryRef repository;
};
std::unique_ptr<ServerProcess> Client::server;

TEST_P(Client, TextValuesRoundTripAsUtf8) {
  Connection& c = *connection;
  const auto tagged = TaggedValue::create(c, repository);
  for (const char* text : {"", "author", "Grüße \xE2\x98\xBA \xF0\x9F\x98\x80", "a\"b\\c"}) {
    TaggedValue::set_tag(c, tagged, text);
    EXPECT_EQ(TaggedValue::get_tag(c, tagged), text);
  }
  TaggedValue::set_umlValue(c, tagged, "uninterpreted");
  EXPECT_EQ(TaggedValue::get_umlValue(c, tagged), "uninterpreted");
  EXPECT_EQ(TaggedValue::label(c, tagged), "a\"b\\c = uninterpreted");
  EXPECT_THROW(TaggedValue::set_tag(c, tagged, "\xFF"), std::invalid_argument) << "not UTF-8";
  EXPECT_THROW(TaggedValue::set_tag(c, tagged, std::string("ab\0cd", 5)), std::invalid_argument)
      << "a NUL would end the text on the wire";
  EXPECT_EQ(TaggedValue::get_tag(c, tagged), "a\"b\\c");
}

// The longest text a value holds travels both ways (over TCP: a datagram
// cannot carry it); one unit more is refused by the client, and by the
// server when another client sends it.
TEST_P(Client, TheLongestTextTravelsAndLongerIsRefused) {
  if (GetParam() == Transport::Udp) GTEST_SKIP() << "512 KiB is no datagram";
  Connection& c = *connection;
  const auto tagged = TaggedValue::create(c, repository);
  const std::string longest(utf::kMostTextUnits, 'x');
  TaggedValue::set_tag(c, tagged, longest);
  EXPECT_EQ(TaggedValue::get_tag(c, tagged), longest);
  EXPECT_THROW(TaggedValue::set_tag(c, tagged, longest + "x"), std::invalid_argument);
  // TaggedValue (class 2) set_tag_0 (procedure 6) with a QOVIXName (value
  // class 1) of one unit more, sent untyped.
  const auto longer = Value::ofText(1, std::u16string(utf::kMostTextUnits + 1, u'x'));
  try {
    c.call(2, 6, {Field::handle(tagged.handle), Field::of(longer)}, ResultKind::Void);
    ADD_FAILURE() << "the server took a longer text";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::GarbageArguments) << error.what();
  }
  EXPECT_EQ(TaggedValue::get_tag(c, tagged), longest);
}

TEST_P(Client, EveryKindOfValue) {
  Connection& c = *connection;
  const auto end = AssociationEnd::create(c, repository);
  AssociationEnd::set_isNavigable(c, end, true);
  EXPECT_TRUE(AssociationEnd::get_isNavigable(c, end));
  AssociationEnd::set_aggregation(c, end, AggregationKind::Composite);
  EXPECT_EQ(AssociationEnd::get_aggregation(c, end), AggregationKind::Composite);
  AssociationEnd::set_changeable(c, end, ChangeableKind::AddOnly);
  EXPECT_EQ(AssociationEnd::get_changeable(c, end), ChangeableKind::AddOnly);
  AssociationEnd::set_targetScope(c, end, ScopeKind::Classifier);
  EXPECT_EQ(AssociationEnd::get_targetScope(c, end), ScopeKind::Classifier);

  const auto range = MultiplicityRange::create(c, repository);
  MultiplicityRange::set_lower(c, range, -7);
  EXPECT_EQ(MultiplicityRange::get_lower(c, range), -7);
  MultiplicityRange::set_upper(c, range, 2147483647);
  EXPECT_EQ(MultiplicityRange::get_upper(c, range), 2147483647);

  const auto pseudo = Pseudostate::create(c, repository);
  Pseudostate::set_kind(c, pseudo, PseudostateKind::Final);
  EXPECT_EQ(Pseudostate::get_kind(c, pseudo), PseudostateKind::Final);
  const auto parameter = Parameter::create(c, repository);
  Parameter::set_kind(c, parameter, ParameterDirectionKind::Return);
  EXPECT_EQ(Parameter::get_kind(c, parameter), ParameterDirectionKind::Return);
  const auto call = CallAction::create(c, repository);
  CallAction::set_mode(c, call, SynchronousKind::Asynchronous);
  EXPECT_EQ(CallAction::get_mode(c, call), SynchronousKind::Asynchronous);
  const auto operation = Operation::create(c, repository);
  Operation::set_concurrency(c, operation, CallConcurrencyKind::Guarded);
  EXPECT_EQ(Operation::get_concurrency(c, operation), CallConcurrencyKind::Guarded);
  const auto reference = ElementReference::create(c, repository);
  ElementReference::set_visibility(c, reference, VisibilityKind::Private);
  EXPECT_EQ(ElementReference::get_visibility(c, reference), VisibilityKind::Private);

  // Each text value class of the catalogue, through an attribute of its own.
  const auto action = Action::create(c, repository);
  Action::set_recurrence(c, action, "every day");
  EXPECT_EQ(Action::get_recurrence(c, action), "every day");
  Action::set_target(c, action, "all accounts");
  EXPECT_EQ(Action::get_target(c, action), "all accounts");
  Action::set_script(c, action, "run()");
  EXPECT_EQ(Action::get_script(c, action), "run()");
  const auto constraint = Constraint::create(c, repository);
  Constraint::set_body(c, constraint, "balance >= 0");
  EXPECT_EQ(Constraint::get_body(c, constraint), "balance >= 0");
  const auto method = Method::create(c, repository);
  Method::set_body(c, method, "{ }");
  EXPECT_EQ(Method::get_body(c, method), "{ }");
  const auto timeEvent = TimeEvent::create(c, repository);
  TimeEvent::set_duration(c, timeEvent, "5s");
  EXPECT_EQ(TimeEvent::get_duration(c, timeEvent), "5s");
  const auto refinement = Refinement::create(c, repository);
  Refinement::set_mapping(c, refinement, "a -> b");
  EXPECT_EQ(Refinement::get_mapping(c, refinement), "a -> b");
  const auto presentation = Presentation::create(c, repository);
  Presentation::set_geometry(c, presentation, "0 0 10 10");
  Presentation::set_style(c, presentation, "bold");
  EXPECT_EQ(Presentation::get_geometry(c, presentation), "0 0 10 10");
  EXPECT_EQ(Presentation::get_style(c, presentation), "bold");
  const auto multiplicity = Multiplicity::create(c, repository);
  Multiplicity::setValue(c, multiplicity, "0..*");
  EXPECT_EQ(Multiplicity::getValue(c, multiplicity), "0..*");
}

TEST_P(Client, EveryKindOfResult) {
  Connection& c = *connection;
  EXPECT_EQ(Class::className(c), "QOVIXClass");  // optional string
  EXPECT_EQ(Class::modelPrefix(c), "QOVIX");
  const auto space = Namespace::create(c, repository);  // handle
  const auto element = ModelElement::create(c, repository);
  Namespace::add_ownedElement(c, space, element);                     // void
  EXPECT_EQ(Namespace::size_ownedElement(c, space), 1);               // long
  EXPECT_EQ(Namespace::contains_ownedElement(c, space, element), 1);  // int
  EXPECT_EQ(Namespace::isNull_ownedElement(c, space), 0);
  const auto members = Namespace::get_ownedElement(c, space);  // collection handle
  EXPECT_EQ(c.size(members.handle), 1);
  EXPECT_EQ(c.className(members.handle), "VornSet<QOVIXModelElement>");
  const auto first = Namespace::get_ownedElement(c, space, 0);  // element handle
  EXPECT_EQ(c.identity(first.handle).object, c.identity(element.handle).object);
  EXPECT_TRUE(Package::checkWellFormedness(c, Package::create(c, repository)));  // data value
  // Casts: a handle to the same object, or to none when the class does not conform.
  const auto asElement = ModelElement::cast(c, first, true);
  EXPECT_EQ(c.identity(asElement.handle).object, c.identity(element.handle).object);
  EXPECT_EQ(c.className(asElement.handle), "QOVIXModelElement");
  const auto asClass = Class::cast(c, first, true);
  EXPECT_NE(asClass.handle, 0u);
  EXPECT_EQ(c.identity(asClass.handle).object, 0u);
  EXPECT_NE(c.identity(Class::cast(c, first, false).handle).object, 0u) << "unchecked";
}

TEST_P(Client, ReleasingAHandleMakesItInvalid) {
  Connection& c = *connection;
  const auto aClass = Class::create(c, repository);
  EXPECT_EQ(c.className(aClass.handle), "QOVIXClass");
  EXPECT_TRUE(c.release(aClass.handle));
  EXPECT_EQ(c.className(aClass.handle), "");
  EXPECT_FALSE(c.release(aClass.handle));
  EXPECT_EQ(c.identity(aClass.handle).object, 0u);
  EXPECT_FALSE(Class::get_isActive(c, aClass)) << "an invalid handle reads the default";
}

TEST_P(Client, CheckedCallsRefuseHandlesThatNameNoObjectOfTheirClass) {
  Connection& c = *connection;
  const auto tagged = TaggedValue::create(c, repository);
  TaggedValue::set_tag(c, tagged, "mine");
  const auto other = TaggedValue::create(c, repository);
  TaggedValue::destroy(c, other);
  c.setChecked(true);
  auto refusal = [&](auto&& call) {
    const std::uint64_t made = c.callsMade();
    try {
      call();
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::InvalidHandle);
      EXPECT_LE(c.callsMade() - made, 2u) << "only the checks were sent";
      return std::string(error.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(refusal([&] { TaggedValue::get_tag(c, TaggedValueRef{999}); }),
            "no object of class TaggedValue has handle 999");
  EXPECT_EQ(refusal([&] { ModelElement::get_name(c, ModelElementRef{tagged.handle}); }),
            "no object of class ModelElement has handle " + std::to_string(tagged.handle) +
                " (it names a TaggedValue; cast it first)");
  EXPECT_EQ(refusal([&] { TaggedValue::set_tag(c, other, "x"); }),
            "no object of class TaggedValue has handle " + std::to_string(other.handle));
  EXPECT_EQ(TaggedValue::get_tag(c, tagged), "mine");
  TaggedValue::destroy(c, TaggedValue::create(c, repository));  // its handle goes, as it should
  c.setChecked(false);
  EXPECT_EQ(TaggedValue::get_tag(c, TaggedValueRef{999}), "mine") << "unchecked: the previous answer";
}

TEST_P(Client, ErrorsAreTypedAndSayWhat) {
  Connection& c = *connection;
  auto kindOf = [](auto&& call) {
    try {
      call();
    } catch (const Error& error) {
      EXPECT_NE(std::string(error.what()), "");
      return error.kind();
    }
    return ErrorKind::Other;
  };
  EXPECT_EQ(kindOf([&] { c.call(1, 99, {}, ResultKind::Void); }), ErrorKind::ProcedureUnavailable);
  EXPECT_EQ(kindOf([&] { c.call(98, 1, {}, ResultKind::Handle); }), ErrorKind::VersionMismatch);
  EXPECT_EQ(kindOf([&] { c.invoke(0x20241003, 1, 0, {}, ResultKind::Void); }),
            ErrorKind::ProgramUnavailable);
  // set_tag with its handle and no value.
  EXPECT_EQ(kindOf([&] { c.call(2, 6, {Field::handle(1)}, ResultKind::Void); }),
            ErrorKind::GarbageArguments);
  const auto classifier = Classifier::create(c, repository);
  EXPECT_EQ(kindOf([&] { Classifier::get_feature(c, classifier, 5); }), ErrorKind::SystemError);
  // A number where a text value was expected: the reply is of another class.
  const auto tagged = TaggedValue::create(c, repository);
  EXPECT_EQ(kindOf([&] {
              textOf(c.call(2, 5, {Field::handle(tagged.handle)}, ResultKind::DataValue), 99);
            }),
            ErrorKind::UnexpectedReply);
  try {
    c.call(98, 1, {}, ResultKind::Handle);
  } catch (const Error& error) {
    EXPECT_NE(std::string(error.what()).find("1..97"), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(OverTcpAndUdp, Client, ::testing::Values(Transport::Tcp, Transport::Udp),
                         [](const auto& test) {
                           return test.param == Transport::Tcp ? "Tcp" : "Udp";
                         });

// A port with nothing behind it.
std::uint16_t closedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

TEST(ClientFailures, NoServerIsCannotConnect) {
  try {
    Connection connection("127.0.0.1", closedPort());
    ADD_FAILURE() << "connected to nothing";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::CannotConnect);
    EXPECT_NE(std::string(error.what()).find("cannot reach qovixd"), std::string::npos);
  }
  EXPECT_THROW(Connection("no-such-host.invalid", 1), Error);
  // Over UDP, where nothing connects first, no server is no answer.
  try {
    Connection connection("127.0.0.1", closedPort(), Transport::Udp, std::chrono::milliseconds(500));
    ADD_FAILURE() << "an answer over UDP from nothing";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::CannotConnect);
    EXPECT_NE(std::string(error.what()).find("no answer from qovixd at 127.0.0.1:"),
              std::string::npos)
        << error.what();
    EXPECT_NE(std::string(error.what()).find(" over UDP"), std::string::npos) << error.what();
  }
}

// `--host ::1` reaches a qovixd bound to IPv6 loopback, over both transports.
TEST(ClientAddresses, IPv6LiteralsWork) {
  ServerProcess server({"--bind", "::1"});
  for (Transport transport : {Transport::Tcp, Transport::Udp}) {
    Connection connection("::1", server.port(), transport);
    EXPECT_NE(connection.repository(), 0u);
  }
}

TEST(ClientFailures, SilenceIsATimeout) {
  // A listener that accepts and never answers.
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(listener, 4);
  socklen_t length = sizeof address;
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  try {
    Connection connection("127.0.0.1", ntohs(address.sin_port), Transport::Tcp,
                          std::chrono::milliseconds(300));
    ADD_FAILURE() << "an answer from silence";
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::Timeout);
  }
  close(listener);
}

TEST(ClientFailures, AServerThatGoesAwayIsAConnectionLost) {
  auto server = std::make_unique<ServerProcess>();
  Connection connection("127.0.0.1", server->port());
  const RepositoryRef repository{connection.repository()};
  server->stop(SIGKILL);
  try {
    Class::create(connection, repository);
    ADD_FAILURE() << "called a dead server";
  } catch (const Error& error) {
    EXPECT_TRUE(error.kind() == ErrorKind::ConnectionLost ||
                error.kind() == ErrorKind::CannotConnect)
        << error.what();
  }
}

// qovixd closes idle connections; the next call reconnects first, and the
// handles from before still name their objects.
TEST(ClientFailures, AConnectionClosedForIdlenessIsReopenedBeforeTheNextCall) {
  ServerProcess server({"--idle-seconds", "1"});
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const auto model = Model::create(connection, repository);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(connection.className(model.handle), "QOVIXModel");
  EXPECT_EQ(connection.repository(), repository.handle);
}

TEST(ClientLoad, ReadingAndReleasingKeepsTheRegistryFlat) {
  ServerProcess server;
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const auto tagged = TaggedValue::create(connection, repository);
  TaggedValue::set_modelElement(connection, tagged, ModelElement::create(connection, repository));
  const std::int32_t before = connection.handleCount();
  for (int i = 0; i < 100000; ++i) {
    const auto element = TaggedValue::get_modelElement(connection, tagged);
    ASSERT_TRUE(connection.release(element.handle)) << i;
  }
  EXPECT_EQ(connection.handleCount(), before);
}

TEST(ClientText, Utf8AndUtf16) {
  EXPECT_EQ(toUtf16("a\xC3\xA9\xF0\x9F\x98\x80"), u"a\u00E9\U0001F600");
  EXPECT_EQ(toUtf8(u"a\u00E9\U0001F600"), "a\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(toUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  for (const char* bad : {"\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE2\x82", "\x80"}) {
    EXPECT_THROW(toUtf16(bad), std::invalid_argument) << bad;
  }
}

}  // namespace
