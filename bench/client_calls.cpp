// The C++ side of the Python client's benchmark (python_client_bench.py):
// makes one kind of call on a qovixd for a while with the typed client and
// prints how many it made per second.
//
//   qovix_client_calls PORT get|set|create SECONDS

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client_model.h"

int main(int argc, char** argv) {
  using namespace qovix::client;
  using Clock = std::chrono::steady_clock;
  if (argc != 4) {
    std::fprintf(stderr, "usage: qovix_client_calls PORT get|set|create SECONDS\n");
    return 2;
  }
  const std::string operation = argv[2];
  Connection connection("127.0.0.1", static_cast<std::uint16_t>(std::atoi(argv[1])));
  const RepositoryRef repository{connection.repository()};
  const TaggedValueRef tagged = TaggedValue::create(connection, repository);
  TaggedValue::set_tag(connection, tagged, "author");
  const auto end = Clock::now() + std::chrono::duration<double>(std::atof(argv[3]));
  long calls = 0;
  const auto start = Clock::now();
  while (Clock::now() < end) {
    for (int i = 0; i < 100; ++i) {
      if (operation == "get") {
        TaggedValue::get_tag(connection, tagged);
      } else if (operation == "set") {
        TaggedValue::set_tag(connection, tagged, "author");
      } else {
        connection.release(TaggedValue::create(connection, repository).handle);
      }
    }
    calls += 100;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.0f\n", static_cast<double>(calls) / seconds);
  connection.release(tagged.handle);
  return 0;
}
