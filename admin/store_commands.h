#pragma once

// What qovix-store does, each on a SQLite file or a PostgreSQL --store value.

#include <ostream>
#include <string>

namespace qovix::admin {

// Copies every row, the history included, into a new or empty repository:
// all of it in one transaction, or nothing. Throws std::runtime_error.
void copyStore(const std::string& from, const std::string& to, std::ostream& out);

// Checks that every reference and member resolves, collections are whole
// chains, the indexes agree with the data, the commit log runs 1..N with
// every history row in a commit, the counters are past what is used and
// the schema version is this build's. Prints each fault found; whether
// none was.
bool checkStore(const std::string& store, std::ostream& out);

// The schema version, objects by class, the history's size and the last
// commit.
void printInfo(const std::string& store, std::ostream& out);

// An online copy of a repository file into FILE (which must not exist),
// consistent as of one moment, while a server goes on writing.
void backupStore(const std::string& store, const std::string& file, std::ostream& out);

}  // namespace qovix::admin
