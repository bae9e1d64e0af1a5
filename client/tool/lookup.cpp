#include "client/tool/lookup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <regex>
#include <set>

#include "client/text.h"
#include "client/tool/suggestions.h"
#include "client_model.h"
#include "qovix_protocol.h"

namespace qovix::tool {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string withoutPrefix(const std::string& name) {
  for (const std::string_view prefix : {qovix::protocol::kClassPrefix, std::string_view("Vorn")}) {
    if (name.starts_with(prefix) && name.size() > prefix.size()) return name.substr(prefix.size());
  }
  return name;
}

template <class Number>
bool parseNumber(const std::string& text, Number& number) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
  return error == std::errc() && end == text.data() + text.size();
}

using ValueClass = client::ValueClassEntry;

const ValueClass* valueClassNamed(const std::string& text) {
  // Short forms people type.
  static const std::map<std::string, std::string> aliases = {
      {"name", "QOVIXName"},    {"string", "QOVIXString"}, {"text", "VornString"},
      {"bool", "QOVIXBoolean"}, {"int", "QOVIXInteger"},   {"integer", "QOVIXInteger"}};
  const std::string wanted = lower(text);
  const auto alias = aliases.find(wanted);
  for (const ValueClass& each : client::kValueClasses) {
    if (alias != aliases.end()
            ? alias->second == each.name
            : wanted == lower(each.name) || wanted == lower(withoutPrefix(each.name))) {
      return &each;
    }
  }
  return nullptr;
}

const ValueClass* valueClassOf(std::int32_t id) {
  for (const ValueClass& each : client::kValueClasses) {
    if (each.id == id) return &each;
  }
  return nullptr;
}

client::Value readValue(const ValueClass& valueClass, const std::string& text) {
  switch (valueClass.kind) {
    case ValueClass::Kind::Text:
      return client::Value::ofText(valueClass.id, client::toUtf16(text));
    case ValueClass::Kind::Number: {
      std::int32_t number = 0;
      if (!parseNumber(text, number)) throw UsageError("'" + text + "' is no integer");
      return client::Value::ofNumber(valueClass.id, number);
    }
    case ValueClass::Kind::Truth:
    case ValueClass::Kind::Literal:
      for (std::int32_t i = 0; i < valueClass.literalCount; ++i) {
        if (lower(text) == lower(valueClass.literals[i])) {
          return client::Value::ofNumber(valueClass.id, i);
        }
      }
      std::int32_t ordinal = 0;
      if (parseNumber(text, ordinal) && ordinal >= 0 && ordinal < valueClass.literalCount) {
        return client::Value::ofNumber(valueClass.id, ordinal);
      }
      break;
  }
  std::string known;
  for (std::int32_t i = 0; i < valueClass.literalCount; ++i) {
    known += (known.empty() ? "" : ", ") + std::string(valueClass.literals[i]);
  }
  throw UsageError("'" + text + "' is no " + valueClass.name + " (one of " + known + ")");
}

// The classes of the member's parameters, in order, as the signature writes
// them ("QOVIXName", "QOVIXNamespace&", "long").
std::vector<std::string> parameterTypes(const ProcedureListing& procedure) {
  static const std::regex parameters(R"(\(([^()]*)\))");
  std::smatch match;
  std::vector<std::string> types;
  const std::string member = procedure.member;
  if (!std::regex_search(member, match, parameters)) return types;
  std::string list = match[1];
  for (std::size_t start = 0; !list.empty() && start <= list.size();) {
    const std::size_t comma = list.find(", ", start);
    types.push_back(list.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 2;
  }
  return types;
}

// The class a handle parameter must name, as the host's class-name service
// writes it ("QOVIXNamespace", "VORN", "VornSet<QOVIXModelElement>"), from
// its type in the signature ("QOVIXNamespace const&"); null when the host
// names no such class. The text lives as long as the program.
const char* expectedClassOf(const std::string& type) {
  static std::set<std::string, std::less<>> interned;
  std::string name = type.substr(0, type.find_first_of(" &"));
  if (!name.starts_with(qovix::protocol::kClassPrefix) && name != "VORN" &&
      name.rfind("VornSet<", 0) != 0 && name.rfind("VornList<", 0) != 0 &&
      name.rfind("VornArray<", 0) != 0) {
    return nullptr;
  }
  return interned.insert(std::move(name)).first->c_str();
}

// The record's fields: H handle, L long, I int, V value.
std::string fieldsOf(const ProcedureListing& procedure) {
  const std::string argument = procedure.argument;
  if (argument == "xdr_void") return "";
  if (argument == "X_InteropHandle") return "H";
  std::string fields;
  static const std::regex part("Handle|Value|Long|Int");
  for (auto it = std::sregex_iterator(argument.begin(), argument.end(), part);
       it != std::sregex_iterator(); ++it) {
    fields += it->str()[0] == 'H'   ? 'H'
              : it->str()[0] == 'V' ? 'V'
              : it->str()[0] == 'L' ? 'L'
                                    : 'I';
  }
  return fields;
}

}  // namespace

std::uint32_t findClass(const std::string& text) {
  std::uint32_t number = 0;
  if (parseNumber(text, number)) {
    if (number >= 1 && number <= std::size(client::kClasses)) return number;
    throw UsageError("there is no class number " + text + " (1.." +
                     std::to_string(std::size(client::kClasses)) + ")");
  }
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < std::size(client::kClasses); ++i) {
    const std::string name = client::kClasses[i].name;
    if (lower(text) == lower(name) || lower(text) == lower(withoutPrefix(name))) return i + 1;
    names.push_back(withoutPrefix(name));
  }
  throw UsageError("there is no class '" + text + "'" + didYouMean(text, names));
}

const char* className(std::uint32_t classNumber) {
  if (classNumber == 0 || classNumber > std::size(client::kClasses)) return "(unknown class)";
  return client::kClasses[classNumber - 1].name;
}

bool isTextClass(std::int32_t valueClass) {
  const ValueClass* found = valueClassOf(valueClass);
  return found != nullptr && found->kind == ValueClass::Kind::Text;
}

std::vector<const ProcedureListing*> proceduresOf(std::uint32_t classNumber) {
  std::vector<const ProcedureListing*> found;
  for (std::size_t i = 0; i < kProcedureListingSize; ++i) {
    if (kProcedureListing[i].classNumber == classNumber) found.push_back(&kProcedureListing[i]);
  }
  return found;
}

std::string suffixOf(const ProcedureListing& procedure) {
  const std::string owner = procedure.className;
  const std::string suffix = std::string(procedure.label).substr(owner.size() + 1);
  return suffix.rfind(owner, 0) == 0 ? suffix.substr(owner.size()) : suffix;
}

const ProcedureListing& findProcedure(std::uint32_t classNumber, const std::string& text) {
  std::uint32_t number = 0;
  const bool byNumber = parseNumber(text, number);
  std::vector<std::string> names;
  for (const ProcedureListing* procedure : proceduresOf(classNumber)) {
    const std::string label = procedure->label;
    const std::string owner = procedure->className;
    const std::string suffix = label.substr(owner.size() + 1);
    // Operations repeat their class in the suffix ("QOVIXModelElementget_name_0");
    // "get_name_0" finds them too.
    const bool repeatsOwner = suffix.rfind(owner, 0) == 0;
    if (byNumber ? procedure->number == number
                 : text == label || text == suffix ||
                       (repeatsOwner && text == suffix.substr(owner.size()))) {
      return *procedure;
    }
    names.push_back(repeatsOwner ? suffix.substr(owner.size()) : suffix);
  }
  throw UsageError(std::string("class ") + className(classNumber) + " has no procedure '" + text +
                   "'" + (byNumber ? std::string() : didYouMean(text, names)) +
                   " (see: qovix procedures " + className(classNumber) + ")");
}

std::vector<client::Field> readArguments(const ProcedureListing& procedure,
                                         const std::vector<std::string>& words) {
  const std::string fields = fieldsOf(procedure);
  if (words.size() != fields.size()) {
    throw UsageError(std::string(procedure.label) + " takes " + std::to_string(fields.size()) +
                     " argument(s) (" + procedure.argument + "), not " +
                     std::to_string(words.size()));
  }
  std::vector<std::string> types = parameterTypes(procedure);
  // The leading handle of a member called on an object has no parameter:
  // it names an object of the procedure's class.
  if (types.size() + 1 == fields.size()) types.insert(types.begin(), procedure.className);
  std::vector<client::Field> read;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& word = words[i];
    if (fields[i] == 'V') {
      const std::size_t colon = word.find(':');
      const ValueClass* prefixed =
          colon == std::string::npos ? nullptr : valueClassNamed(word.substr(0, colon));
      std::string type = i < types.size() ? types[i] : "";
      type = type.substr(0, type.find(' '));
      const ValueClass* declared = valueClassNamed(type);
      const ValueClass* valueClass = prefixed != nullptr ? prefixed : declared;
      if (valueClass == nullptr)
        throw UsageError("argument " + std::to_string(i + 1) + " needs CLASS:VALUE");
      // The server would take a value of another class as no value at all,
      // and answer as if the call had been made.
      if (declared != nullptr && valueClass != declared) {
        throw UsageError("argument " + std::to_string(i + 1) + " is a " + declared->name +
                         ", not a " + valueClass->name + " (write it as " +
                         withoutPrefix(declared->name) + ":VALUE, or bare)");
      }
      read.push_back(
          client::Field::of(readValue(*valueClass, prefixed ? word.substr(colon + 1) : word)));
      continue;
    }
    if (fields[i] == 'H') {
      client::Field handle = readHandle(word, i + 1);
      handle.expectedClass = i < types.size() ? expectedClassOf(types[i]) : nullptr;
      read.push_back(handle);
    } else {
      read.push_back(readNumber(word, i + 1));
    }
  }
  return read;
}

client::Field readHandle(const std::string& word, std::size_t position) {
  if (word.size() > 1 && word[0] == '#') {
    std::uint32_t object = 0;
    if (!parseNumber(word.substr(1), object) || object == 0) {
      throw UsageError("argument " + std::to_string(position) + " is an object number #N, not '" +
                       word + "'");
    }
    client::Field byNumber = client::Field::handle(0);
    byNumber.wide = object;
    return byNumber;
  }
  std::uint32_t handle = 0;
  if (!parseNumber(word, handle)) {
    throw UsageError("argument " + std::to_string(position) + " is a handle, a number, not '" +
                     word + "'");
  }
  return client::Field::handle(handle);
}

std::vector<std::uint32_t> resolveObjectNumbers(client::Connection& connection,
                                                std::vector<client::Field>& fields) {
  std::vector<std::uint32_t> made;
  try {
    for (client::Field& field : fields) {
      if (field.kind != client::Field::Kind::Handle || field.wide == 0) continue;
      const auto object = static_cast<std::uint32_t>(field.wide);
      std::uint32_t handle = connection.objectByNumber(object);
      if (handle == 0) {
        throw client::Error(client::ErrorKind::InvalidHandle,
                            "there is no object #" + std::to_string(object));
      }
      made.push_back(handle);
      const std::string created = connection.className(handle);
      if (field.expectedClass != nullptr && created != field.expectedClass &&
          std::string_view(field.expectedClass).starts_with(qovix::protocol::kClassPrefix)) {
        handle = connection.cast(findClass(field.expectedClass), handle, true);
        made.push_back(handle);
        if (connection.identity(handle).object == 0) {
          throw client::Error(client::ErrorKind::InvalidHandle,
                              "object #" + std::to_string(object) + " is a " +
                                  client::displayClassName(created) + ", which is no " +
                                  client::displayClassName(field.expectedClass));
        }
      }
      field.word = handle;
      field.wide = 0;
    }
  } catch (...) {
    for (std::uint32_t handle : made) connection.release(handle);
    throw;
  }
  return made;
}

client::Field readNumber(const std::string& word, std::size_t position) {
  std::int32_t number = 0;
  if (word == "true" || word == "false") {
    number = word == "true" ? 1 : 0;
  } else if (!parseNumber(word, number)) {
    throw UsageError("argument " + std::to_string(position) + " is a number, not '" + word + "'");
  }
  return client::Field::number(number);
}

client::ResultKind resultKindOf(const ProcedureListing& procedure) {
  const std::string result = procedure.result;
  if (result == "X_InteropHandle") return client::ResultKind::Handle;
  if (result == "X_udt_boolean") return client::ResultKind::Int;
  if (result == "X_udt_integer") return client::ResultKind::Long;
  if (result == "X_OptionalString") return client::ResultKind::OptionalString;
  if (result == "X_VornDataType") return client::ResultKind::DataValue;
  return client::ResultKind::Void;
}

std::string formatValue(const client::Value& value) {
  if (value.isText) return client::toUtf8(value.text);
  const ValueClass* valueClass = valueClassOf(value.valueClass);
  if (valueClass != nullptr && value.number >= 0 && value.number < valueClass->literalCount) {
    return valueClass->literals[value.number];
  }
  return std::to_string(value.number);
}

std::string formatResult(client::Connection& connection, const client::Result& result) {
  switch (result.kind) {
    case client::ResultKind::Void:
      return "done";
    case client::ResultKind::Handle: {
      std::string text = std::to_string(result.handle);
      if (result.handle != 0) text.append(" ").append(connection.className(result.handle));
      return text;
    }
    case client::ResultKind::Int:
    case client::ResultKind::Long:
    case client::ResultKind::Pair:
      return std::to_string(result.number);
    case client::ResultKind::OptionalString:
      return result.text.value_or("(none)");
    case client::ResultKind::DataValue:
      if (!result.value) return "(null)";
      {
        const ValueClass* valueClass = valueClassOf(result.value->valueClass);
        return (valueClass != nullptr ? std::string(valueClass->name) + " " : std::string()) +
               formatValue(*result.value);
      }
  }
  return "";
}

nlohmann::json resultJson(client::Connection& connection, const client::Result& result) {
  switch (result.kind) {
    case client::ResultKind::Void:
      return {{"kind", "void"}};
    case client::ResultKind::Handle: {
      nlohmann::json made = {{"kind", "handle"}, {"handle", result.handle}};
      if (result.handle != 0) made["class"] = connection.className(result.handle);
      return made;
    }
    case client::ResultKind::Int:
    case client::ResultKind::Long:
    case client::ResultKind::Pair:
      return {{"kind", "number"}, {"value", result.number}};
    case client::ResultKind::OptionalString:
      return {{"kind", "string"}, {"value", result.text ? nlohmann::json(*result.text) : nullptr}};
    case client::ResultKind::DataValue:
      break;
  }
  if (!result.value) return {{"kind", "value"}, {"value", nullptr}};
  const ValueClass* valueClass = valueClassOf(result.value->valueClass);
  nlohmann::json made = {{"kind", "value"},
                         {"class", valueClass != nullptr ? valueClass->name : ""}};
  if (result.value->isText || valueClass == nullptr ||
      valueClass->kind == ValueClass::Kind::Number) {
    made["value"] = result.value->isText ? nlohmann::json(client::toUtf8(result.value->text))
                                         : nlohmann::json(result.value->number);
  } else if (valueClass->kind == ValueClass::Kind::Truth) {
    made["value"] = result.value->number != 0;
  } else {
    made["value"] = formatValue(*result.value);
    made["ordinal"] = result.value->number;
  }
  return made;
}

}  // namespace qovix::tool
