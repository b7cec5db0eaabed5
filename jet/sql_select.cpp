#include "jet/sql_select.h"

#include <algorithm>
#include <string_view>

#include "jet/data_page.h"
#include "jet/index_key.h"
#include "jet/sql_lexer.h"
#include "jet/sql_like.h"

namespace jet {

namespace {

// The index-key type a sort column's values are keyed as; the keys order exactly as Access
// sorts. kOle stands for "cannot be sorted".
ColumnType SortKeyType(ColumnType type) {
  switch (type) {
    case ColumnType::kMemo: return ColumnType::kText;  // only the first 255 characters count
    case ColumnType::kDecimal: return ColumnType::kDouble;
    case ColumnType::kComplex: return ColumnType::kLong;
    case ColumnType::kBinary:
    case ColumnType::kOle:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return ColumnType::kOle;
    default: return type;
  }
}

}  // namespace

Result<TableDef> ReadStatementTable(Database& db, const NameRef& table, const std::string& sql) {
  const CatalogEntry* entry = db.FindTable(table.name);
  for (size_t i = 0; entry == nullptr && i < db.objects().size(); ++i) {
    const CatalogEntry& e = db.objects()[i];
    if (e.IsTable() && SameName(e.name, table.name)) entry = &e;
  }
  if (entry == nullptr) {
    return SqlError(ErrorCode::kNotFound, "unknown table \"" + table.name + "\"", sql, table.offset, table.token);
  }
  return db.ReadTable(entry->name);
}

SelectCursor::SelectCursor(Database& db, std::string sql, TableDef def)
    : db_(db), sql_(std::move(sql)), def_(std::move(def)) {}

SelectCursor::~SelectCursor() = default;

Status SelectCursor::Prepare(const SelectStatement& statement, SelectOptions options) {
  for (const NameRef& name : statement.columns) {
    JET_ASSIGN_OR_RETURN(size_t column, ResolveColumn(def_, name, sql_));
    selected_.push_back(column);
  }
  if (statement.columns.empty()) {
    for (size_t i = 0; i < def_.columns.size(); ++i) selected_.push_back(i);
  }
  for (size_t column : selected_) {
    columns_.push_back(def_.columns[column]);
    names_.push_back(def_.columns[column].name);
  }
  for (const OrderTerm& term : statement.order_by) {
    JET_ASSIGN_OR_RETURN(size_t column, ResolveColumn(def_, term.column, sql_));
    if (SortKeyType(def_.columns[column].type) == ColumnType::kOle) {
      return SqlError(ErrorCode::kInvalidArgument, std::string("cannot sort by a ") + ColumnTypeName(def_.columns[column].type) +
                      " column", sql_, term.column.offset, term.column.token);
    }
    order_.push_back(SortColumn{column, term.ascending});
  }
  std::unique_ptr<Expr> where = statement.where ? statement.where->Clone() : nullptr;
  if (where) {
    JET_RETURN_IF_ERROR(BindColumns(def_, sql_, where.get()));
    JET_ASSIGN_OR_RETURN(condition_, Condition::Compile(*where, def_, db_.version(), sql_));
  }
  plan_ = ChoosePlan(def_, db_.version(), where.get(), order_, options.use_indexes);
  plan_text_ = DescribePlan(def_, plan_);
  if (plan_.use_index) {
    JET_ASSIGN_OR_RETURN(source_, OpenIndexWalk(db_.pager(), def_, plan_.walk));
  } else {
    JET_ASSIGN_OR_RETURN(source_, OpenScan(db_.pager(), def_));
  }
  row_ = std::make_unique<LazyRow>(db_.pager(), def_);
  values_.resize(selected_.size());
  return Status::Ok();
}

Result<bool> SelectCursor::Next() {
  auto more = Advance();
  if (!more.ok()) return more.error().WithContext("running " + sql_);
  return more;
}

Result<bool> SelectCursor::Advance() {
  if (plan_.sort) {
    if (!sorted_) {
      JET_RETURN_IF_ERROR(ReadAndSort());
      sorted_ = true;
    }
    if (next_entry_ >= entries_.size()) return false;
    const RowId id = entries_[next_entry_++].row;
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowFollowingOverflow(db_.pager(), id.page, id.row));
    JET_RETURN_IF_ERROR(row_->Load(id, slot));
    JET_RETURN_IF_ERROR(Emit());
    return true;
  }
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, source_->Next(row_.get()));
    if (!more) return false;
    if (condition_) {
      JET_ASSIGN_OR_RETURN(bool match, condition_->Matches(*row_));
      if (!match) continue;
    }
    JET_RETURN_IF_ERROR(Emit());
    return true;
  }
}

Status SelectCursor::Emit() {
  for (size_t j = 0; j < selected_.size(); ++j) {
    JET_ASSIGN_OR_RETURN(values_[j], row_->Take(selected_[j]));
  }
  row_id_ = row_->id();
  return Status::Ok();
}

Status SelectCursor::AppendSortKey(const SortColumn& column, std::string* key) {
  const ColumnDef& def = def_.columns[column.column];
  JET_ASSIGN_OR_RETURN(const Value* value, row_->Get(column.column));
  const ColumnType type = SortKeyType(def.type);
  Value converted;
  if (def.type == ColumnType::kDecimal && !IsNull(*value)) {
    converted = static_cast<double>(NumericValue(*value));
    value = &converted;
  }
  Status s = AppendKeyColumn(db_.version(), KeyColumn{type, column.ascending}, *value, key);
  if (!s.ok()) return s.error().WithContext("sorting by column \"" + def.name + "\"");
  return Status::Ok();
}

// Reads every matching row's sort key, then orders the rows by key; a stable sort keeps the
// table's order among ties, as an index does (its entries tie-break on the row's position).
Status SelectCursor::ReadAndSort() {
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, source_->Next(row_.get()));
    if (!more) break;
    if (condition_) {
      JET_ASSIGN_OR_RETURN(bool match, condition_->Matches(*row_));
      if (!match) continue;
    }
    const size_t start = keys_.size();
    for (const SortColumn& column : order_) JET_RETURN_IF_ERROR(AppendSortKey(column, &keys_));
    entries_.push_back(SortEntry{start, static_cast<uint32_t>(keys_.size() - start), row_->id()});
  }
  const std::string_view keys(keys_);
  std::stable_sort(entries_.begin(), entries_.end(), [&](const SortEntry& a, const SortEntry& b) {
    return keys.substr(a.key_offset, a.key_size) < keys.substr(b.key_offset, b.key_size);
  });
  return Status::Ok();
}

Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const SelectStatement& statement,
                                                    const std::string& sql, SelectOptions options) {
  JET_ASSIGN_OR_RETURN(TableDef def, ReadStatementTable(db, statement.table, sql));
  std::unique_ptr<SelectCursor> cursor(new SelectCursor(db, sql, std::move(def)));
  JET_RETURN_IF_ERROR(cursor->Prepare(statement, options));
  return cursor;
}

Result<std::unique_ptr<SelectCursor>> ExecuteSelect(Database& db, const std::string& sql, SelectOptions options) {
  JET_ASSIGN_OR_RETURN(SelectStatement statement, ParseSelect(sql));
  return ExecuteSelect(db, statement, sql, options);
}

}  // namespace jet
