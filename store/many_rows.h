#pragma once

// Rows added to one table by statements of many rows each: a statement of
// one row spends most of its time starting and ending, and a commit or an
// import adds millions.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <memory>
#include <vector>

#include "store/database.h"

class ManyRows {
 public:
  // The most rows one statement adds.
  static constexpr std::size_t kMostRows = 256;

  // `head` is "INSERT INTO t (a, b) VALUES ", `row` "(?, ?)" with `columns`
  // parameters.
  ManyRows(const char* head, const char* row, int columns)
      : head_(head), row_(row), columns_(columns) {}

  // Adds the rows in order, `bind(statement, first parameter - 1, row)`
  // binding each, and clears them.
  template <class Row, class Bind>
  void write(Database& database, std::vector<Row>& rows, Bind&& bind) {
    std::size_t done = 0;
    while (done < rows.size()) {
      // As many as one statement takes: the largest power of two left.
      const std::size_t batch = std::bit_floor(std::min(rows.size() - done, kMostRows));
      const Use use(statementFor(database, batch));
      for (std::size_t i = 0; i < batch; ++i) {
        bind(use.statement(), static_cast<int>(i) * columns_, rows[done + i]);
      }
      use->run();
      done += batch;
    }
    rows.clear();
  }

 private:
  // Made on first use, one for each power of two up to kMostRows.
  Statement& statementFor(Database& database, std::size_t rows);

  const char* head_;
  const char* row_;
  int columns_;
  std::array<std::unique_ptr<Statement>, std::bit_width(kMostRows)> made_;
};
