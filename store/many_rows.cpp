#include "store/many_rows.h"

#include <string>

Statement& ManyRows::statementFor(Database& database, std::size_t rows) {
  std::unique_ptr<Statement>& made = made_.at(static_cast<std::size_t>(std::countr_zero(rows)));
  if (!made) {
    std::string sql = head_;
    for (std::size_t i = 0; i < rows; ++i) sql.append(i == 0 ? "" : ", ").append(row_);
    made = std::make_unique<Statement>(database, sql.c_str());
  }
  return *made;
}
