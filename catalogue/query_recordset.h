// A query set: the rows a SELECT finds, in its order, read as the caller moves.
//
// The set remembers the places of the rows it has reached, so MoveFirst and a second walk cost a
// read per row and no new query. When the file changes while the walk is unfinished (another
// program's write, or an Update through this set), the running query would read pages that moved
// under it: the set runs the query once more and takes, after the rows it already has, every row
// it finds that it did not have, so the rest of the walk no longer depends on the file standing
// still. Rows an Update of the set changes so that the query would not find them any more stay
// in the set, as in Access.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "catalogue/jet_recordset.h"
#include "jet/sql/sql_select.h"

namespace velloran {

// A set of packed row places (PackRowId): open addressing in one array, as a walk adds one for
// every row it finds and a node per row would cost more than finding the row.
class PlaceSet {
 public:
  // False when `place` was in the set already.
  bool insert(uint64_t place);

 private:
  static constexpr uint64_t kEmpty = ~uint64_t{0};  // no row has this place
  std::vector<uint64_t> slots_;
  size_t size_ = 0;
};

class QueryRecordset final : public JetRecordset {
 public:
  // Runs the SELECT `sql` and reaches its first row. kInvalid (naming the place) for a text
  // that is no statement the engine runs.
  static std::unique_ptr<Recordset> Open(std::shared_ptr<DatabaseSession> session, const std::string& sql);

  void SelectIndex(const std::string& index_name) override;
  void SeekEqual(const FieldValue& key) override;
  bool NoMatch() const override { return false; }
  // Under one hold of the read lock, the rows the query finds after the current one are copied
  // straight from their pages: no copy of their bytes is kept, as none of them becomes current.
  size_t CopyRows(const std::vector<CopiedField>& fields, size_t most, CopiedRows& rows) override;

 protected:
  jet::Status Sync() override { return jet::Status::Ok(); }  // a stale query is noticed in Reach
  jet::Result<bool> Reach(size_t index) override;
  void AfterWrite(const WriteOutcome& outcome) override;
  void Release() override { cursor_.reset(); }

 private:
  using JetRecordset::JetRecordset;

  // Runs the query again and appends every row it finds that the set does not have yet.
  jet::Status RunAgainForTheRest();
  // The cursor's current row into *row: its bytes kept, to be converted field by field as they
  // are read; only a value stored outside the row (a long text) is read now.
  jet::Status TakeRow(LoadedRow* row);
  // The cursor's current row becomes the set's next row, its values handed over for the move
  // onto it (TakeRow).
  jet::Status TakeFound();
  // How CopyRows has a field of a row the cursor found: straight from the page where its type
  // allows (a Text's stored bytes converted into the caller's room, a whole number, a Yes/No
  // bit), else decoded and converted as Field converts it.
  struct CopyStep {
    enum Way : uint8_t { kText, kWholeText, kWhole, kYesNo, kOther, kOtherWhole, kOtherYesNo, kNone };
    const jet::ColumnDef* column;  // null for a place past the last field (kNone)
    size_t position;
    Way way;
  };
  void PlanCopy(const std::vector<CopiedField>& fields);
  // CopyRows' work under the lock, once the current row is copied: copies the rows the cursor
  // finds next while *copied < most, then makes the first row not copied current, as the
  // MoveNexts would have.
  jet::Status CopyFound(size_t most, CopiedRows& rows, size_t* copied);
  // The cursor's row as row `row` of the copy; false where it must be read as the current row
  // instead (a damaged row, which then reports what is wrong).
  bool CopyFromPage(jet::JetVersion version, size_t row, CopiedRows& rows);

  std::string sql_;
  std::unique_ptr<jet::SelectCursor> cursor_;  // null once every row was found
  uint64_t cursor_generation_ = 0;  // the pager's generation the cursor has been reading at
  // Places of the rows found (PackRowId), and where they moved. One run of the query meets a row
  // once, so the places the first run finds are only listed (found_) until a second run or a
  // write needs the set: Seen() puts them in.
  PlaceSet seen_;
  std::vector<uint64_t> found_;
  PlaceSet& Seen();
  std::vector<uint8_t> kept_states_;  // per field: how TakeRow hands it over (LoadedRow::State)
  std::vector<CopyStep> copy_plan_;  // per field CopyRows copies
  std::vector<int64_t> numbers_;      // CopyFromPage's numbers of a row, per field
  FieldValue scratch_;  // CopyFromPage's value of a field of another type
};

}  // namespace velloran
