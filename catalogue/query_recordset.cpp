#include "catalogue/query_recordset.h"

#include "catalogue/jet_values.h"

namespace velloran {

bool PlaceSet::insert(uint64_t place) {
  if ((size_ + 1) * 2 > slots_.size()) {
    // Kept at most half full, so that probes stay short.
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(std::max<size_t>(64, old.size() * 2), kEmpty);
    size_ = 0;
    for (uint64_t kept : old)
      if (kept != kEmpty) insert(kept);
  }
  const size_t mask = slots_.size() - 1;
  for (size_t i = (place * 0x9E3779B97F4A7C15ULL) >> 20 & mask;; i = (i + 1) & mask) {
    if (slots_[i] == place) return false;
    if (slots_[i] == kEmpty) {
      slots_[i] = place;
      ++size_;
      return true;
    }
  }
}

std::unique_ptr<Recordset> QueryRecordset::Open(std::shared_ptr<DatabaseSession> session, const std::string& sql) {
  jet::Database& db = session->Db();
  jet::ReadLock scope(db);
  ThrowIfError(scope.status());
  ThrowIfError(db.RefreshCatalogue());
  std::unique_ptr<jet::SelectCursor> cursor = ValueOrThrow(jet::ExecuteSelect(db, sql));
  cursor->ReadColumnsOnDemand();  // TakeRow reads them
  const TableProperties* properties = ValueOrThrow(db.ColumnPropertiesOf(cursor->table().name));
  std::vector<FieldInfo> fields;
  for (size_t i = 0; i < cursor->columns().size(); ++i) {
    fields.push_back(DescribeField(cursor->columns()[i], db.version(), properties));
    fields.back().name = cursor->column_names()[i];
  }
  const std::string table = cursor->table().name;
  std::unique_ptr<QueryRecordset> set(new QueryRecordset(session, table, cursor->columns(), std::move(fields)));
  set->sql_ = sql;
  set->cursor_ = std::move(cursor);
  set->cursor_generation_ = db.generation();
  ThrowIfError(set->Settle(0, false));
  return set;
}

jet::Result<bool> QueryRecordset::Reach(size_t index) {
  jet::Database& db = Db();
  while (rows_.size() <= index && cursor_ != nullptr) {
    if (cursor_generation_ != db.generation()) {
      JET_RETURN_IF_ERROR(RunAgainForTheRest());
      break;
    }
    JET_ASSIGN_OR_RETURN(bool more, cursor_->Next());
    if (!more) {
      cursor_.reset();
      break;
    }
    JET_RETURN_IF_ERROR(TakeFound());
  }
  return index < rows_.size();
}

jet::Status QueryRecordset::TakeFound() {
  // Taken where the row handed over before it was, whose room (a row made current gave it its
  // own) serves this one.
  handed_over_.live = false;
  JET_RETURN_IF_ERROR(TakeRow(&handed_over_.values));
  found_.push_back(PackRowId(cursor_->row_id()));
  rows_.push_back(cursor_->row_id());
  handed_over_.live = true;
  handed_over_.index = rows_.size() - 1;
  handed_over_.generation = Db().generation();
  return jet::Status::Ok();
}

size_t QueryRecordset::CopyRows(const std::vector<CopiedField>& fields, size_t most, CopiedRows& rows) {
  PlanCopy(fields);
  size_t copied = 0;
  while (copied < most && !AtEnd()) {
    // The current row is loaded already, and may have an edit pending: read as any caller reads it.
    CopyCurrentRow(fields, copied++, rows);
    if (copied < most && cursor_ != nullptr && NextIsUnfound()) {
      Moving([&] { return CopyFound(most, rows, &copied); });
    } else {
      MoveNext();
    }
  }
  return copied;
}

void QueryRecordset::PlanCopy(const std::vector<CopiedField>& fields) {
  using As = CopiedField::As;
  copy_plan_.clear();
  for (const CopiedField& field : fields) {
    CopyStep step{field.position < columns_.size() ? &columns_[field.position] : nullptr, field.position, CopyStep::kOther};
    const jet::ColumnDef* column = step.column;
    const bool whole = column != nullptr && column->fixed() &&
                       (column->type == jet::ColumnType::kLong || column->type == jet::ColumnType::kInteger ||
                        column->type == jet::ColumnType::kByte);
    if (column == nullptr) step.way = CopyStep::kNone;
    else if (field.as == As::kText && column->type == jet::ColumnType::kText && !column->fixed()) step.way = CopyStep::kText;
    else if (field.as == As::kText && whole) step.way = CopyStep::kWholeText;
    else if (field.as == As::kWhole && whole) step.way = CopyStep::kWhole;
    else if (field.as == As::kYesNo && column->type == jet::ColumnType::kBoolean) step.way = CopyStep::kYesNo;
    else if (field.as == As::kWhole) step.way = CopyStep::kOtherWhole;
    else if (field.as == As::kYesNo) step.way = CopyStep::kOtherYesNo;
    copy_plan_.push_back(step);
  }
  numbers_.assign(fields.size(), 0);
}

jet::Status QueryRecordset::CopyFound(size_t most, CopiedRows& rows, size_t* copied) {
  // A file changed since the cursor began has Reach run the query again.
  if (cursor_generation_ != Db().generation()) return Settle(pos_ + 1, false, GrowingReadAhead());
  const jet::JetVersion version = Db().version();
  // An error stops the walk where the moves would have stopped: on the last row copied.
  const auto failed = [&](const jet::Error& error) -> jet::Status {
    if (rows_.size() > pos_ + 1) JET_RETURN_IF_ERROR(Settle(rows_.size() - 1, false));
    return error;
  };
  while (true) {
    jet::Result<bool> more = cursor_->Next();
    if (!more.ok()) return failed(more.error());
    if (!more.value()) {
      cursor_.reset();
      visited_ = std::max(visited_, rows_.size());  // every row found has been current
      return Settle(rows_.size(), false);           // the end
    }
    if (*copied == most || !CopyFromPage(version, *copied, rows)) break;
    found_.push_back(PackRowId(cursor_->row_id()));
    rows_.push_back(cursor_->row_id());
    ++*copied;
  }
  // The first row not copied (or one that must be read as the current row) is made current.
  if (jet::Status taken = TakeFound(); !taken.ok()) return failed(taken.error());
  return Settle(rows_.size() - 1, false, GrowingReadAhead());
}

bool QueryRecordset::CopyFromPage(jet::JetVersion version, size_t row, CopiedRows& rows) {
  const jet::RowLayout& layout = cursor_->row_layout();
  std::string* const* texts = rows.Start(row);
  const CopyStep* const steps = copy_plan_.data();  // held here: the call to `rows` might change members
  int64_t* const numbers = numbers_.data();
  const size_t count = copy_plan_.size();
  for (size_t k = 0; k < count; ++k) {
    const CopyStep& step = steps[k];
    switch (step.way) {
      case CopyStep::kText: {
        const jet::Stored stored = jet::TextUtf8In(version, *step.column, layout, texts[k]);
        if (stored == jet::Stored::kNull) texts[k]->clear();
        if (stored == jet::Stored::kUnavailable) return false;  // outside the row: FieldAt reports it
        continue;
      }
      case CopyStep::kWholeText:
        if (!jet::WholeInRow(*step.column, layout, &numbers[k])) break;
        FormatWhole(numbers[k], *texts[k]);
        continue;
      case CopyStep::kWhole:
        if (!jet::WholeInRow(*step.column, layout, &numbers[k])) break;
        continue;
      case CopyStep::kYesNo:
        numbers[k] = layout.Present(step.column->number) ? 1 : 0;
        continue;
      case CopyStep::kNone: return false;  // FieldAt says what is wrong
      default: break;
    }
    // Any other type, or NULL, converted as Field converts it.
    const jet::Value* value = cursor_->DecodedColumn(step.position);
    if (value == nullptr) return false;
    AssignFromJetValue(*value, &scratch_);
    if (step.way == CopyStep::kWhole || step.way == CopyStep::kOtherWhole) numbers[k] = scratch_.ToInteger();
    else if (step.way == CopyStep::kYesNo || step.way == CopyStep::kOtherYesNo) numbers[k] = scratch_.ToBool() ? 1 : 0;
    else scratch_.CopyTextTo(*texts[k]);
  }
  rows.Finish(numbers);
  return true;
}

PlaceSet& QueryRecordset::Seen() {
  for (uint64_t place : found_) seen_.insert(place);
  found_.clear();
  return seen_;
}

jet::Status QueryRecordset::TakeRow(LoadedRow* row) {
  const size_t count = columns_.size();
  if (kept_states_.size() != count) {
    kept_states_.resize(count);
    for (size_t j = 0; j < count; ++j)
      kept_states_[j] = jet::KeptRow::MayHold(columns_[j]) ? LoadedRow::kKept : LoadedRow::kRead;
  }
  if (row->state.size() != count) {
    row->read.resize(count);
    row->shown.resize(count);
  }
  row->state = kept_states_;
  if (row->kept == nullptr) row->kept = std::make_unique<jet::KeptRow>();
  cursor_->KeepRow(row->kept.get());
  for (size_t j = 0; j < count; ++j) {
    if (kept_states_[j] == LoadedRow::kKept) continue;
    // A long value lies on pages of its own, which may change once the walk moves on: read now.
    jet::Result<const jet::Value*> value = cursor_->Column(j);
    if (!value.ok()) return value.error();
    row->read[j] = **value;
  }
  return jet::Status::Ok();
}

jet::Status QueryRecordset::RunAgainForTheRest() {
  jet::Database& db = Db();
  cursor_.reset();
  JET_RETURN_IF_ERROR(db.RefreshCatalogue());
  JET_ASSIGN_OR_RETURN(std::unique_ptr<jet::SelectCursor> cursor, jet::ExecuteSelect(db, sql_));
  cursor->ReadColumnsOnDemand();  // only the places are wanted
  PlaceSet& seen = Seen();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    if (seen.insert(PackRowId(cursor->row_id()))) rows_.push_back(cursor->row_id());
  }
  return jet::Status::Ok();
}

void QueryRecordset::AfterWrite(const WriteOutcome& outcome) {
  // A second run meets an edited row at the slot its index entries name, by every plan; an added
  // row is new to the set and may be found by it.
  if (!outcome.added) Seen().insert(PackRowId(outcome.header));
}

void QueryRecordset::SelectIndex(const std::string& index_name) {
  RequireOpen();
  ThrowInvalid("SelectIndex(\"" + index_name + "\") works on table sets only; this set runs: " + sql_);
}

void QueryRecordset::SeekEqual(const FieldValue&) {
  RequireOpen();
  ThrowInvalid("SeekEqual works on table sets only; this set runs: " + sql_);
}

}  // namespace velloran
