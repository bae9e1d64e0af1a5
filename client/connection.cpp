#include "client/connection.h"

#include <rpc/rpc.h>

#include "client/procedure_listing.h"
#include "client/rpc_port.h"
#include "qovix_protocol.h"
#include "wire_filters.h"
#include "xdr/argument_records.h"
#include "xdr/data_value.h"
#include "xdr/primitive_filters.h"
#include "xdr/xdr_filter.h"

namespace qovix::client {
namespace {

using namespace qovix::protocol;

ErrorKind kindOf(clnt_stat status) {
  switch (status) {
    case RPC_PROCUNAVAIL:
      return ErrorKind::ProcedureUnavailable;
    case RPC_CANTDECODEARGS:
      return ErrorKind::GarbageArguments;
    case RPC_SYSTEMERROR:
      return ErrorKind::SystemError;
    case RPC_TIMEDOUT:
      return ErrorKind::Timeout;
    case RPC_PROGVERSMISMATCH:
      return ErrorKind::VersionMismatch;
    case RPC_PROGUNAVAIL:
      return ErrorKind::ProgramUnavailable;
    case RPC_CANTSEND:
    case RPC_CANTRECV:
      return ErrorKind::ConnectionLost;
    case RPC_CANTDECODERES:
      return ErrorKind::UnexpectedReply;
    case RPC_AUTHERROR:
      return ErrorKind::AccessDenied;
    default:
      return ErrorKind::Other;
  }
}

// How a message names the call: "ModelElement.set_name", "the cast to
// Class", "the host service changes"; by numbers only where the listing
// has no such procedure.
std::string describe(std::uint32_t program, std::uint32_t version, std::uint32_t procedure) {
  if (program == kHostProgram) {
    const char* name = hostProcedureName(procedure);
    return name != nullptr ? std::string("the host service ") + name
                           : "host procedure " + std::to_string(procedure);
  }
  const ProcedureListing* row = findProcedure(version, program == kCastProgram ? 1 : procedure);
  if (row == nullptr) {
    return "class " + std::to_string(version) + " procedure " + std::to_string(procedure);
  }
  if (program == kCastProgram) return "the cast to " + displayClassName(row->className);
  return row->title;
}

}  // namespace

const char* toString(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::CannotConnect:
      return "cannot connect";
    case ErrorKind::ProcedureUnavailable:
      return "procedure unavailable";
    case ErrorKind::GarbageArguments:
      return "the server could not decode the arguments";
    case ErrorKind::SystemError:
      return "system error (the model failed the call; the server's log says why)";
    case ErrorKind::Timeout:
      return "no reply in time";
    case ErrorKind::VersionMismatch:
      return "no such class number";
    case ErrorKind::ProgramUnavailable:
      return "the server does not serve this program";
    case ErrorKind::ConnectionLost:
      return "the connection was lost";
    case ErrorKind::UnexpectedReply:
      return "the reply was not of the expected type";
    case ErrorKind::InvalidHandle:
      return "a handle names no object of the class the call needs";
    case ErrorKind::AccessDenied:
      return "refused: this client may not make the call (see qovixd's --access), or qovixd "
             "requires TLS";
    case ErrorKind::Other:
      break;
  }
  return "the call failed";
}

Value Value::ofText(std::int32_t valueClass, std::u16string text) {
  Value value;
  value.valueClass = valueClass;
  value.isText = true;
  value.text = std::move(text);
  return value;
}

Value Value::ofNumber(std::int32_t valueClass, std::int32_t number) {
  Value value;
  value.valueClass = valueClass;
  value.number = number;
  return value;
}

Connection::Connection(const std::string& host, std::uint16_t port, const TlsOptions& tls,
                       std::chrono::milliseconds timeout)
    : port_(std::make_unique<RpcPort>(host, port, tls, timeout)), transport_(Transport::Tcp) {
  try {
    ping();
  } catch (const Error& error) {
    // TLS 1.3 clients learn only on their first call that the server
    // refused their certificate.
    if (error.kind() != ErrorKind::ConnectionLost) throw;
    throw Error(ErrorKind::CannotConnect, "qovixd at " + port_->endpoint() +
                                              " ended the TLS session at once: it refused this "
                                              "client's certificate");
  }
}

Connection::Connection(const std::string& host, std::uint16_t port, Transport transport,
                       std::chrono::milliseconds timeout)
    : port_(std::make_unique<RpcPort>(host, port, TlsOptions{}, timeout)), transport_(transport) {
  try {
    ping();
  } catch (const Error& error) {
    // Over UDP nothing connects first: no server shows as no reply.
    if (transport == Transport::Udp &&
        (error.kind() == ErrorKind::ConnectionLost || error.kind() == ErrorKind::Timeout)) {
      throw Error(ErrorKind::CannotConnect,
                  "no answer from qovixd at " + port_->endpoint() + " over UDP");
    }
    throw;
  }
}

Connection::~Connection() = default;

Result Connection::invoke(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                          const std::vector<Field>& fields, ResultKind expected) {
  ++callsMade_;
  Result result;
  result.kind = expected;
  char* text = nullptr;
  udt_dataType value{};
  HandleLong pair{};
  void* into = nullptr;
  XdrFilter filter = &voidFilter;
  switch (expected) {
    case ResultKind::Void:
      break;
    case ResultKind::Handle:
      filter = untypedFilter<&X_InteropHandle>;
      into = &result.handle;
      break;
    case ResultKind::Int:
      filter = untypedFilter<&X_udt_boolean>;
      into = &result.number;
      break;
    case ResultKind::Long:
      filter = untypedFilter<&X_udt_integer>;
      into = &result.number;
      break;
    case ResultKind::OptionalString:
      filter = untypedFilter<&X_OptionalString>;
      into = &text;
      break;
    case ResultKind::DataValue:
      filter = untypedFilter<&X_VornDataType>;
      into = &value;
      break;
    case ResultKind::Pair:
      filter = untypedFilter<&X_HandleLong>;
      into = &pair;
      break;
  }
  send(program, version, procedure, fields, reinterpret_cast<UntypedFilter>(filter), into);
  if (expected == ResultKind::Pair) {
    result.handle = pair.target;
    result.number = pair.param1;
  } else if (expected == ResultKind::OptionalString) {
    if (text != nullptr) result.text = text;
    xdr_free(toXdrProc(&X_OptionalString), &text);
  } else if (expected == ResultKind::DataValue) {
    if (value.kind == kTextArm) {
      result.value =
          Value::ofText(value.extra, value.text != nullptr ? std::u16string(value.text) : u"");
    } else if (value.kind == kNumberArm) {
      result.value = Value::ofNumber(value.extra, value.value.integer);
    } else if (value.kind != kNullDataValue) {
      xdr_free(toXdrProc(&X_VornDataType), &value);
      throw Error(ErrorKind::UnexpectedReply, describe(program, version, procedure) +
                                                  ": a data value in arm " +
                                                  std::to_string(value.kind));
    }
    xdr_free(toXdrProc(&X_VornDataType), &value);
  }
  return result;
}

void Connection::send(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                      const std::vector<Field>& fields, UntypedFilter untyped, void* into) {
  const auto filter = reinterpret_cast<xdrproc_t>(untyped);
  Transport used = transport_;
  clnt_stat status = port_->send(used, program, version, procedure, fields, filter, into);
  if (status == RPC_SYSTEMERROR && used == Transport::Udp) {
    // qovixd answers a reply too large for UDP with the system error, and
    // undoes the call (it undoes every call that fails), so it is made
    // again over TCP. A call that failed for another reason fails again.
    xdr_free(filter, into);
    ++callsMade_;
    used = Transport::Tcp;
    status = port_->send(used, program, version, procedure, fields, filter, into);
  }
  if (status != RPC_SUCCESS) {
    const ErrorKind kind = kindOf(status);
    std::string message = describe(program, version, procedure) + ": " + toString(kind);
    if (const auto served = port_->versionsServed(used, program);
        kind == ErrorKind::VersionMismatch && served) {
      message += " (the server serves " + std::to_string(served->first) + ".." +
                 std::to_string(served->second) + ")";
    }
    xdr_free(filter, into);
    throw Error(kind, message);
  }
}

template <class T, class Filter>
T Connection::hostRecord(std::uint32_t procedure, const std::vector<Field>& fields, Filter filter) {
  ++callsMade_;
  T record;
  send(kHostProgram, kHostVersion, procedure, fields, reinterpret_cast<UntypedFilter>(filter),
       &record);
  return record;
}

CommitPage Connection::changes(std::uint64_t since) {
  return hostRecord<CommitPage>(kHostChanges, {Field::hyper(since)}, &X_CommitPage);
}

CommitPage Connection::history(std::uint32_t number, std::uint64_t before) {
  return hostRecord<CommitPage>(
      kHostHistory, {Field::number(static_cast<std::int32_t>(number)), Field::hyper(before)},
      &X_CommitPage);
}

CommitPage Connection::commit(std::uint64_t commit) {
  return hostRecord<CommitPage>(kHostCommit, {Field::hyper(commit)}, &X_CommitPage);
}

ObjectPage Connection::readObjects(const std::vector<std::uint32_t>& objects,
                                   std::uint32_t members) {
  std::vector<Field> fields{Field::number(static_cast<std::int32_t>(objects.size()))};
  for (std::uint32_t object : objects)
    fields.push_back(Field::number(static_cast<std::int32_t>(object)));
  fields.push_back(Field::number(static_cast<std::int32_t>(members)));
  return hostRecord<ObjectPage>(kHostReadObjects, fields, &X_ObjectPage);
}

MemberPage Connection::contents(std::uint32_t owner, std::uint64_t offset, std::uint32_t most) {
  return hostRecord<MemberPage>(
      kHostContents,
      {Field::number(static_cast<std::int32_t>(owner)), Field::hyper(offset),
       Field::number(static_cast<std::int32_t>(most))},
      &X_MemberPage);
}

SearchPage Connection::search(const std::string& text, std::uint32_t classNumber,
                              std::uint32_t most) {
  return hostRecord<SearchPage>(
      kHostSearch,
      {Field::of(text), Field::number(static_cast<std::int32_t>(classNumber)),
       Field::number(static_cast<std::int32_t>(most))},
      &X_SearchPage);
}

UndoAnswer Connection::undo(std::uint64_t commit) {
  return hostRecord<UndoAnswer>(kHostUndo, {Field::hyper(commit)}, &X_UndoAnswer);
}

Outcome Connection::repositoryAt(std::uint64_t commit) {
  return hostRecord<Outcome>(kHostAt, {Field::hyper(commit)}, &X_Outcome);
}

void Connection::setTimeout(std::chrono::milliseconds timeout) { port_->setTimeout(timeout); }
std::chrono::milliseconds Connection::timeout() const { return port_->timeout(); }

Outcome Connection::upload(const std::string& name, std::uint64_t offset, std::string bytes,
                           bool last) {
  return hostRecord<Outcome>(kHostUpload,
                             {Field::of(name), Field::hyper(offset), Field::number(last ? 1 : 0),
                              Field::of(std::move(bytes))},
                             &X_Outcome);
}

DocumentBytes Connection::download(const std::string& name, std::uint64_t offset) {
  return hostRecord<DocumentBytes>(kHostDownload, {Field::of(name), Field::hyper(offset)},
                                   &X_DocumentBytes);
}

Outcome Connection::importDocument(const std::string& document, std::uint32_t into,
                                   const std::string& title) {
  return hostRecord<Outcome>(
      kHostImport, {Field::of(document), Field::handle(into), Field::of(title)}, &X_Outcome);
}

Outcome Connection::exportDocument(std::uint32_t package, const std::string& format,
                                   const std::string& document) {
  return hostRecord<Outcome>(
      kHostExport, {Field::handle(package), Field::of(format), Field::of(document)}, &X_Outcome);
}

Outcome Connection::discardDocument(const std::string& name) {
  return hostRecord<Outcome>(kHostDiscard, {Field::of(name)}, &X_Outcome);
}

Outcome Connection::actFor(const std::string& user) {
  return hostRecord<Outcome>(kHostActFor, {Field::of(user)}, &X_Outcome);
}

Outcome Connection::setMultiplicity(std::uint32_t element, const std::string& text) {
  return hostRecord<Outcome>(kHostSetMultiplicity, {Field::handle(element), Field::of(text)},
                             &X_Outcome);
}

std::int32_t Connection::access() {
  return static_cast<std::int32_t>(
      invoke(kHostProgram, kHostVersion, kHostAccess, {}, ResultKind::Long).number);
}

std::uint32_t Connection::objectByNumber(std::uint32_t number) {
  return invoke(kHostProgram, kHostVersion, kHostObject,
                {Field::number(static_cast<std::int32_t>(number))}, ResultKind::Handle)
      .handle;
}

std::string displayClassName(const std::string& name) {
  return std::string(qovix::protocol::shortClassName(name));
}

namespace {

bool namesModelObject(const std::string& className) {
  return className.starts_with(qovix::protocol::kClassPrefix);
}

Error noObject(const Field& field, const std::string& why) {
  return Error(ErrorKind::InvalidHandle, "no object of class " +
                                             displayClassName(field.expectedClass) +
                                             " has handle " + std::to_string(field.word) + why);
}

}  // namespace

void Connection::checkHandle(const Field& field) {
  const std::string named = className(field.word);
  if (named.empty()) throw noObject(field, "");
  if (named != field.expectedClass) {
    throw noObject(field, " (it names a " + displayClassName(named) + "; cast it first)");
  }
  if (namesModelObject(named) && identity(field.word).object == 0) {
    throw noObject(field, " (its object was deleted)");
  }
}

void Connection::checkAfter(std::uint32_t procedure, const std::vector<Field>& fields,
                            const Result& result) {
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const Field& field = fields[i];
    if (field.kind != Field::Kind::Handle || field.expectedClass == nullptr ||
        !namesModelObject(field.expectedClass) || (i == 0 && procedure == kDestroyProcedure)) {
      continue;
    }
    if (identity(field.word).object == 0) {
      throw noObject(field,
                     ": its object went while the call was made, so the answer is the "
                     "procedure's previous one");
    }
  }
  if (result.kind == ResultKind::Handle && result.handle != 0 && className(result.handle).empty()) {
    throw Error(ErrorKind::InvalidHandle,
                "the call made nothing: it answered its previous result, handle " +
                    std::to_string(result.handle) + ", which names nothing");
  }
}

Result Connection::call(std::uint32_t classNumber, std::uint32_t procedure,
                        const std::vector<Field>& fields, ResultKind expected) {
  if (!checked_) return invoke(kModelProgram, classNumber, procedure, fields, expected);
  for (const Field& field : fields) {
    if (field.kind == Field::Kind::Handle && field.expectedClass != nullptr) checkHandle(field);
  }
  Result result = invoke(kModelProgram, classNumber, procedure, fields, expected);
  checkAfter(procedure, fields, result);
  return result;
}

std::uint32_t Connection::cast(std::uint32_t classNumber, std::uint32_t object, bool check) {
  return invoke(kCastProgram, classNumber, kCastProcedure,
                {Field::handle(object), Field::number(check ? 1 : 0)}, ResultKind::Handle)
      .handle;
}

void Connection::ping() { invoke(kHostProgram, kHostVersion, kHostNull, {}, ResultKind::Void); }

std::uint32_t Connection::repository() {
  return invoke(kHostProgram, kHostVersion, kHostRepository, {}, ResultKind::Handle).handle;
}

bool Connection::release(std::uint32_t handle) {
  return invoke(kHostProgram, kHostVersion, kHostRelease, {Field::handle(handle)}, ResultKind::Int)
             .number != 0;
}

std::int32_t Connection::size(std::uint32_t collection) {
  return invoke(kHostProgram, kHostVersion, kHostSize, {Field::handle(collection)},
                ResultKind::Long)
      .number;
}

std::uint32_t Connection::element(std::uint32_t collection, std::int32_t index) {
  return invoke(kHostProgram, kHostVersion, kHostElement,
                {Field::handle(collection), Field::number(index)}, ResultKind::Handle)
      .handle;
}

std::string Connection::className(std::uint32_t handle) {
  return invoke(kHostProgram, kHostVersion, kHostClassName, {Field::handle(handle)},
                ResultKind::OptionalString)
      .text.value_or("");
}

Connection::Identity Connection::identity(std::uint32_t handle) {
  // Two words: the object number and the class number.
  const Result first =
      invoke(kHostProgram, kHostVersion, kHostIdentity, {Field::handle(handle)}, ResultKind::Pair);
  return Identity{first.handle, static_cast<std::uint32_t>(first.number)};
}

std::string Connection::deletion(std::uint32_t handle) {
  std::optional<std::string> report = invoke(kHostProgram, kHostVersion, kHostDeletion,
                                             {Field::handle(handle)}, ResultKind::OptionalString)
                                          .text;
  if (!report) {
    throw Error(ErrorKind::InvalidHandle,
                "handle " + std::to_string(handle) + " names no model object to delete");
  }
  return *report;
}

std::int32_t Connection::deleteObject(std::uint32_t handle) {
  const std::int32_t count =
      invoke(kHostProgram, kHostVersion, kHostDelete, {Field::handle(handle)}, ResultKind::Long)
          .number;
  if (count < 0) {
    throw Error(ErrorKind::InvalidHandle,
                "handle " + std::to_string(handle) + " names no model object to delete");
  }
  return count;
}

std::int32_t Connection::handleCount() {
  return invoke(kHostProgram, kHostVersion, kHostHandleCount, {}, ResultKind::Long).number;
}

}  // namespace qovix::client
