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
    // Taken where the row handed over before it was, whose room (a row made current gave it
    // its own) serves this one.
    handed_over_.live = false;
    JET_RETURN_IF_ERROR(TakeRow(&handed_over_.values));
    found_.push_back(PackRowId(cursor_->row_id()));
    rows_.push_back(cursor_->row_id());
    handed_over_.live = true;
    handed_over_.index = rows_.size() - 1;
    handed_over_.generation = db.generation();
  }
  return index < rows_.size();
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
  // A second run meets an edited row at the slot its index entries name or, scanning, where its
  // bytes are now; an added row is new to the set and may be found by it.
  if (outcome.added) return;
  PlaceSet& seen = Seen();
  seen.insert(PackRowId(outcome.header));
  seen.insert(PackRowId(outcome.home));
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
