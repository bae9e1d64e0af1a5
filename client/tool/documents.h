#pragma once

// Models in and out of the repository as XMI documents, which qovixd reads
// and writes in its document folder (--documents). A path with a '/' names a
// file here instead: it travels to the folder and back in chunks, under a
// name of its own that is removed after.

#include <ostream>
#include <string>

#include "client/connection.h"

namespace qovix::tool {

// Sends the file at `path` as the document `name` of qovixd's folder, and
// fetches the document `name` into the file at `path`.
void sendDocument(client::Connection& connection, const std::string& path, const std::string& name);
void fetchDocument(client::Connection& connection, const std::string& name,
                   const std::string& path);

// Imports the document `name`; into the package `into` when it is not
// empty. Prints what was imported and what was skipped, with why; a refusal
// throws with qovixd's reason, and leaves nothing in the repository.
void importDocument(client::Connection& connection, const std::string& name,
                    const std::string& into, std::ostream& out);

// Exports the package `package` (by name) as the document `name`, in UML
// 1.4 / XMI 1.2 (`version` "1.2") or UML 1.3 / XMI 1.0 ("1.0").
void exportDocument(client::Connection& connection, const std::string& package,
                    const std::string& name, const std::string& version, std::ostream& out);

}  // namespace qovix::tool
