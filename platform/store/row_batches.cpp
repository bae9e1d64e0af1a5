#include "platform/store/row_batches.h"

#include <bit>
#include <string>

Statement& RowBatches::Inserts::forRows(Database& database, std::size_t rows) {
  const auto power = static_cast<std::size_t>(std::countr_zero(rows));
  std::unique_ptr<Statement>& made = made_.at(power);
  if (!made) {
    std::string sql = head_;
    for (std::size_t i = 0; i < rows; ++i) sql.append(i == 0 ? "" : ", ").append(row_);
    made = std::make_unique<Statement>(database, sql.c_str());
  }
  return *made;
}

// The rows in order, as many at a time as one statement takes: the
// largest power of two left.
template <class Row, class Bind>
void RowBatches::write(std::vector<Row>& rows, Inserts& inserts, int columns, Bind&& bind) {
  std::size_t done = 0;
  while (done < rows.size()) {
    const std::size_t batch = std::bit_floor(std::min(rows.size() - done, kBatchRows));
    const Use use(inserts.forRows(database_, batch));
    for (std::size_t i = 0; i < batch; ++i) {
      bind(use.statement(), static_cast<int>(i) * columns, rows[done + i]);
    }
    use->run();
    done += batch;
  }
  rows.clear();
}

void RowBatches::addObject(ObjectId id, ClassId classId) {
  objects_.push_back({id, classId});
  flushIfFull(objects_.size());
}

void RowBatches::setAttribute(ObjectId id, FeatureId feature, const StoredValue& value) {
  attributes_.push_back({id, feature, value});
  flushIfFull(attributes_.size());
}

void RowBatches::setReference(ObjectId id, FeatureId feature, ObjectId target) {
  references_.push_back({id, feature, target});
  flushIfFull(references_.size());
}

void RowBatches::addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
  members_.push_back({id, feature, member, next});
  flushIfFull(members_.size());
}

bool RowBatches::relinkWaiting(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
  for (auto row = members_.rbegin(); row != members_.rend(); ++row) {
    if (row->id == id && row->feature == feature && row->member == member) {
      row->next = next;
      return true;
    }
  }
  return false;
}

void RowBatches::flush() {
  try {
    write(objects_, objectInserts_, 2, [](Statement& statement, int at, const ObjectRow& row) {
      statement.bind(at + 1, row.id).bind(at + 2, row.classId);
    });
    write(attributes_, attributeInserts_, 5,
          [](Statement& statement, int at, const AttributeRow& row) {
            statement.bind(at + 1, row.id).bind(at + 2, row.feature);
            statement.bind(at + 3, row.value.valueClass).bind(at + 4, row.value.number);
            statement.bind(at + 5, row.value.text);
          });
    write(references_, referenceInserts_, 3,
          [](Statement& statement, int at, const ReferenceRow& row) {
            statement.bind(at + 1, row.id).bind(at + 2, row.feature).bind(at + 3, row.target);
          });
    write(members_, memberInserts_, 4, [](Statement& statement, int at, const MemberRow& row) {
      statement.bind(at + 1, row.id).bind(at + 2, row.feature);
      statement.bind(at + 3, row.member).bind(at + 4, row.next);
    });
  } catch (...) {
    discard();
    throw;
  }
}

void RowBatches::discard() {
  objects_.clear();
  attributes_.clear();
  references_.clear();
  members_.clear();
}

bool RowBatches::empty() const {
  return objects_.empty() && attributes_.empty() && references_.empty() && members_.empty();
}
