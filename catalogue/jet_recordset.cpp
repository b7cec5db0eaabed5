#include "catalogue/jet_recordset.h"

#include <algorithm>

#include "catalogue/jet_values.h"
#include "jet/row_editor.h"

namespace velloran {

// ---- Session and row reading -------------------------------------------------------------------

jet::Database& DatabaseSession::Db() {
  if (closed || db == nullptr) ThrowInvalid("the database connection was closed; open the database again");
  return *db;
}

jet::Result<const jet::TableDef*> RowReader::Def(jet::Database& db) {
  if (known_ && generation_ == db.generation()) return &def_;
  JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
  std::vector<size_t> positions;
  for (const jet::ColumnDef& wanted : columns_) {
    const jet::ColumnDef* column = def.ColumnByNumber(wanted.number);
    if (column == nullptr || !jet::SameObjectName(column->name, wanted.name)) {
      return jet::Error(jet::ErrorCode::kNotFound, db.path() + ": table \"" + def.name + "\" no longer has the field \"" +
                                                       wanted.name + "\"; open the record set again");
    }
    positions.push_back(static_cast<size_t>(column - def.columns.data()));
  }
  def_ = std::move(def);
  positions_ = std::move(positions);
  generation_ = db.generation();
  known_ = true;
  return &def_;
}

jet::Result<std::optional<std::vector<jet::Value>>> RowReader::Read(jet::Database& db, jet::RowId id) {
  using Found = std::optional<std::vector<jet::Value>>;
  JET_ASSIGN_OR_RETURN(const jet::TableDef* def, Def(db));
  std::vector<jet::Value> values;
  JET_ASSIGN_OR_RETURN(bool there, db.ReadRowAt(*def, id, positions_, &values));
  return there ? Found(std::move(values)) : Found();
}

// ---- Position ----------------------------------------------------------------------------------

JetRecordset::JetRecordset(std::shared_ptr<DatabaseSession> session, std::string table, std::vector<jet::ColumnDef> columns,
                           std::vector<FieldInfo> fields)
    : session_(std::move(session)), table_(std::move(table)), columns_(std::move(columns)), fields_(std::move(fields)),
      reader_(table_, columns_) {}

void JetRecordset::RequireOpen() const {
  if (closed_) ThrowInvalid("the record set of \"" + table_ + "\" was closed");
}

// A set that gained its first row through AddNew has a row though none was visited yet.
int64_t JetRecordset::RecordCount() {
  RequireOpen();
  return static_cast<int64_t>(std::max(visited_, rows_.empty() ? size_t{0} : size_t{1}));
}

void JetRecordset::MoveFirst() {
  Moving([&] {
    resume_.reset();
    read_ahead_ = kWalkReadAhead;
    return Settle(0, false, GrowingReadAhead());
  });
}

void JetRecordset::MoveNext() {
  RequireOpen();
  if (!resume_ && (MoveNextWithinReadAhead() || MoveNextHolding())) return;
  Moving([&]() -> jet::Status {
    const std::optional<ResumePoint> resume = resume_;  // as Sync left it
    resume_.reset();
    if (at_end_) return jet::Status::Ok();
    if (read_ahead_error_) {
      // Reading ahead met it on the row after the current one: report it now, when the walk
      // gets there, with the position where it was.
      jet::Error error = std::move(*read_ahead_error_);
      read_ahead_error_.reset();
      return error;
    }
    if (resume && resume->at_end) {
      at_end_ = true;
      current_id_.reset();
      ahead_.values.clear();
      visited_ = std::max(visited_, rows_.size());
      return jet::Status::Ok();
    }
    if (resume) {
      auto next = std::find(rows_.begin(), rows_.end(), resume->row);
      if (next != rows_.end()) return Settle(static_cast<size_t>(next - rows_.begin()), false, GrowingReadAhead());
      // The row that followed is gone: go on from the current row's new place.
    }
    return Settle(pos_ + 1, false, GrowingReadAhead());
  });
}

void JetRecordset::MoveLast() {
  Moving([&]() -> jet::Status {
    resume_.reset();
    while (true) {
      JET_ASSIGN_OR_RETURN(bool more, Reach(rows_.size()));
      if (!more) break;
    }
    if (rows_.empty()) {
      at_end_ = true;
      return jet::Status::Ok();
    }
    return Settle(rows_.size() - 1, true);
  });
}

bool JetRecordset::MoveNextWithinReadAhead() {
  if (at_end_ || pending_ != Pending::kNone || !ahead_.Holds(pos_ + 1)) return false;
  jet::Database& db = Db();
  if (!db.StillCurrent(ahead_.mark)) return false;  // the locked path reports errors
  ++pos_;
  MakeCurrent(rows_[pos_], ahead_.values[pos_ - ahead_.first]);
  visited_ = std::max(visited_, pos_ + 1);
  return true;
}

// Under a hold of the read lock taking it again is free and nothing is read ahead: the row the
// source finds next is made current straight away. The end, and a row that is gone, take Settle.
bool JetRecordset::MoveNextHolding() {
  if (at_end_ || pending_ != Pending::kNone || read_ahead_error_ || !ahead_.values.empty()) return false;
  if (!Db().holding_reads()) return false;
  ThrowIfError(Sync());
  const jet::Result<bool> there = Reach(pos_ + 1);
  if (!there.ok()) ThrowIfError(there.error());
  if (!there.value()) return false;
  const jet::Result<LoadedRow*> found = LoadValues(pos_ + 1);
  if (!found.ok()) ThrowIfError(found.error());
  if (found.value() == nullptr) return false;
  ++pos_;
  MakeCurrent(rows_[pos_], *found.value());
  visited_ = std::max(visited_, pos_ + 1);
  return true;
}

jet::Status JetRecordset::Settle(size_t index, bool backward, size_t read_ahead) {
  ahead_.values.clear();
  read_ahead_error_.reset();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool there, Reach(index));
    if (!there) {
      at_end_ = true;
      current_id_.reset();
      return jet::Status::Ok();
    }
    JET_ASSIGN_OR_RETURN(LoadedRow* found, LoadValues(index));
    if (found != nullptr) {
      pos_ = index;
      MakeCurrent(rows_[index], *found);
      at_end_ = false;
      visited_ = std::max(visited_, pos_ + 1);
      return read_ahead == 0 ? jet::Status::Ok() : ReadAheadFrom(pos_ + 1, read_ahead);
    }
    DropRow(index);
    if (backward) {
      if (rows_.empty()) {
        at_end_ = true;
        current_id_.reset();
        return jet::Status::Ok();
      }
      index = std::min(index, rows_.size()) - 1;
    }
  }
}

jet::Result<JetRecordset::LoadedRow*> JetRecordset::LoadValues(size_t index) {
  jet::Database& db = Db();
  if (handed_over_.live && handed_over_.index == index && handed_over_.generation == db.generation()) {
    handed_over_.live = false;
    return &handed_over_.values;  // swapped with the current row's: both keep their room
  }
  JET_ASSIGN_OR_RETURN(std::optional<std::vector<jet::Value>> values, reader_.Read(db, rows_[index]));
  if (!values) return nullptr;
  row_values_.TakeRead(*values);
  return &row_values_;
}

void JetRecordset::MakeCurrent(jet::RowId id, LoadedRow& values) {
  asked_since_move_ = 0;
  current_.swap(values);
  current_id_ = id;
}

void JetRecordset::MakeCurrent(jet::RowId id, std::vector<jet::Value>& values) {
  asked_since_move_ = 0;
  current_.TakeRead(values);
  current_id_ = id;
}

// Stops at the first row that is gone: the locked path drops it when the walk gets there.
jet::Status JetRecordset::ReadAheadFrom(size_t index, size_t count) {
  jet::Database& db = Db();
  ahead_.values.clear();
  ahead_.first = index;
  ahead_.mark = db.Mark();  // under the read lock: the stamp the pages were read at
  read_ahead_error_.reset();
  for (size_t i = index; i < index + count; ++i) {
    jet::Result<bool> there = Reach(i);
    if (!there.ok()) {
      read_ahead_error_ = there.error();  // the move that has got there already stands
      break;
    }
    if (!there.value()) break;
    jet::Result<LoadedRow*> found = LoadValues(i);
    if (!found.ok()) {
      read_ahead_error_ = found.error();
      break;
    }
    if (found.value() == nullptr) break;
    ahead_.values.push_back(std::move(*found.value()));
  }
  return jet::Status::Ok();
}

void JetRecordset::DropRow(size_t index) {
  rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(index));
  if (visited_ > index) --visited_;
  if (handed_over_.live && handed_over_.index == index) handed_over_.live = false;
  if (handed_over_.live && handed_over_.index > index) --handed_over_.index;
  ahead_.values.clear();
}

// ---- Fields and editing ------------------------------------------------------------------------

namespace {

// Field names are short: a loop beats calling memcmp.
bool SameBytes(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}

}  // namespace

size_t JetRecordset::FindField(const std::string& name) const {
  size_t found = fields_.size();
  for (size_t i = 0; i < fields_.size() && found == fields_.size(); ++i)
    if (fields_[i].name == name) found = i;
  for (size_t i = 0; i < fields_.size() && found == fields_.size(); ++i)
    if (jet::SameObjectName(fields_[i].name, name)) found = i;
  if (found == fields_.size()) {
    throw EngineError(EngineError::Kind::kNotFound, "the record set of \"" + table_ + "\" has no field \"" + name + "\"");
  }
  return found;
}

size_t JetRecordset::FieldIndex(const std::string& name) const {
  const size_t k = asked_since_move_++;
  if (k < asked_order_.size() && SameBytes(fields_[asked_order_[k]].name, name)) return asked_order_[k];
  const size_t found = FindField(name);
  if (k < asked_order_.size()) asked_order_[k] = found;
  else if (k == asked_order_.size() && k < 64) asked_order_.push_back(found);
  return found;
}

const FieldValue& JetRecordset::Field(const std::string& name) const {
  RequireOpen();
  return FieldAt(FieldIndex(name));
}

size_t JetRecordset::FieldPosition(const std::string& name) const {
  RequireOpen();
  return FindField(name);
}

const FieldValue& JetRecordset::FieldAt(size_t i) const {
  // The usual cases first: a field of the current row, no edit pending, converted already or
  // kept to be converted now.
  if (AsLoaded(i)) {
    uint8_t& state = current_.state[i];
    if (state == LoadedRow::kKept) {
      ConvertKept(i);
      state = LoadedRow::kShown;
    }
    if (state == LoadedRow::kShown) return current_.shown[i];
  }
  RequireOpen();
  if (i >= fields_.size()) {
    ThrowInvalid("the record set of \"" + table_ + "\" has " + std::to_string(fields_.size()) + " fields; there is none at place " +
                 std::to_string(i));
  }
  if (pending_ != Pending::kNone && changes_[i]) return changes_shown_[i];
  if (pending_ == Pending::kAdd) return added_[i];
  if (at_end_) {
    ThrowInvalid("field \"" + fields_[i].name + "\" of \"" + table_ + "\" has no value: there is no current row (the set is at its end)");
  }
  if (current_.state[i] == LoadedRow::kKept) ConvertKept(i);
  else if (current_.state[i] == LoadedRow::kRead) AssignFromJetValue(current_.read[i], &current_.shown[i]);
  current_.state[i] = LoadedRow::kShown;
  return current_.shown[i];
}

void JetRecordset::ConvertKept(size_t i) const {
  const jet::ColumnDef& column = columns_[i];
  FieldValue& shown = current_.shown[i];
  if (column.type == jet::ColumnType::kText && !column.fixed()) {
    // Straight from its stored bytes to the UTF-8 Field gives, without a UTF-16 step.
    const jet::Stored text = current_.kept->TextUtf8(column, &shown.ResetToText());
    if (text == jet::Stored::kNull) shown = FieldValue();
    if (text == jet::Stored::kUnavailable) ThrowOutsideRow(i);
    return;
  }
  int64_t whole;
  if (column.type == jet::ColumnType::kBoolean) {
    shown = current_.kept->YesNo(column);
    return;
  }
  if (current_.kept->Whole(column, &whole)) {
    shown = whole;
    return;
  }
  // Decoded where the field's value of earlier rows was, so that a value is set in place.
  jet::Value& value = current_.read[i];
  if (!current_.kept->Decode(column, &value)) ThrowOutsideRow(i);
  if (const int64_t* whole = std::get_if<int64_t>(&value)) shown = *whole;
  else if (const bool* yes = std::get_if<bool>(&value)) shown = *yes;
  else AssignFromJetValue(value, &shown);
}

void JetRecordset::ThrowOutsideRow(size_t i) const {
  const jet::RowId at = current_id_.value_or(jet::RowId{});
  ThrowError(jet::Error(jet::ErrorCode::kCorrupt, session_->db->path() + ", page " + std::to_string(at.page) + ", row " +
                                                      std::to_string(at.row) + ": field \"" + fields_[i].name + "\" of \"" +
                                                      table_ + "\" lies outside its row"));
}

// A text field of the current row not converted yet is decoded straight into `out`: a list
// copying rows keeps no second copy of it.
void JetRecordset::CopyTextAt(size_t i, std::string& out) const {
  if (AsLoaded(i) && current_.state[i] == LoadedRow::kKept) {
    const jet::Stored text = current_.kept->TextUtf8(columns_[i], &out);
    if (text == jet::Stored::kText) return;
    if (text == jet::Stored::kNull) {
      out.clear();
      return;
    }
    int64_t whole;  // a song number, say
    if (current_.kept->Whole(columns_[i], &whole)) {
      FormatWhole(whole, out);
      return;
    }
  }
  FieldAt(i).CopyTextTo(out);
}

void JetRecordset::SetField(const std::string& name, const FieldValue& value) {
  RequireOpen();
  const size_t i = FieldIndex(name);
  if (pending_ == Pending::kNone) {
    ThrowInvalid("field \"" + fields_[i].name + "\" of \"" + table_ + "\" can only be set after Edit or AddNew");
  }
  changes_[i] = ValueOrThrow(ToColumnValue(value, columns_[i]));
  changes_shown_[i] = FromJetValue(*changes_[i]);
}

void JetRecordset::Edit() {
  RequireOpen();
  if (at_end_) ThrowInvalid("Edit needs a current row, and the record set of \"" + table_ + "\" is at its end");
  pending_ = Pending::kEdit;
  changes_.assign(fields_.size(), std::nullopt);
  changes_shown_.assign(fields_.size(), FieldValue());
}

void JetRecordset::AddNew() {
  RequireOpen();
  jet::Database& db = Db();
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  const jet::TableDef* def = ValueOrThrow(reader_.Def(db));
  added_.assign(fields_.size(), FieldValue());
  for (size_t i = 0; i < columns_.size(); ++i) {
    // The number the writer will give the row, unless another program adds one first.
    if (columns_[i].autonumber() && columns_[i].type == jet::ColumnType::kLong) {
      added_[i] = FieldValue(static_cast<int64_t>(def->next_autonumber) + 1);
    }
  }
  pending_ = Pending::kAdd;
  changes_.assign(fields_.size(), std::nullopt);
  changes_shown_.assign(fields_.size(), FieldValue());
}

void JetRecordset::Update() {
  RequireOpen();
  if (pending_ == Pending::kNone) ThrowInvalid("Update of \"" + table_ + "\" without Edit or AddNew: there is nothing to write");
  const bool changed = std::any_of(changes_.begin(), changes_.end(), [](const auto& c) { return c.has_value(); });
  if (pending_ == Pending::kEdit && !changed) {
    pending_ = Pending::kNone;
    return;
  }
  WriteOutcome outcome;
  ThrowIfError(WritePending(&outcome));  // a failed write leaves the pending row as it was
  pending_ = Pending::kNone;
  if (!outcome.added && !at_end_) {
    // The slot that keeps standing for the row wherever it moves.
    if (pos_ < rows_.size()) rows_[pos_] = outcome.header;
    current_id_ = outcome.header;
  }
  AfterWrite(outcome);
  Moving([&] { return Reread(); });
}

jet::Status JetRecordset::WritePending(WriteOutcome* outcome) {
  jet::Database& db = Db();
  outcome->added = pending_ == Pending::kAdd;
  outcome->generation_before = db.generation();
  for (size_t i = 0; i < columns_.size(); ++i)
    if (changes_[i]) outcome->changed_columns.push_back(columns_[i].number);
  return db.Write([&]() -> jet::Status {
    outcome->external = db.generation() != outcome->generation_before;  // the write began by re-reading the file
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(table_));
    std::vector<std::pair<size_t, jet::Value>> changes;  // by position in def.columns
    for (size_t i = 0; i < columns_.size(); ++i) {
      const jet::ColumnDef* column = def.ColumnByNumber(columns_[i].number);
      if (column == nullptr) {
        return jet::Error(jet::ErrorCode::kNotFound, db.path() + ": table \"" + def.name + "\" no longer has the field \"" +
                                                         columns_[i].name + "\"; open the record set again");
      }
      if (changes_[i]) changes.emplace_back(static_cast<size_t>(column - def.columns.data()), *changes_[i]);
    }
    JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::RowEditor> editor, jet::RowEditor::Open(db, def));
    jet::RowEditor::Written written;
    if (outcome->added) {
      std::vector<jet::Value> values(def.columns.size(), jet::Value(jet::Null{}));
      for (auto& [position, value] : changes) values[position] = std::move(value);
      JET_ASSIGN_OR_RETURN(written, editor->Insert(std::move(values)));
    } else {
      JET_ASSIGN_OR_RETURN(written, editor->Change(*current_id_, changes));
    }
    outcome->header = written.header;
    outcome->home = written.home;
    return jet::Status::Ok();
  });
}

void JetRecordset::Close() {
  if (closed_) return;
  Release();
  closed_ = true;
  pending_ = Pending::kNone;
  resume_.reset();
  rows_.clear();
  current_ = LoadedRow{};
  handed_over_ = HandedOver{};
  ahead_.values.clear();
  at_end_ = true;
  session_.reset();
}

}  // namespace velloran
