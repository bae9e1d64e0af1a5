// A tiny client built outside the source tree against the installed client
// library, with find_package(Qovix) or pkg-config:
//
//   outside_client HOST PORT
//
// sets and reads a tagged value's tag on a live qovixd and finds a procedure
// in the listing. Exit status 0 when both gave what they should.

#include <qovix/client/procedure_listing.h>
#include <qovix/client_model.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  using namespace qovix::client;
  if (argc != 3) {
    std::fprintf(stderr, "usage: outside_client HOST PORT\n");
    return 2;
  }
  try {
    Connection server(argv[1], static_cast<std::uint16_t>(std::atoi(argv[2])));
    const RepositoryRef repository{server.repository()};
    const TaggedValueRef tagged = TaggedValue::create(server, repository);
    TaggedValue::set_tag(server, tagged, "built outside");
    const std::string tag = TaggedValue::get_tag(server, tagged);
    server.release(tagged.handle);
    const ProcedureListing* getTag = findProcedureByLabel("QOVIXTaggedValue_get_tag_0");
    if (tag != "built outside" || getTag == nullptr || getTag->number != 5) {
      std::fprintf(stderr, "outside_client: read back '%s'; get_tag_0 is %s\n", tag.c_str(),
                   getTag == nullptr ? "not listed" : "misnumbered");
      return 1;
    }
    std::printf("tag %s\n", tag.c_str());
    return 0;
  } catch (const Error& error) {
    std::fprintf(stderr, "outside_client: %s\n", error.what());
    return 1;
  }
}
