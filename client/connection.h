#pragma once

// A connection to a qovixd: calls any procedure of the model, cast and host
// programs with arguments given as fields, and gives back its result. The
// typed calls of client_model.h and the qovix tool build on it.
//
//   qovix::client::Connection server("127.0.0.1", 20241);
//   auto repository = server.repository();
//
// Every failure is a qovix::client::Error (error.h) saying what went wrong;
// no call quietly answers zero.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "call_fields.h"
#include "error.h"
#include "tls_options.h"
#include "wire_records.h"

namespace qovix::client {

class RpcPort;

// One client's connection to qovixd. A call that times out or breaks drops
// its socket, so no later call reads its late reply, and a socket the
// server closed while idle is made again before the next call is sent.
// Handles live in the server, so they outlast a new socket. A Connection
// serves one thread at a time: give each thread its own.
class Connection {
 public:
  // Resolves `host` (a name, or an IPv4 or IPv6 address) and checks the server
  // answers; throws Error(CannotConnect) otherwise. Over UDP, a call that
  // gets the system error is made again over TCP: qovixd answers so when a
  // reply is too large for UDP, and a call that fails leaves nothing of
  // itself, so making it again is safe.
  Connection(const std::string& host, std::uint16_t port, Transport transport = Transport::Tcp,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Over RPC-with-TLS (TCP only), when `tls.enabled`: every call travels in
  // the TLS session, which is made again when the server closed it. A
  // connection that asked for TLS never goes on in plain text.
  Connection(const std::string& host, std::uint16_t port, const TlsOptions& tls,
             std::chrono::milliseconds timeout = std::chrono::seconds(10));
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  Result invoke(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
                const std::vector<Field>& fields, ResultKind expected);

  // With checks on (off by default), a model call first asks the host
  // services whether every handle field that says its class names a live
  // object of exactly that class, and sends nothing when one does not; after
  // the call it asks again, since a routine whose handle turned out invalid
  // answers its previous result, and checks that a handle result names
  // something. Each failure is Error(InvalidHandle). A check costs one or
  // two calls per handle before and one after.
  void setChecked(bool checked) { checked_ = checked; }
  bool checked() const { return checked_; }

  // A model procedure of a class.
  Result call(std::uint32_t classNumber, std::uint32_t procedure, const std::vector<Field>& fields,
              ResultKind expected);
  // A handle to the object seen as `classNumber` (with `check`, an empty one
  // unless the object's class conforms).
  std::uint32_t cast(std::uint32_t classNumber, std::uint32_t object, bool check);

  // Host services.
  void ping();
  std::uint32_t repository();
  bool release(std::uint32_t handle);
  std::int32_t size(std::uint32_t collection);
  std::uint32_t element(std::uint32_t collection, std::int32_t index);
  std::string className(std::uint32_t handle);
  std::int32_t handleCount();
  // The persistent object a handle names: its number and the class it was
  // created as; {0, 0} for none.
  struct Identity {
    std::uint32_t object = 0;
    std::uint32_t classNumber = 0;
  };
  Identity identity(std::uint32_t handle);
  // Deletes the model element the handle names from the repository, with
  // what it owns and what cannot stand without it; how many objects went.
  // Every handle to them is dropped. Error(InvalidHandle) for a handle that
  // names no model object (or the repository).
  std::int32_t deleteObject(std::uint32_t handle);
  // What deleteObject would delete, deleting nothing: a line per class,
  // "COUNT CLASS", the element's first. Error(InvalidHandle) as there.
  std::string deletion(std::uint32_t handle);

  // The history, where qovixd keeps it (--history). The changes feed: the
  // commits after `since`, oldest first, a page at a time, with the last
  // commit's number; ask again with the last one seen to follow.
  CommitPage changes(std::uint64_t since);
  // The commits that touched object `number`, newest first, before commit
  // `before` (0: from the newest), a page at a time, with their changes.
  CommitPage history(std::uint32_t number, std::uint64_t before = 0);
  // One commit with its changes (at most 10,000); no commit for none.
  CommitPage commit(std::uint64_t commit);
  // Takes commit `commit` back as a new commit; its refusal says why not.
  UndoAnswer undo(std::uint64_t commit);
  // A new handle to the repository as it was at commit `commit`: what is
  // read through it, and through the handles it gives, is that state, and a
  // write through them is refused (Error(SystemError)). Outcome 0 and why
  // for a commit that cannot be read.
  Outcome repositoryAt(std::uint64_t commit);
  // A new handle to the object with that persistent number, of the class
  // it was created as; 0 for none.
  std::uint32_t objectByNumber(std::uint32_t number);

  // Many objects in one call, by persistent number: each one's class and
  // slots, naming at most `members` of each collection. As many as fit one
  // reply (at most kMostObjectsRead): ask again for those it leaves out.
  ObjectPage readObjects(const std::vector<std::uint32_t>& objects, std::uint32_t members);
  // A page of the namespace's contents (owner 0: the top-level packages),
  // from `offset`, at most `most`, with how many there are in all.
  MemberPage contents(std::uint32_t owner, std::uint64_t offset, std::uint32_t most);
  // Model elements by name, in any letter case, best first: named `text`,
  // then beginning with it, then holding it; of the class `classNumber` or
  // a subclass (0: any element); at most `most`.
  SearchPage search(const std::string& text, std::uint32_t classNumber, std::uint32_t most);

  // Documents of qovixd's document folder (--documents), which travel in
  // chunks of at most kDocumentChunkBytes. Each answers a refusal as an
  // Outcome of 0 with its reason (a DocumentBytes' refusal).
  // A chunk of the document `name`, sent from `offset`; `last` puts the
  // whole in place. Answers the bytes received.
  Outcome upload(const std::string& name, std::uint64_t offset, std::string bytes, bool last);
  DocumentBytes download(const std::string& name, std::uint64_t offset);
  // Imports the document into the package `into` (0: standing alone); a new
  // handle of the package, and the import's report.
  Outcome importDocument(const std::string& document, std::uint32_t into, const std::string& title);
  // Exports the package; the document's size.
  Outcome exportDocument(std::uint32_t package, const std::string& format,
                         const std::string& document);
  Outcome discardDocument(const std::string& name);

  // Makes this connection's later calls for the user `user`, on the word of
  // its client certificate, which qovixd's access file must trust with a
  // `vouch` line; the user's access (1 read, 2 write), or 0 and why not.
  Outcome actFor(const std::string& user);
  // What the caller may do: 0 nothing, 1 read, 2 write.
  std::int32_t access();
  // Sets the multiplicity of the attribute or association end `element`
  // ("0..*"; "" removes it); 1, or 0 and why not.
  Outcome setMultiplicity(std::uint32_t element, const std::string& text);

  Transport transport() const { return transport_; }
  // How long a call waits for its reply (10 s unless set): an import or
  // export of a large document takes longer.
  void setTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds timeout() const;
  // Calls made on this connection, answered or not.
  std::uint64_t callsMade() const { return callsMade_; }

 private:
  // Sends a call whose result `filter` reads into `into`; over UDP, made
  // again over TCP after the system error. Throws Error for every answer
  // but success, `into` freed.
  // (`filter` is an XDR filter, its XDR* untyped so that this header
  // names no runtime type.)
  using UntypedFilter = int (*)(void* xdrs, void* object);
  void send(std::uint32_t program, std::uint32_t version, std::uint32_t procedure,
            const std::vector<Field>& fields, UntypedFilter filter, void* into);
  // A host service's call, its result a record of type T that `filter`
  // (its XDR filter) reads.
  template <class T, class Filter>
  T hostRecord(std::uint32_t procedure, const std::vector<Field>& fields, Filter filter);

  // The checks of a checked call, before it and after it.
  void checkHandle(const Field& field);
  void checkAfter(std::uint32_t procedure, const std::vector<Field>& fields, const Result& result);

  // The wire (the runtime's clients, or the TLS channel): private to the
  // library, so that this header names no runtime or TLS type.
  std::unique_ptr<RpcPort> port_;
  Transport transport_;
  std::uint64_t callsMade_ = 0;
  bool checked_ = false;
};

// A class as messages name it: "TaggedValue" for QOVIXTaggedValue, other
// names as they are.
std::string displayClassName(const std::string& name);

}  // namespace qovix::client
