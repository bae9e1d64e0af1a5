#pragma once

// Who may do what: the access file (--access) maps principals to none, read
// or write. A principal is a client certificate's subject, or the peer
// address of a client without one.
//
//   # LEVEL  PRINCIPAL (the rest of the line; * for everyone else)
//   write    CN=alice,O=Modelling
//   read     CN=bob,O=Modelling
//   read     127.0.0.1
//   vouch    CN=qovix-web,O=Modelling
//   write    user:carol
//   none     *
//
// An exact name wins over `*`; a principal the file does not name, with no
// `*` line, has no access. Without a file everyone may write.
//
// `vouch` trusts a client certificate to make its connections' calls for
// users it names (a web server for the people signed in to it), who are
// `user:NAME` here; it gives no access of its own.

#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

enum class Access { None, Read, Write };

class AccessPolicy {
 public:
  // Everyone may write: what qovixd does without --access.
  AccessPolicy() = default;
  // Reads an access file; throws HostError naming the file and the line at
  // fault.
  static AccessPolicy load(const std::string& path);
  // The same from text; `name` stands for the file in messages.
  static AccessPolicy parse(std::string_view text, const std::string& name);

  Access of(const std::string& principal) const;
  // Whether the file trusts `principal` to act for users.
  bool vouches(const std::string& principal) const { return vouchers_.count(principal) > 0; }

 private:
  bool inForce_ = false;
  std::unordered_map<std::string, Access> named_;
  std::unordered_set<std::string> vouchers_;
  Access others_ = Access::None;
  bool othersGiven_ = false;
};
