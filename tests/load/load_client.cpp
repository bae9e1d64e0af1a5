// qovix_load_client: one client of the load test. It creates tagged values
// in the repository, reads them back, changes their values, adds them to and
// removes them from its owner element's set, finds them by tag, and reads
// and releases collections, checking every answer against its own record of
// what it wrote. At the end it prints that record for the test to compare
// with what the repository holds.
//
//   qovix_load_client PORT tcp|udp CLIENT OPERATIONS SEED
//
// Output lines: "tagged TAG VALUE IN-OWNER" for each value it created, then
// "owner NAME MEMBERS", "held HANDLES" (handles it still holds) and
// "calls N". Exit status 0 when every answer matched; 1 at the first that
// did not, said on stderr; 2 for bad usage.

#include <cstdio>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/connection.h"
#include "client_model.h"

namespace {

using namespace qovix::client;

struct Tagged {
  TaggedValueRef handle;
  std::string tag;
  std::string value;
  bool inOwner = false;
};

template <class T>
void expectEqual(const T& actual, const T& expected, const std::string& what) {
  if (!(actual == expected)) throw std::runtime_error(what + " is not what was written");
}

class LoadClient {
 public:
  LoadClient(Connection& connection, int client, unsigned seed)
      : connection_(connection),
        client_(client),
        random_(seed),
        repository_{connection.repository()},
        owner_(ModelElement::create(connection, repository_)),
        ownerName_("owner-" + std::to_string(client)) {
    ModelElement::set_name(connection_, owner_, ownerName_);
  }

  void run(int operations) {
    for (int i = 0; i < operations; ++i) {
      const unsigned pick = random_() % 100;
      if (tagged_.empty() || pick < 25) {
        create();
      } else if (pick < 50) {
        read(any());
      } else if (pick < 65) {
        change(any());
      } else if (pick < 80) {
        toggleMembership(any());
      } else if (pick < 90) {
        find(any());
      } else {
        readOwnerSet();
      }
    }
  }

  void print() const {
    for (const Tagged& entry : tagged_) {
      std::printf("tagged %s %s %d\n", entry.tag.c_str(), entry.value.c_str(), entry.inOwner);
    }
    std::printf("owner %s %d\n", ownerName_.c_str(), members_);
    std::printf("held %zu\n", tagged_.size() + 1);
    std::printf("calls %llu\n", static_cast<unsigned long long>(connection_.callsMade()));
  }

 private:
  Tagged& any() { return tagged_[random_() % tagged_.size()]; }

  void create() {
    Tagged entry;
    entry.handle = TaggedValue::create(connection_, repository_);
    entry.tag.append("c")
        .append(std::to_string(client_))
        .append("-")
        .append(std::to_string(tagged_.size()));
    entry.value = "v0";
    TaggedValue::set_tag(connection_, entry.handle, entry.tag);
    TaggedValue::set_umlValue(connection_, entry.handle, entry.value);
    tagged_.push_back(std::move(entry));
  }

  void read(const Tagged& entry) {
    expectEqual(TaggedValue::get_tag(connection_, entry.handle), entry.tag, entry.tag + "'s tag");
    expectEqual(TaggedValue::get_umlValue(connection_, entry.handle), entry.value,
                entry.tag + "'s value");
  }

  void change(Tagged& entry) {
    entry.value = std::string("v").append(std::to_string(++changes_));
    TaggedValue::set_umlValue(connection_, entry.handle, entry.value);
  }

  void toggleMembership(Tagged& entry) {
    if (entry.inOwner) {
      ModelElement::rmv_taggedValue(connection_, owner_, entry.handle);
      --members_;
    } else {
      ModelElement::add_taggedValue(connection_, owner_, entry.handle);
      ++members_;
    }
    entry.inOwner = !entry.inOwner;
    expectEqual(ModelElement::contains_taggedValue(connection_, owner_, entry.handle),
                entry.inOwner ? 1 : 0, entry.tag + "'s membership");
    expectEqual(ModelElement::size_taggedValue(connection_, owner_), members_, "the set's size");
  }

  void find(const Tagged& entry) {
    const auto found = TaggedValue::find(connection_, repository_, "tag", entry.tag, 0);
    expectEqual(connection_.size(found.handle), 1, "the count found by " + entry.tag);
    const TaggedValueRef element{connection_.element(found.handle, 0)};
    expectEqual(TaggedValue::get_umlValue(connection_, element), entry.value,
                "the value found by " + entry.tag);
    release(element.handle);
    release(found.handle);
  }

  void readOwnerSet() {
    const auto set = ModelElement::get_taggedValue(connection_, owner_);
    expectEqual(connection_.size(set.handle), members_, "the set read whole");
    if (members_ > 0) {
      const TaggedValueRef element{
          connection_.element(set.handle, static_cast<std::int32_t>(random_() % members_))};
      const std::string tag = TaggedValue::get_tag(connection_, element);
      bool member = false;
      for (const Tagged& entry : tagged_) member = member || (entry.tag == tag && entry.inOwner);
      if (!member) throw std::runtime_error("the set holds " + tag + ", never added");
      release(element.handle);
    }
    release(set.handle);
  }

  void release(std::uint32_t handle) {
    if (!connection_.release(handle)) throw std::runtime_error("a handle read was not released");
  }

  Connection& connection_;
  int client_;
  std::mt19937 random_;
  RepositoryRef repository_;
  ModelElementRef owner_;
  std::string ownerName_;
  std::vector<Tagged> tagged_;
  std::int32_t members_ = 0;
  int changes_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fputs("usage: qovix_load_client PORT tcp|udp CLIENT OPERATIONS SEED\n", stderr);
    return 2;
  }
  const std::string transport = argv[2];
  try {
    Connection connection("127.0.0.1", static_cast<std::uint16_t>(std::atoi(argv[1])),
                          transport == "udp" ? Transport::Udp : Transport::Tcp);
    LoadClient client(connection, std::atoi(argv[3]),
                      static_cast<unsigned>(std::strtoul(argv[5], nullptr, 10)));
    client.run(std::atoi(argv[4]));
    client.print();
    return 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "client %s over %s: %s\n", argv[3], argv[2], error.what());
    return 1;
  }
}
