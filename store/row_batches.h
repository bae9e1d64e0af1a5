#pragma once

// New rows written a batch at a time. The rows of objects, values,
// references and members a transaction adds are kept here until one table
// has kBatchRows of them, or the file is to be read or written otherwise;
// then each table's are added by statements of many rows (many_rows.h), in
// the order they came. A member's link to the next one, changed while its
// row waits, is changed here, not by a statement of its own.

#include <cstddef>
#include <vector>

#include "store/database.h"
#include "store/many_rows.h"
#include "store/persistent_store.h"

class RowBatches {
 public:
  static constexpr std::size_t kBatchRows = 256;

  explicit RowBatches(Database& database) : database_(database) {}

  void addObject(ObjectId id, ClassId classId);
  // Values and references replace the slot's row, as later rows replace
  // earlier ones.
  void setAttribute(ObjectId id, FeatureId feature, const StoredValue& value);
  void setReference(ObjectId id, FeatureId feature, ObjectId target);
  void addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next);
  // Points the member's waiting row at `next`; false when its row is not
  // waiting (it is in the file).
  bool relinkWaiting(ObjectId id, FeatureId feature, ObjectId member, ObjectId next);

  // Writes every waiting row. On failure the rows are dropped with the
  // transaction, which the caller undoes.
  void flush();
  // Forgets every waiting row: the transaction is undone.
  void discard();
  bool empty() const;

 private:
  struct ObjectRow {
    ObjectId id;
    ClassId classId;
  };
  struct AttributeRow {
    ObjectId id;
    FeatureId feature;
    StoredValue value;
  };
  struct ReferenceRow {
    ObjectId id;
    FeatureId feature;
    ObjectId target;
  };
  struct MemberRow {
    ObjectId id;
    FeatureId feature;
    ObjectId member;
    ObjectId next;
  };

  void flushIfFull(std::size_t rows) {
    if (rows >= kBatchRows) flush();
  }

  Database& database_;
  std::vector<ObjectRow> objects_;
  std::vector<AttributeRow> attributes_;
  std::vector<ReferenceRow> references_;
  std::vector<MemberRow> members_;
  ManyRows objectInserts_{"INSERT INTO object (id, class) VALUES ", "(?, ?)", 2};
  ManyRows attributeInserts_{
      "INSERT OR REPLACE INTO attribute (object, feature, value_class, number, text) VALUES ",
      "(?, ?, ?, ?, ?)", 5};
  ManyRows referenceInserts_{"INSERT OR REPLACE INTO reference (object, feature, target) VALUES ",
                             "(?, ?, ?)", 3};
  ManyRows memberInserts_{"INSERT INTO member (object, feature, member, next) VALUES ",
                          "(?, ?, ?, ?)", 4};
};
