#pragma once

// What a failed call of the client library says: its kind and a message.
// Every failure is a qovix::client::Error; no call quietly answers zero.

#include <stdexcept>
#include <string>

namespace qovix::client {

enum class ErrorKind {
  CannotConnect,         // no server there, or the host name does not resolve
  ProcedureUnavailable,  // no such procedure (or class)
  GarbageArguments,      // the server could not decode the arguments
  SystemError,           // the model failed the call (see the server's log)
  Timeout,               // no reply in time
  VersionMismatch,       // no such class number (version) in the program
  ProgramUnavailable,    // not a qovixd
  ConnectionLost,        // the connection broke
  UnexpectedReply,       // a reply of another type than the procedure's
  Other,
  // With checks on (Connection::setChecked): a handle that names no object
  // of the class the call needs, or a call whose result turned out to be
  // the routine's previous one.
  InvalidHandle,
  AccessDenied,  // the server refused the call: its principal may not make it, or TLS is required
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

const char* toString(ErrorKind kind);

}  // namespace qovix::client
