#include "store/row_batches.h"

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
    objectInserts_.write(database_, objects_,
                         [](Statement& statement, int at, const ObjectRow& row) {
                           statement.bind(at + 1, row.id).bind(at + 2, row.classId);
                         });
    attributeInserts_.write(
        database_, attributes_, [](Statement& statement, int at, const AttributeRow& row) {
          statement.bind(at + 1, row.id).bind(at + 2, row.feature);
          statement.bind(at + 3, row.value.valueClass).bind(at + 4, row.value.number);
          statement.bind(at + 5, row.value.text);
        });
    referenceInserts_.write(
        database_, references_, [](Statement& statement, int at, const ReferenceRow& row) {
          statement.bind(at + 1, row.id).bind(at + 2, row.feature).bind(at + 3, row.target);
        });
    memberInserts_.write(database_, members_,
                         [](Statement& statement, int at, const MemberRow& row) {
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
