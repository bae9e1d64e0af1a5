#include "store/row_batches.h"

#include <memory>
#include <utility>

void RowBatches::addObject(ObjectId id, ClassId classId) {
  waiting_.objects.push_back({id, classId});
  sendIfFull(waiting_.objects.size());
}

void RowBatches::setAttribute(ObjectId id, FeatureId feature, const StoredValue& value) {
  waiting_.attributes.push_back({id, feature, value});
  sendIfFull(waiting_.attributes.size());
}

void RowBatches::setReference(ObjectId id, FeatureId feature, ObjectId target) {
  waiting_.references.push_back({id, feature, target});
  sendIfFull(waiting_.references.size());
}

void RowBatches::addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
  waiting_.members.push_back({id, feature, member, next});
  sendIfFull(waiting_.members.size());
}

void RowBatches::relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next) {
  // The last rows are the likeliest: a collection grows at its end.
  for (auto row = waiting_.members.rbegin(); row != waiting_.members.rend(); ++row) {
    if (row->id == id && row->feature == feature && row->member == member) {
      row->next = next;
      return;
    }
  }
  waiting_.relinks.push_back({id, feature, member, next});
  sendIfFull(waiting_.relinks.size());
}

void RowBatches::sendIfFull(std::size_t rows) {
  if (rows < kBatchRows) return;
  // Shared, since a job is copied; this batch is the job's alone.
  auto batch = std::make_shared<Batch>(std::exchange(waiting_, Batch{}));
  database_.writeBehind([this, batch] { write(*batch); });
}

void RowBatches::write(Batch& batch) {
  objectInserts_.write(database_, batch.objects,
                       [](Statement& statement, int at, const ObjectRow& row) {
                         statement.bind(at + 1, row.id).bind(at + 2, row.classId);
                       });
  attributeInserts_.write(
      database_, batch.attributes, [](Statement& statement, int at, const AttributeRow& row) {
        statement.bind(at + 1, row.id).bind(at + 2, row.feature);
        statement.bind(at + 3, row.value.valueClass).bind(at + 4, row.value.number);
        statement.bind(at + 5, row.value.text);
      });
  referenceInserts_.write(
      database_, batch.references, [](Statement& statement, int at, const ReferenceRow& row) {
        statement.bind(at + 1, row.id).bind(at + 2, row.feature).bind(at + 3, row.target);
      });
  memberInserts_.write(database_, batch.members,
                       [](Statement& statement, int at, const MemberRow& row) {
                         statement.bind(at + 1, row.id).bind(at + 2, row.feature);
                         statement.bind(at + 3, row.member).bind(at + 4, row.next);
                       });
  // Each names a row of a batch before, or of the file.
  for (const MemberRow& row : batch.relinks) {
    const Use use(relink_);
    use->bind(1, row.id).bind(2, row.feature).bind(3, row.member).bind(4, row.next).run();
  }
  batch.relinks.clear();
}

void RowBatches::flush() {
  try {
    database_.settle();
    write(waiting_);
  } catch (...) {
    discard();
    throw;
  }
}

void RowBatches::discard() {
  database_.dropWritten();
  waiting_ = Batch{};
}
