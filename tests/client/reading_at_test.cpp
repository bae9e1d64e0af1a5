// The repository as it was at a commit, through a handle of its own: what
// is read through it and the handles it gives is that state, and nothing
// can be written there.

#include <gtest/gtest.h>

#include <string>

#include "client/connection.h"
#include "client/error.h"
#include "client_model.h"
#include "tests/support/server_process.h"
#include "tests/support/temporary_folder.h"

namespace {

using namespace qovix::client;

// The elements of `repository` named `name`.
int namedCount(Connection& connection, RepositoryRef repository, const std::string& name) {
  const auto found = ModelElement::find(connection, repository, "name", name, 1);
  const int count = static_cast<int>(connection.size(found.handle));
  connection.release(found.handle);
  return count;
}

TEST(ReadingAtACommit, AHandleReadsThatStateFindsThereAndRefusesEveryWrite) {
  TemporaryFolder folder;
  ServerProcess server({"--store", (folder.path() / "repository.sqlite3").string()});
  Connection connection("127.0.0.1", server.port());
  const RepositoryRef repository{connection.repository()};
  const ModelElementRef loan = ModelElement::create(connection, repository);
  ModelElement::set_name(connection, loan, "Loan");
  const std::uint64_t named = connection.changes(UINT64_MAX).last;
  ModelElement::set_name(connection, loan, "Credit");
  ModelElement::set_name(connection, ModelElement::create(connection, repository), "Fee");

  const qovix::Outcome at = connection.repositoryAt(named);
  ASSERT_NE(at.value, 0u) << at.text;
  const RepositoryRef then{static_cast<std::uint32_t>(at.value)};
  EXPECT_EQ(namedCount(connection, then, "Loan"), 1);
  EXPECT_EQ(namedCount(connection, then, "Credit"), 0);
  EXPECT_EQ(namedCount(connection, then, "Fee"), 0) << "made later";
  EXPECT_EQ(namedCount(connection, repository, "Credit"), 1) << "the latest, as it is";

  const auto found = ModelElement::find(connection, then, "name", "Loan", 1);
  const ModelElementRef loanThen{connection.element(found.handle, 0)};
  EXPECT_EQ(ModelElement::get_name(connection, loanThen), "Loan");
  EXPECT_EQ(connection.identity(loanThen.handle).object, connection.identity(loan.handle).object);
  try {
    ModelElement::set_name(connection, loanThen, "Rewritten");
    ADD_FAILURE() << "a write at a commit was kept";
  } catch (const Error& refused) {
    EXPECT_EQ(refused.kind(), ErrorKind::SystemError) << refused.what();
  }
  EXPECT_THROW(ModelElement::create(connection, then), Error);
  EXPECT_EQ(ModelElement::get_name(connection, loan), "Credit") << "the refused write changed it";
  EXPECT_EQ(connection.changes(named).commits.size(), 3u) << "a refused write committed";
  EXPECT_NE(server.standardError().find("as it was at commit"), std::string::npos)
      << server.standardError();

  const qovix::Outcome past = connection.repositoryAt(named + 10);
  EXPECT_EQ(past.value, 0u);
  EXPECT_NE(past.text.find("no commit " + std::to_string(named + 10)), std::string::npos)
      << past.text;
}

}  // namespace
