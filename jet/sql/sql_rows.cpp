#include "jet/sql/sql_rows.h"

#include <algorithm>

#include "jet/table/index_cursor.h"
#include "jet/text/text_codec.h"
#include "jet/pages/index_key.h"
#include "jet/pages/usage_map.h"

namespace jet {

// ---- LazyRow ---------------------------------------------------------------------------------

LazyRow::LazyRow(Pager& pager, const TableDef& def)
    : pager_(pager), def_(def), values_(def.columns.size()), decoded_(def.columns.size(), 0) {}

// Errors are rare, so rows are parsed and decoded without naming their place; only a failure
// repeats the step with the place spelled out, for its message.
const std::string LazyRow::kUnnamed;

std::string LazyRow::Where() const {
  return "page " + std::to_string(id_.page) + ", row " + std::to_string(id_.row);
}

Status LazyRow::Load(RowId id, const RowSlot& slot) {
  id_ = id;
  // A new mark tells this row's decoded values from an earlier row's, with no pass over the marks.
  if (++load_ == 0) {
    std::fill(decoded_.begin(), decoded_.end(), 0);
    load_ = 1;
  }
  Status parsed = ParseRowLayout(pager_.format(), def_, slot.bytes, slot.size, kUnnamed, &layout_);
  if (!parsed.ok()) {
    layout_ = RowLayout{};  // a row that failed to parse reads as having no columns
    RowLayout unused;
    Status named = ParseRowLayout(pager_.format(), def_, slot.bytes, slot.size, pager_.path() + ", " + Where(), &unused);
    return named.ok() ? parsed : named;
  }
  return Status::Ok();
}

const Value* LazyRow::Decoded(size_t column_index) {
  if (column_index >= values_.size()) return nullptr;
  if (decoded_[column_index] != load_) {
    if (!DecodeColumn(pager_, def_, def_.columns[column_index], layout_, kUnnamed, &values_[column_index]).ok()) return nullptr;
    decoded_[column_index] = load_;
  }
  return &values_[column_index];
}

Result<const Value*> LazyRow::Get(size_t column_index) {
  if (const Value* value = Decoded(column_index)) return value;
  if (column_index >= values_.size()) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def_.name + "\" has no column " + std::to_string(column_index));
  }
  const ColumnDef& column = def_.columns[column_index];
  Status decoded = DecodeColumn(pager_, def_, column, layout_, kUnnamed, &values_[column_index]);
  if (decoded.ok()) {  // decoding is deterministic: not reached
    decoded_[column_index] = load_;
    return &values_[column_index];
  }
  auto named = DecodeColumn(pager_, def_, column, layout_, Where());
  return named.ok() ? decoded.error() : named.error();
}

Status LazyRow::CopyTo(size_t column_index, Value* out) {
  // A failure goes through Get, which names the place.
  if (column_index < values_.size() && decoded_[column_index] != load_ &&
      DecodeColumn(pager_, def_, def_.columns[column_index], layout_, kUnnamed, out).ok()) {
    return Status::Ok();
  }
  JET_ASSIGN_OR_RETURN(const Value* value, Get(column_index));
  *out = *value;
  return Status::Ok();
}

Stored LazyRow::TextUtf8(size_t column_index, std::string* out) const {
  if (column_index >= def_.columns.size()) return Stored::kUnavailable;
  return TextUtf8In(pager_.format().version, def_.columns[column_index], layout_, out);
}

void LazyRow::Keep(KeptRow* kept) const {
  kept->version_ = pager_.format().version;
  kept->bytes_.assign(layout_.bytes, layout_.bytes + layout_.size);
  RowLayout& copy = kept->layout_;
  copy.bytes = kept->bytes_.data();
  copy.size = layout_.size;
  copy.column_count = layout_.column_count;
  copy.fixed_start = layout_.fixed_start;
  copy.null_mask = copy.bytes + (layout_.null_mask - layout_.bytes);  // the mask ends the row
  copy.var_offsets.assign(layout_.var_offsets.begin(), layout_.var_offsets.end());
}

Stored KeptRow::TextUtf8(const ColumnDef& column, std::string* out) const {
  return TextUtf8In(version_, column, layout_, out);
}

Result<Stored> LazyRow::GetStored(size_t column_index, StoredText* text) {
  if (column_index >= values_.size()) return Get(column_index).error();
  return StoredOf(column_index, text);
}

Result<Value> LazyRow::Take(size_t column_index) {
  JET_RETURN_IF_ERROR(Get(column_index).status());
  decoded_[column_index] = 0;  // a second Take decodes afresh
  return std::move(values_[column_index]);
}

namespace {

// ---- Scan ------------------------------------------------------------------------------------

// Rows are read where their bytes are (a moved row at its new home), so a page whose bytes fail
// the page test holds no row the caller wants; but a moved row is named, as an index walk names
// it, by the slot its index entries name. The owned pages are told apart as the scan reaches
// them, so that a scan which is abandoned early never reads the rest.
class ScanSource final : public RowSource {
 public:
  ScanSource(Pager& pager, uint32_t owner, std::vector<uint32_t> pages, PageTest page_test)
      : cursor_(pager, owner, std::make_shared<const std::vector<uint32_t>>(std::move(pages)), std::move(page_test)) {}

  Result<bool> Next(LazyRow* row) override {
    JET_ASSIGN_OR_RETURN(bool on, cursor_.Next());
    if (!on) return false;
    ++rows_read_;
    JET_RETURN_IF_ERROR(row->Load(cursor_.header(), cursor_.slot()));
    return true;
  }

 private:
  StorageCursor cursor_;
};

// ---- Index walk ------------------------------------------------------------------------------

class IndexSource final : public RowSource {
 public:
  IndexSource(Pager& pager, const TableDef& def, const PhysicalIndex& index, const std::string& name,
              size_t lead_column, const IndexWalk& walk)
      : pager_(pager), def_(def), name_(name), cursor_(pager, def.page, index), lead_column_(lead_column),
        lead_ascending_(index.columns[0].ascending), walk_(walk),
        value_ascending_(lead_ascending_ != walk.backward) {}

  Status Position();
  Result<bool> Next(LazyRow* row) override;

 private:
  const std::optional<IndexWalk::Bound>& StartBound() const { return value_ascending_ ? walk_.low : walk_.high; }
  const std::optional<IndexWalk::Bound>& EndBound() const { return value_ascending_ ? walk_.high : walk_.low; }
  bool Bounded() const { return walk_.low.has_value() || walk_.high.has_value(); }
  std::optional<std::string> SeekKey() const;
  Result<bool> NextEntry(RowId* id);
  bool Beyond(const Value& v) const;
  bool Before(const Value& v) const;

  Pager& pager_;
  const TableDef& def_;
  std::string name_;
  IndexCursor cursor_;
  size_t lead_column_;
  bool lead_ascending_;
  IndexWalk walk_;
  bool value_ascending_;  // whether the walk meets the first column's values in ascending order
  bool on_entry_ = false;  // the cursor sits on an entry not yet yielded
  bool done_ = false;
  std::vector<RowId> group_;  // backward walks: rows with one key, yielded from the back
  bool inside_for_good_ = false;  // every row still to come lies inside the bounds
  static bool IsWhole(ColumnType type) {
    return type == ColumnType::kByte || type == ColumnType::kInteger || type == ColumnType::kLong;
  }
};

// The key part of the bound the walk starts from, when the bound is exactly a value of the column.
std::optional<std::string> IndexSource::SeekKey() const {
  if (!StartBound()) return std::nullopt;
  const ColumnDef& column = def_.columns[lead_column_];
  auto value = ConvertToColumn(StartBound()->literal, column, true);
  if (!value.ok()) return std::nullopt;
  std::string key;
  if (!AppendKeyColumn(pager_.format().version, KeyColumn{column.type, lead_ascending_}, value.value(), &key).ok()) {
    return std::nullopt;
  }
  return key;
}

// Keys of NULLs are a lone 0x00 in an ascending column and 0xFF in a descending one; values
// start with 0x7F and 0x80. A bounded walk skips the NULLs where they come first.
Status IndexSource::Position() {
  const std::optional<std::string> seek = SeekKey();
  if (!walk_.backward) {
    if (seek) {
      JET_ASSIGN_OR_RETURN(on_entry_, cursor_.SeekAtOrAfter(*seek));
    } else if (Bounded() && lead_ascending_) {
      JET_ASSIGN_OR_RETURN(on_entry_, cursor_.SeekAtOrAfter(std::string(1, '\x7F')));
    } else {
      cursor_.BeforeFirst();
      JET_ASSIGN_OR_RETURN(on_entry_, cursor_.Next());
    }
    return Status::Ok();
  }
  // Backward: place the cursor after every entry of the start value, then step back once.
  if (seek) {
    JET_ASSIGN_OR_RETURN(bool found, cursor_.SeekAtOrAfter(*seek));
    while (found && cursor_.entry().key.compare(0, seek->size(), *seek) == 0) {
      JET_ASSIGN_OR_RETURN(found, cursor_.Next());
    }
  } else if (Bounded() && !lead_ascending_) {
    JET_RETURN_IF_ERROR(cursor_.SeekAtOrAfter(std::string(1, '\xFF')).status());
  } else {
    cursor_.AfterLast();
  }
  JET_ASSIGN_OR_RETURN(on_entry_, cursor_.Prev());
  return Status::Ok();
}

Result<bool> IndexSource::NextEntry(RowId* id) {
  if (!walk_.backward) {
    if (!on_entry_) return false;
    *id = cursor_.row();
    JET_ASSIGN_OR_RETURN(on_entry_, cursor_.Next());
    return true;
  }
  if (group_.empty()) {
    // Entries with one key lie in row-pointer order; gather them so that they come out that way.
    if (!on_entry_) return false;
    const std::string key = cursor_.entry().key;
    do {
      group_.push_back(cursor_.row());
      JET_ASSIGN_OR_RETURN(on_entry_, cursor_.Prev());
    } while (on_entry_ && cursor_.entry().key == key);
  }
  *id = group_.back();
  group_.pop_back();
  return true;
}

bool IndexSource::Beyond(const Value& v) const {
  const IndexWalk::Bound& end = *EndBound();
  const int c = CompareValues(pager_.format().version, v, end.literal);
  if (c == 0) return !end.inclusive;
  return value_ascending_ ? c > 0 : c < 0;
}

bool IndexSource::Before(const Value& v) const {
  const IndexWalk::Bound& start = *StartBound();
  const int c = CompareValues(pager_.format().version, v, start.literal);
  if (c == 0) return !start.inclusive;
  return value_ascending_ ? c < 0 : c > 0;
}

Result<bool> IndexSource::Next(LazyRow* row) {
  while (!done_) {
    RowId id;
    JET_ASSIGN_OR_RETURN(bool more, NextEntry(&id));
    if (!more) break;
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(pager_, id.page, id.row));
    if (slot.deleted()) {
      return pager_.Corrupt(id.page, "index \"" + name_ + "\" of table \"" + def_.name + "\" names row " +
                                         std::to_string(id.row) + ", which is deleted");
    }
    ++rows_read_;
    JET_RETURN_IF_ERROR(row->Load(id, slot));
    if (!Bounded() || inside_for_good_) return true;
    JET_ASSIGN_OR_RETURN(const Value* v, row->Get(lead_column_));
    if (IsNull(*v)) {
      if (value_ascending_) continue;  // NULLs come first: the range is still ahead
      break;                           // NULLs come last: the range is behind
    }
    if (EndBound() && Beyond(*v)) break;
    if (walk_.bounds_are_condition && StartBound() && Before(*v)) continue;
    // Whole numbers key in the order they compare: once a row lies past the start, so do all
    // that follow it, and with no end to reach the rest of the walk needs no test.
    inside_for_good_ = !EndBound() && value_ascending_ && IsWhole(def_.columns[lead_column_].type);
    return true;
  }
  done_ = true;
  return false;
}

}  // namespace

Result<std::unique_ptr<RowSource>> OpenScan(Pager& pager, const TableDef& def, PageTest page_test) {
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
  return std::unique_ptr<RowSource>(new ScanSource(pager, def.page, std::move(owned), std::move(page_test)));
}

Result<std::unique_ptr<RowSource>> OpenIndexWalk(Pager& pager, const TableDef& def, const IndexWalk& walk) {
  const auto invalid = [&](const std::string& what) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": " + what);
  };
  if (walk.logical_index >= def.logical_indexes.size()) return invalid("no index " + std::to_string(walk.logical_index));
  const LogicalIndex& logical = def.logical_indexes[walk.logical_index];
  if (logical.physical_index >= def.physical_indexes.size()) return invalid("index \"" + logical.name + "\" has no B-tree");
  const PhysicalIndex& index = def.physical_indexes[logical.physical_index];
  if (index.columns.empty()) return invalid("index \"" + logical.name + "\" has no columns");
  const std::vector<size_t> positions = KeyColumnsOf(def, index).positions;
  if (positions.size() != index.columns.size()) return invalid("index \"" + logical.name + "\" names a column the table lacks");
  const size_t lead = positions.front();
  auto source = std::make_unique<IndexSource>(pager, def, index, logical.name, lead, walk);
  JET_RETURN_IF_ERROR(source->Position());
  return std::unique_ptr<RowSource>(std::move(source));
}

}  // namespace jet
