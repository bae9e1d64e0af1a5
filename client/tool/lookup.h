#pragma once

// Finding classes and procedures by what a person types, and reading
// command-line arguments as the fields of a procedure's argument record.

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client/procedure_listing.h"

namespace qovix::tool {

// A mistake in how the tool was called; exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A class by number or by name, with or without the QOVIX prefix, in any
// letter case.
std::uint32_t findClass(const std::string& text);
// "(unknown class)" for a number no class has.
const char* className(std::uint32_t classNumber);
// Whether values of the value class are texts.
bool isTextClass(std::int32_t valueClass);

// A procedure of the class by number, label suffix ("get_tag_0") or label.
const ProcedureListing& findProcedure(std::uint32_t classNumber, const std::string& text);

// The procedure's label without its class: "get_tag_0", and "get_name_0"
// for an operation, whose label repeats its class.
std::string suffixOf(const ProcedureListing& procedure);

// Every procedure of the class, in number order.
std::vector<const ProcedureListing*> proceduresOf(std::uint32_t classNumber);

// The procedure's arguments, read from `words` by its record: handles and
// numbers as decimal numbers, values as `CLASS:TEXT` (name:Account,
// string:x, bool:true, int:5, VisibilityKind:private) or bare, read as the
// parameter's own value class.
std::vector<client::Field> readArguments(const ProcedureListing& procedure,
                                         const std::vector<std::string>& words);

// One argument: a handle, or a number (true and false read as 1 and 0).
// `position` counts from 1, for the message.
// A handle, or an object's persistent number written #N (then the field's
// `wide` holds the number, and resolveObjectNumbers makes its handle).
client::Field readHandle(const std::string& word, std::size_t position);
// Gives each field written #N a new handle to that object, seen as the
// class the field expects; the handles it made, for the caller to release.
// Error(InvalidHandle) for a number no object has, or one of another class.
std::vector<std::uint32_t> resolveObjectNumbers(client::Connection& connection,
                                                std::vector<client::Field>& fields);
client::Field readNumber(const std::string& word, std::size_t position);

// The kind of result the procedure's result filter gives.
client::ResultKind resultKindOf(const ProcedureListing& procedure);

// A result as a person reads it.
std::string formatResult(client::Connection& connection, const client::Result& result);

// A result for programs: {"kind": "handle", "handle": 7, "class": "QOVIXClass"},
// {"kind": "value", "class": "QOVIXName", "value": "author"} and so on.
nlohmann::json resultJson(client::Connection& connection, const client::Result& result);

// A value as a person reads it: text as is, a literal by name, a number.
std::string formatValue(const client::Value& value);

}  // namespace qovix::tool
