#pragma once

// New rows written a batch at a time. The rows of objects, values,
// references and members a transaction adds are kept here until one table
// has kBatchRows of them, or the file is to be read or written otherwise;
// then each table's are added by statements of many rows (many_rows.h), in
// the order they came. A full batch goes to the connection's writing
// thread (write_behind.h) while the next one fills; any other use of the
// file writes what waits first, here. A member's link to the next one,
// changed while its row waits, is changed here, not by a statement of its
// own; a member's row already handed on or in the file is relinked after
// the rows before it are written, in the batch that waits.

#include <cstddef>
#include <vector>

#include "store/database.h"
#include "store/many_rows.h"
#include "store/persistent_store.h"

class RowBatches {
 public:
  static constexpr std::size_t kBatchRows = 2048;

  explicit RowBatches(Database& database) : database_(database) {}

  void addObject(ObjectId id, ClassId classId);
  // Values and references replace the slot's row, as later rows replace
  // earlier ones.
  void setAttribute(ObjectId id, FeatureId feature, const StoredValue& value);
  void setReference(ObjectId id, FeatureId feature, ObjectId target);
  void addMember(ObjectId id, FeatureId feature, ObjectId member, ObjectId next);
  // Points the member's row at `next`: its row if it waits, else the
  // file's, once what was handed on before is written.
  void relink(ObjectId id, FeatureId feature, ObjectId member, ObjectId next);

  // Writes every waiting row, and waits for those handed on. On failure the
  // rows are dropped with the transaction, which the caller undoes.
  void flush();
  // Forgets every waiting row: the transaction is undone.
  void discard();

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

  // One batch of each table's rows, and the links of rows written before.
  struct Batch {
    std::vector<ObjectRow> objects;
    std::vector<AttributeRow> attributes;
    std::vector<ReferenceRow> references;
    std::vector<MemberRow> members;
    std::vector<MemberRow> relinks;
  };

  void sendIfFull(std::size_t rows);
  void write(Batch& batch);

  Database& database_;
  Batch waiting_;
  ManyRows objectInserts_{"INSERT INTO object (id, class) VALUES ", "(?, ?)", 2};
  ManyRows attributeInserts_{
      "INSERT OR REPLACE INTO attribute (object, feature, value_class, number, text) VALUES ",
      "(?, ?, ?, ?, ?)", 5};
  ManyRows referenceInserts_{"INSERT OR REPLACE INTO reference (object, feature, target) VALUES ",
                             "(?, ?, ?)", 3};
  ManyRows memberInserts_{"INSERT INTO member (object, feature, member, next) VALUES ",
                          "(?, ?, ?, ?)", 4};
  Statement relink_{
      database_, "UPDATE member SET next = ?4 WHERE object = ?1 AND feature = ?2 AND member = ?3"};
};
