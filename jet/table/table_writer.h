// Inserting, updating and deleting the rows of an existing table (Jet 4 files).
//
// A TableWriter works inside one pager write (Pager::BeginWrite .. Commit) and must not outlive
// it: it caches what it learns of the table's pages for the life of the write. Every call leaves
// the table whole, as Access and other readers expect it:
//   - new rows go to a page of the table's free-space map with room, or to a new data page that
//     joins the owned-pages map; the free-space map follows the room of every page touched;
//   - a row updated in place stays in its slot (the rows below it on the page shift); a row that
//     no longer fits its page moves to a new home (slot flagged 0x8000) and its slot becomes a
//     4-byte forwarding pointer (flagged 0x4000), where its index entries keep pointing; a row
//     that has moved is updated at its home, moves on (its old home deleted) or comes back;
//   - a deleted row's slot is flagged 0xC000 and loses its bytes, and its long values are freed;
//   - every index gets the change through the index writer, and the definition's row count,
//     next autonumber and each index's unique-entry count follow it (a key that appears counts
//     one more, a key that goes one less; a count Access left too low stops at 0).
// Values come one per column of the definition, in definition order, as the reader returns
// them (row_decoder.h). A NULL Boolean is stored as No. A NULL Long autonumber on insert takes
// the next number; a GUID autonumber a random GUID.
//
// Rules kept in the catalogue rather than the definition (Required columns, relationships) and the
// refusal of system tables are RowWriter's (row_writer.h), through which users' changes come.
//
// Errors. Before anything changes: kInvalidArgument (a value that does not fit its column, a row
// too large for a page, an autonumber changed, a row that does not exist), kConstraint (a
// duplicate key in a unique index, or a NULL in a primary-key or required index). Any other
// error (kCorrupt, kIo, ...) may leave the write half done: roll it back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "jet/pages/data_page_writer.h"
#include "jet/pages/index_key.h"
#include "jet/pages/long_value_writer.h"
#include "jet/file/pager.h"
#include "jet/pages/row_encoder.h"
#include "jet/base/status.h"
#include "jet/table/table_cursor.h"
#include "jet/pages/table_def.h"
#include "jet/base/value.h"

namespace jet {

class IndexNodeCache;

class TableWriter {
 public:
  // Reads the current definition of `def` (by its page) through the write, so that counters
  // changed earlier in the same write are seen. `pager` must be writable and in a write.
  static Result<std::unique_ptr<TableWriter>> Open(Pager& pager, const TableDef& def);
  ~TableWriter();

  // The definition with its counters as this writer has changed them.
  const TableDef& def() const { return def_; }

  // Adds a row; returns its id (the slot its index entries name).
  Result<RowId> Insert(std::vector<Value> values);

  // Replaces every value of the row `row` (its slot, or its home if it has moved).
  Status Update(RowId row, std::vector<Value> values);

  // Deletes the row `row` (its slot, or its home if it has moved).
  Status Delete(RowId row);

  // The values of the row `row`, as the reader would return them.
  Result<std::vector<Value>> Read(RowId row);

  // The slot that stands for `row` in the indexes: `row` itself unless it is a moved row's home.
  Result<RowId> HeaderOf(RowId row);

 private:
  struct Located;
  struct PreparedRow;
  struct IndexPlan {
    size_t physical = 0;            // position in def_.physical_indexes
    // Its key columns, by their positions in def_.columns.
    std::unique_ptr<IndexKeyBuilder> keys;
    bool no_nulls = false;          // primary key or required
    std::string name;
  };

  class KeptPages;  // the page lists kept across writes
  TableWriter(Pager& pager, TableDef def);
  bool TakeKeptPages();

  Status Load();
  Status RequireWrite() const;
  Status FindForwardingSlots();
  Result<Located> Locate(RowId row);
  Result<std::vector<Value>> DecodeHome(const Located& at, std::vector<std::string>* long_fields);

  // Values, keys and stored columns of a row about to be written.
  Result<PreparedRow> Prepare(std::vector<Value> values, const std::vector<Value>* old_values,
                              const std::vector<std::string>* old_long_fields);
  Result<std::vector<std::optional<std::string>>> KeysFor(const std::vector<Value>& values, bool enforce);
  Status CheckKeys(const PreparedRow& row, const std::vector<std::optional<std::string>>* old_keys,
                   std::optional<RowId> self);
  Result<std::string> StoreLongValuesAndAssemble(PreparedRow* row, const std::vector<std::string>* old_long_fields);
  Status FreeLongValues(const std::vector<std::string>& fields, const std::vector<bool>* keep);
  LongValueWriter& LongValues(uint16_t column_number);

  // Pages.
  Result<uint32_t> PageWithRoom(uint32_t row_size);
  Result<DataPageRoom> RoomOf(uint32_t page);
  bool Listed(uint32_t page) const;  // in the free-space map, and a data page of the table
  Status IndexRooms();               // fills by_room_
  void ForgetRooms();
  Status UpdateFreeSpace(uint32_t page);
  Status PlaceUpdatedRow(const Located& at, const std::string& bytes);

  // Indexes and the definition's counters.
  // The new keys go into the indexes' pages (moved, not copied).
  Status ApplyIndexChanges(RowId header, const std::vector<std::optional<std::string>>& old_keys,
                           std::vector<std::optional<std::string>> new_keys);
  Status WriteCounters();
  // Around every change of a row: the checks before it, and the counters after it.
  Status BeginChange();
  Status EndChange();

  Pager& pager_;
  TableDef def_;
  std::vector<IndexPlan> indexes_;
  std::set<uint32_t> data_pages_;  // owned data pages of this table
  std::set<uint32_t> free_pages_;  // as the free-space map lists them
  std::map<uint32_t, uint32_t> forwarded_;  // a moved row's home -> its header slot (row pointers)
  bool forwarded_known_ = false;             // forwarded_ is filled (FindForwardingSlots)
  std::map<uint16_t, LongValueMaps> long_value_maps_;
  std::map<uint16_t, std::unique_ptr<LongValueWriter>> long_value_writers_;
  // Decoded index pages, from one row change to the next and one write to the next: the pager's.
  IndexNodeCache* index_nodes_;
  uint32_t min_row_size_ = 0;
  // The room of data pages as this writer last saw them (every change of a page updates it),
  // valid while the pager's generation is the one this writer's last change left behind.
  std::map<uint32_t, DataPageRoom> room_;
  std::set<std::pair<uint32_t, uint32_t>> by_room_;  // (free bytes, page) of every listed page, once indexed
  bool rooms_indexed_ = false;
  uint64_t generation_after_change_ = 0;
  bool loaded_ = false;  // counted among the table's open writers (KeptPages)
};

}  // namespace jet
