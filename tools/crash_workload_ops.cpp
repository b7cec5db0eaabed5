#include "tools/crash_workload_ops.h"

#include <algorithm>
#include <filesystem>
#include <random>
#include <set>
#include <variant>

#include "jet/schema/create_database.h"
#include "jet/database.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/check/integrity_check.h"
#include "jet/schema_editor.h"
#include "jet/sql/sql_parser.h"
#include "jet/sql/sql_update.h"
#include "jet/table/table_writer.h"

namespace crash_workload {

namespace {

using jet::ColumnType;
using jet::Error;
using jet::ErrorCode;
using jet::Status;

constexpr const char* kKeyIndex = "PrimaryKey";
// Indexed text stays well inside the longest index key whatever its characters.
constexpr size_t kIndexedTextLimit = 100;

uint64_t SplitMix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The choices of one operation: seeded by the run's seed and the operation's number alone, so
// that any process can make the same operation again.
class Random {
 public:
  Random(uint64_t seed, uint64_t number) : rng_(SplitMix(seed ^ SplitMix(number))) {}

  int Int(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
  bool Chance(int percent) { return Int(0, 99) < percent; }
  size_t Index(size_t size) { return static_cast<size_t>(Int(0, static_cast<int>(size) - 1)); }

  jet::Text Text(size_t length) {
    static const char16_t* kPools[] = {u"abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,-'!?&",
                                       u"äöüßéèêçñåøÄÖÜÉ", u"αβγδεζηθλμπσωабвгдежзиклмн", u"漢字仮名交じり文日本語中文"};
    // Mostly one-byte text, which the columns store compressed; now and then text that cannot be.
    int kind = Int(0, 9);
    jet::Text out;
    while (out.size() < length) {
      int pool = kind < 6 ? 0 : kind < 8 ? Int(0, 1) : Int(0, 3);
      std::u16string_view chars(kPools[pool]);
      out.push_back(chars[Index(chars.size())]);
    }
    return out;
  }

  // Lengths that move a text between empty, short and full, so updates grow and shrink rows.
  size_t TextLength(size_t limit) {
    switch (Int(0, 5)) {
      case 0: return 0;
      case 1: case 2: return static_cast<size_t>(Int(1, static_cast<int>(std::min<size_t>(limit, 12))));
      case 3: return static_cast<size_t>(Int(0, static_cast<int>(limit)));
      default: return static_cast<size_t>(Int(static_cast<int>(limit * 3 / 4), static_cast<int>(limit)));
    }
  }

  // Memo lengths: inline, one long-value row, and chains of several pages.
  size_t MemoLength(size_t limit) {
    size_t length;
    switch (Int(0, 9)) {
      case 0: length = 0; break;
      case 1: case 2: case 3: length = static_cast<size_t>(Int(1, 40)); break;
      case 4: case 5: case 6: length = static_cast<size_t>(Int(41, 2000)); break;
      case 7: case 8: length = static_cast<size_t>(Int(2001, 9000)); break;
      default: length = static_cast<size_t>(Int(9001, 24000)); break;
    }
    return std::min(length, limit);
  }

 private:
  std::mt19937_64 rng_;
};

// A value for a column that its table accepts: never NULL in a Boolean, indexed text short enough
// for any index key. `sql` keeps memo text to what a statement reasonably carries.
Value NewValue(Random& r, const TableModel& t, const ColumnModel& c, bool sql) {
  switch (c.type) {
    case ColumnType::kBoolean: return r.Chance(50);
    case ColumnType::kLong: return r.Chance(8) ? Value(jet::Null{}) : Value(int64_t{r.Int(0, 2000000)});
    case ColumnType::kMemo:
      return r.Chance(8) ? Value(jet::Null{}) : Value(r.Text(r.MemoLength(sql ? 4000 : 24000)));
    default: {
      size_t limit = t.Indexed(c.name) ? std::min<size_t>(c.size, kIndexedTextLimit) : c.size;
      return r.Chance(10) ? Value(jet::Null{}) : Value(r.Text(r.TextLength(limit)));
    }
  }
}

Op MakeOp(OpKind kind, Target target, const std::string& table) {
  Op op;
  op.kind = kind;
  op.target = target;
  op.table = table;
  return op;
}

// The value a column of an existing row reads as when the column is added.
Value AddedColumnValue(ColumnType type) { return type == ColumnType::kBoolean ? Value(false) : Value(jet::Null{}); }

std::string Name(const char* prefix, const Model& m) { return prefix + std::to_string(m.next_name); }

FileModel& FileOf(Model& m, Target target) { return target == Target::kSongs ? m.songs : m.design; }

std::vector<int64_t> SomeKeys(Random& r, const TableModel& t, int most) {
  std::set<int64_t> keys;
  for (int n = r.Int(1, most); n > 0; --n) keys.insert(std::next(t.rows.begin(), static_cast<long>(r.Index(t.rows.size())))->first);
  return {keys.begin(), keys.end()};
}

// Non-key columns, as positions.
std::vector<size_t> ValueColumns(const TableModel& t) {
  std::vector<size_t> out;
  for (size_t i = 1; i < t.columns.size(); ++i) out.push_back(i);
  return out;
}

Op Insert(Random& r, const Model& m, Target target, const TableModel& t, int count) {
  Op op = MakeOp(OpKind::kInsert, target, t.name);
  for (int i = 0; i < count; ++i) {
    Assignments row{{t.columns[0].name, Value(int64_t{m.next_key + i})}};
    for (size_t c : ValueColumns(t)) row.emplace_back(t.columns[c].name, NewValue(r, t, t.columns[c], false));
    op.rows.push_back(std::move(row));
  }
  return op;
}

Op Update(Random& r, Target target, const TableModel& t) {
  Op op = MakeOp(OpKind::kUpdate, target, t.name);
  op.keys = SomeKeys(r, t, 4);
  std::vector<size_t> columns = ValueColumns(t);
  for (size_t k = 0; k < op.keys.size(); ++k) {
    Assignments changes;
    std::set<size_t> chosen;
    for (int n = r.Int(1, 3); n > 0 && !columns.empty(); --n) chosen.insert(columns[r.Index(columns.size())]);
    for (size_t c : chosen) changes.emplace_back(t.columns[c].name, NewValue(r, t, t.columns[c], false));
    op.rows.push_back(std::move(changes));
  }
  return op;
}

Op Delete(Random& r, Target target, const TableModel& t) {
  Op op = MakeOp(OpKind::kDelete, target, t.name);
  op.keys = SomeKeys(r, t, 5);
  return op;
}

std::string SqlLiteral(const Value& v) {
  if (jet::IsNull(v)) return "Null";
  if (const bool* b = std::get_if<bool>(&v)) return *b ? "True" : "False";
  if (const int64_t* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
  std::string text = jet::ToUtf8(std::get<jet::Text>(v)), quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
  return quoted + "'";
}

// UPDATE over a run of keys: dozens of rows change, and grow or shrink, in one write.
Op SqlUpdate(Random& r, Target target, const TableModel& t) {
  Op op = MakeOp(OpKind::kSqlUpdate, target, t.name);
  auto first = std::next(t.rows.begin(), static_cast<long>(r.Index(t.rows.size())));
  auto last = first;
  for (int n = r.Int(3, 80); n > 0 && last != t.rows.end(); --n) ++last;
  op.low = first->first;
  op.high = last == t.rows.end() ? t.rows.rbegin()->first + 1 : last->first;
  std::vector<size_t> columns = ValueColumns(t);
  std::set<size_t> chosen;
  for (int n = r.Int(1, 2); n > 0 && !columns.empty(); --n) chosen.insert(columns[r.Index(columns.size())]);
  std::string sql = "UPDATE [" + t.name + "] SET ";
  for (size_t c : chosen) {
    op.set.emplace_back(t.columns[c].name, NewValue(r, t, t.columns[c], true));
    sql += (op.set.size() > 1 ? ", [" : "[") + t.columns[c].name + "] = " + SqlLiteral(op.set.back().second);
  }
  const std::string& key = t.columns[0].name;
  op.sql = sql + " WHERE [" + key + "] >= " + std::to_string(op.low) + " AND [" + key + "] < " + std::to_string(op.high);
  return op;
}

jet::ColumnDesign MakeColumn(const std::string& name, ColumnType type, uint16_t size = 255) {
  jet::ColumnDesign c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

jet::IndexDesign MakeIndex(const std::string& name, const std::string& column, bool ascending, bool primary) {
  jet::IndexDesign i;
  i.name = name;
  i.columns = {{column, ascending}};
  i.primary = primary;
  return i;
}

Op CreateTable(Random& r, const Model& m) {
  Op op = MakeOp(OpKind::kCreateTable, Target::kDesign, Name("T", m));
  jet::TableDesign& d = op.design;
  d.name = op.table;
  d.columns = {MakeColumn("K", ColumnType::kLong), MakeColumn("Title", ColumnType::kText, static_cast<uint16_t>(r.Int(20, 255))),
               MakeColumn("Notes", ColumnType::kMemo)};
  if (r.Chance(50)) d.columns.push_back(MakeColumn("Plays", ColumnType::kLong));
  if (r.Chance(50)) d.columns.push_back(MakeColumn("Flag", ColumnType::kBoolean));
  d.indexes = {MakeIndex(kKeyIndex, "K", true, true)};
  if (r.Chance(60)) d.indexes.push_back(MakeIndex("ByTitle", "Title", r.Chance(70), false));
  return op;
}

Op AddColumn(Random& r, const Model& m, const TableModel& t) {
  static const ColumnType kTypes[] = {ColumnType::kText, ColumnType::kLong, ColumnType::kMemo, ColumnType::kBoolean};
  Op op = MakeOp(OpKind::kAddColumn, Target::kDesign, t.name);
  op.column = MakeColumn(Name("C", m), kTypes[r.Int(0, 3)], static_cast<uint16_t>(r.Int(10, 255)));
  return op;
}

Op AddIndex(Random& r, const Model& m, const TableModel& t) {
  std::vector<std::string> keyable;
  for (size_t c : ValueColumns(t))
    if (t.columns[c].type == ColumnType::kText || t.columns[c].type == ColumnType::kLong) keyable.push_back(t.columns[c].name);
  if (keyable.empty()) return AddColumn(r, m, t);
  Op op = MakeOp(OpKind::kAddIndex, Target::kDesign, t.name);
  op.index = MakeIndex(Name("I", m), keyable[r.Index(keyable.size())], r.Chance(70), false);
  return op;
}

Op DropColumn(Random& r, const Model& m, const TableModel& t) {
  std::vector<std::string> droppable;
  for (size_t c : ValueColumns(t))
    if (!t.Indexed(t.columns[c].name)) droppable.push_back(t.columns[c].name);
  if (droppable.empty()) return AddColumn(r, m, t);
  Op op = MakeOp(OpKind::kDropColumn, Target::kDesign, t.name);
  op.name = droppable[r.Index(droppable.size())];
  return op;
}

Op DropIndex(Random& r, const Model& m, const TableModel& t) {
  std::vector<std::string> droppable;
  for (const IndexModel& i : t.indexes)
    if (!i.primary) droppable.push_back(i.name);
  if (droppable.empty()) return AddIndex(r, m, t);
  Op op = MakeOp(OpKind::kDropIndex, Target::kDesign, t.name);
  op.name = droppable[r.Index(droppable.size())];
  return op;
}

Op RowOp(Random& r, const Model& m, Target target, const TableModel& t, int roll) {
  if (t.rows.empty() || roll < 35) {
    int count = r.Chance(10) ? r.Int(40, 150) : r.Int(1, target == Target::kSongs ? 20 : 6);
    return Insert(r, m, target, t, count);
  }
  if (roll < 65) return Update(r, target, t);
  // A table whose value columns were all dropped has nothing for an UPDATE to set.
  if (roll < 80 || ValueColumns(t).empty()) return Delete(r, target, t);
  return SqlUpdate(r, target, t);
}

}  // namespace

int TableModel::Column(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].name == name) return static_cast<int>(i);
  return -1;
}

bool TableModel::Indexed(const std::string& column) const {
  for (const IndexModel& i : indexes)
    if (i.column == column) return true;
  return false;
}

TableModel* FileModel::Table(const std::string& name) {
  for (TableModel& t : tables)
    if (t.name == name) return &t;
  return nullptr;
}

const TableModel* FileModel::Table(const std::string& name) const {
  return const_cast<FileModel*>(this)->Table(name);
}

Op Generate(uint64_t seed, uint64_t number, const Model& m) {
  Random r(seed, number);
  if (!m.design.exists) return MakeOp(OpKind::kCreateDatabase, Target::kDesign, "");
  if (m.design.tables.empty()) return CreateTable(r, m);
  if (r.Chance(50)) return RowOp(r, m, Target::kSongs, m.songs.tables[0], r.Int(0, 99));
  const TableModel& t = m.design.tables[r.Index(m.design.tables.size())];
  int roll = r.Int(0, 99);
  if (roll < 60) return RowOp(r, m, Target::kDesign, t, roll * 100 / 60);
  if (roll < 68) return AddColumn(r, m, t);
  if (roll < 74) return DropColumn(r, m, t);
  if (roll < 82) return AddIndex(r, m, t);
  if (roll < 88) return DropIndex(r, m, t);
  if (roll < 95 || m.design.tables.size() < 2) return CreateTable(r, m);
  Op op = MakeOp(OpKind::kDropTable, Target::kDesign, t.name);
  return op;
}

namespace {

// The design changes of one table.
void ApplyToDesign(const Op& op, TableModel& t, Model* m) {
  switch (op.kind) {
    case OpKind::kAddColumn:
      t.columns.push_back({op.column.name, op.column.type, op.column.size});
      for (auto& [key, row] : t.rows) row.push_back(AddedColumnValue(op.column.type));
      ++m->next_name;
      break;
    case OpKind::kDropColumn: {
      size_t at = static_cast<size_t>(t.Column(op.name));
      t.columns.erase(t.columns.begin() + static_cast<long>(at));
      for (auto& [key, row] : t.rows) row.erase(row.begin() + static_cast<long>(at));
      break;
    }
    case OpKind::kAddIndex:
      t.indexes.push_back({op.index.name, op.index.columns[0].column, false});
      ++m->next_name;
      break;
    case OpKind::kDropIndex:
      t.indexes.erase(std::find_if(t.indexes.begin(), t.indexes.end(), [&](const IndexModel& i) { return i.name == op.name; }));
      break;
    default: break;
  }
}

}  // namespace

void Apply(const Op& op, Model* m) {
  FileModel& file = FileOf(*m, op.target);
  if (op.kind == OpKind::kCreateDatabase) {
    file.exists = true;
    return;
  }
  if (op.kind == OpKind::kCreateTable) {
    TableModel t;
    t.name = op.design.name;
    for (const jet::ColumnDesign& c : op.design.columns) t.columns.push_back({c.name, c.type, c.size});
    for (const jet::IndexDesign& i : op.design.indexes) t.indexes.push_back({i.name, i.columns[0].column, i.primary});
    file.tables.push_back(std::move(t));
    ++m->next_name;
    return;
  }
  if (op.kind == OpKind::kDropTable) {
    file.tables.erase(std::find_if(file.tables.begin(), file.tables.end(), [&](const TableModel& t) { return t.name == op.table; }));
    return;
  }
  TableModel& t = *file.Table(op.table);
  auto assign = [&](std::vector<Value>& row, const Assignments& changes) {
    for (const auto& [column, value] : changes) row[static_cast<size_t>(t.Column(column))] = value;
  };
  switch (op.kind) {
    case OpKind::kInsert:
      for (const Assignments& values : op.rows) {
        std::vector<Value> row(t.columns.size());
        assign(row, values);
        t.rows[std::get<int64_t>(row[0])] = std::move(row);
      }
      m->next_key += static_cast<int64_t>(op.rows.size());
      break;
    case OpKind::kUpdate:
      for (size_t i = 0; i < op.keys.size(); ++i) assign(t.rows.at(op.keys[i]), op.rows[i]);
      break;
    case OpKind::kDelete:
      for (int64_t key : op.keys) t.rows.erase(key);
      break;
    case OpKind::kSqlUpdate:
      for (auto it = t.rows.lower_bound(op.low); it != t.rows.end() && it->first < op.high; ++it) assign(it->second, op.set);
      break;
    default: ApplyToDesign(op, t, m); break;
  }
}

std::string Op::Describe() const {
  std::string where = (target == Target::kSongs ? "songs:" : "design:") + table;
  auto keys_text = [&]() {
    std::string s;
    for (size_t i = 0; i < keys.size(); ++i) {
      if (i > 0) s += ',';
      s += std::to_string(keys[i]);
    }
    return s;
  };
  switch (kind) {
    case OpKind::kInsert:
      return "insert " + std::to_string(rows.size()) + " rows into " + where + " from key " +
             std::to_string(std::get<int64_t>(rows.front().front().second));
    case OpKind::kUpdate: return "update rows " + keys_text() + " of " + where;
    case OpKind::kDelete: return "delete rows " + keys_text() + " of " + where;
    case OpKind::kSqlUpdate: {
      std::string s = "sql on " + where + ": " + sql;
      if (s.size() > 160) s = s.substr(0, 100) + "... (" + std::to_string(sql.size()) + " bytes) ..." + s.substr(s.size() - 40);
      return s;
    }
    case OpKind::kCreateDatabase: return "create the design database";
    case OpKind::kCreateTable: return "create table " + where + " (" + std::to_string(design.columns.size()) + " columns)";
    case OpKind::kAddColumn: return "add column " + column.name + " (" + jet::ColumnTypeName(column.type) + ") to " + where;
    case OpKind::kDropColumn: return "drop column " + name + " of " + where;
    case OpKind::kAddIndex: return "add index " + index.name + " on " + index.columns[0].column + " to " + where;
    case OpKind::kDropIndex: return "drop index " + name + " of " + where;
    case OpKind::kDropTable: return "drop table " + where;
  }
  return "?";
}

jet::Result<Model> InitialModel(const std::string& start_copy) {
  JET_ASSIGN_OR_RETURN(auto db, jet::Database::Open(start_copy));
  JET_ASSIGN_OR_RETURN(jet::TableDef def, db->ReadTable("MyList"));
  TableModel t;
  t.name = def.name;
  for (const jet::ColumnDef& c : def.columns) {
    uint16_t size = c.type == ColumnType::kText ? static_cast<uint16_t>(c.length / 2) : 0;
    t.columns.push_back({c.name, c.type, size});
  }
  if (t.columns.empty() || t.columns[0].type != ColumnType::kLong || def.FindIndex(kKeyIndex) == nullptr) {
    return Error(ErrorCode::kInvalidArgument, start_copy + ": MyList must start with its Long key column and have a PrimaryKey index");
  }
  for (const jet::LogicalIndex& li : def.logical_indexes) {
    const jet::PhysicalIndex& pi = def.physical_indexes[li.physical_index];
    t.indexes.push_back({li.name, def.ColumnByNumber(pi.columns[0].column_number)->name, li.name == kKeyIndex});
  }
  Model m;
  JET_ASSIGN_OR_RETURN(auto cursor, jet::TableCursor::Open(db->pager(), def));
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    const int64_t* key = std::get_if<int64_t>(&cursor->values()[0]);
    if (key == nullptr) {
      t.unkeyed.push_back(cursor->values());
      continue;
    }
    t.rows[*key] = cursor->values();
    m.next_key = std::max(m.next_key, *key + 1);
  }
  m.songs.exists = true;
  m.songs.tables.push_back(std::move(t));
  return m;
}

// ---------------------------------------------------------------------------------------------
// Running operations on the files.

namespace {

jet::Result<size_t> Position(const jet::TableDef& def, const std::string& column) {
  const jet::ColumnDef* c = def.FindColumn(column);
  if (c == nullptr) return Error(ErrorCode::kNotFound, "table " + def.name + " has no column " + column);
  return static_cast<size_t>(c - def.columns.data());
}

// The row whose key is `key`, sought through the key index as the write sees it now.
jet::Result<jet::RowId> FindRow(jet::Pager& pager, const jet::TableDef& def, int64_t key) {
  const jet::LogicalIndex* li = def.FindIndex(kKeyIndex);
  if (li == nullptr) return Error(ErrorCode::kNotFound, "table " + def.name + " has no PrimaryKey index");
  const jet::PhysicalIndex& pi = def.physical_indexes[li->physical_index];
  JET_ASSIGN_OR_RETURN(std::string bytes, jet::EncodeIndexKey(jet::JetVersion::kJet4, {{ColumnType::kLong, pi.columns[0].ascending}},
                                                              {Value(key)}));
  jet::IndexCursor cursor(pager, def.page, pi);
  JET_ASSIGN_OR_RETURN(bool found, cursor.SeekEqual(bytes));
  if (!found) return Error(ErrorCode::kNotFound, "table " + def.name + " has no row with key " + std::to_string(key));
  return cursor.row();
}

Status Assign(const jet::TableDef& def, const Assignments& changes, std::vector<Value>* values) {
  for (const auto& [column, value] : changes) {
    JET_ASSIGN_OR_RETURN(size_t at, Position(def, column));
    (*values)[at] = value;
  }
  return Status::Ok();
}

}  // namespace

jet::Result<jet::WritableDatabase*> Files::Handle(Target target) {
  std::unique_ptr<jet::WritableDatabase>& handle = target == Target::kSongs ? songs_ : design_;
  if (!handle) {
    JET_ASSIGN_OR_RETURN(handle, jet::WritableDatabase::Open(target == Target::kSongs ? songs_path_ : design_path_));
  }
  return handle.get();
}

Status Files::RunRows(jet::WritableDatabase& db, const Op& op) {
  return db.Write([&]() -> Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable(op.table));
    JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
    if (op.kind == OpKind::kInsert) {
      for (const Assignments& row : op.rows) {
        std::vector<Value> values(def.columns.size());
        JET_RETURN_IF_ERROR(Assign(def, row, &values));
        JET_RETURN_IF_ERROR(writer->Insert(std::move(values)).status());
      }
      return Status::Ok();
    }
    for (size_t i = 0; i < op.keys.size(); ++i) {
      JET_ASSIGN_OR_RETURN(jet::RowId row, FindRow(db.pager(), writer->def(), op.keys[i]));
      if (op.kind == OpKind::kDelete) {
        JET_RETURN_IF_ERROR(writer->Delete(row));
        continue;
      }
      JET_ASSIGN_OR_RETURN(std::vector<Value> values, writer->Read(row));
      JET_RETURN_IF_ERROR(Assign(def, op.rows[i], &values));
      JET_RETURN_IF_ERROR(writer->Update(row, std::move(values)));
    }
    return Status::Ok();
  });
}

// The statement is bound and its rows found through a read handle opened inside the write: the
// writer lock is held, so what that handle reads is exactly what this write starts from.
Status Files::RunSqlUpdate(jet::WritableDatabase& db, const std::string& path, const Op& op) {
  return db.Write([&]() -> Status {
    JET_ASSIGN_OR_RETURN(auto reader, jet::Database::Open(path));
    JET_ASSIGN_OR_RETURN(jet::Statement statement, jet::ParseStatement(op.sql));
    const auto* update = std::get_if<jet::UpdateStatement>(&statement);
    if (update == nullptr) return Error(ErrorCode::kInvalidArgument, "not an UPDATE: " + op.sql);
    return jet::ExecuteUpdate(*reader, db.pager(), *update, op.sql).status();
  });
}

Status Files::Run(const Op& op) {
  Status status = [&]() -> Status {
    if (op.kind == OpKind::kCreateDatabase) return jet::CreateDatabase(design_path_);
    JET_ASSIGN_OR_RETURN(jet::WritableDatabase * db, Handle(op.target));
    switch (op.kind) {
      case OpKind::kInsert:
      case OpKind::kUpdate:
      case OpKind::kDelete: return RunRows(*db, op);
      case OpKind::kSqlUpdate: return RunSqlUpdate(*db, op.target == Target::kSongs ? songs_path_ : design_path_, op);
      case OpKind::kCreateTable: return jet::CreateTable(*db, op.design);
      case OpKind::kAddColumn: return jet::AddColumn(*db, op.table, op.column);
      case OpKind::kDropColumn: return jet::DropColumn(*db, op.table, op.name);
      case OpKind::kAddIndex: return jet::AddIndex(*db, op.table, op.index);
      case OpKind::kDropIndex: return jet::DropIndex(*db, op.table, op.name);
      case OpKind::kDropTable: return jet::DropTable(*db, op.table);
      case OpKind::kCreateDatabase: break;
    }
    return Status::Ok();
  }();
  if (!status.ok()) return status.error().WithContext(op.Describe());
  return status;
}

// ---------------------------------------------------------------------------------------------
// Comparing files with the model.

std::vector<std::string> CheckFile(const std::string& path) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) return {db.error().message()};
  return jet::CheckDatabase(*db.value());
}

namespace {

std::string Show(const Value& v) {
  if (jet::IsNull(v)) return "NULL";
  if (const bool* b = std::get_if<bool>(&v)) return *b ? "Yes" : "No";
  if (const int64_t* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
  if (const jet::Text* t = std::get_if<jet::Text>(&v)) {
    std::string s = jet::ToUtf8(t->substr(0, 24));
    return "\"" + s + (t->size() > 24 ? "...\" (" + std::to_string(t->size()) + " chars)" : "\"");
  }
  return "(other)";
}

// Every value in full, for comparing rows as a whole.
std::string Canonical(const std::vector<Value>& row) {
  std::string s;
  for (const Value& v : row) {
    s += std::to_string(v.index()) + ":";
    if (const bool* b = std::get_if<bool>(&v)) s += *b ? "1" : "0";
    else if (const int64_t* n = std::get_if<int64_t>(&v)) s += std::to_string(*n);
    else if (const jet::Text* t = std::get_if<jet::Text>(&v)) s += jet::ToUtf8(*t);
    s += "|";
  }
  return s;
}

void CompareTable(jet::Database& db, const TableModel& t, std::vector<std::string>* out) {
  auto def = db.ReadTable(t.name);
  if (!def.ok()) return out->push_back(def.error().message());
  std::string columns, expected_columns;
  for (const jet::ColumnDef& c : def->columns) columns += c.name + ":" + jet::ColumnTypeName(c.type) + " ";
  for (const ColumnModel& c : t.columns) expected_columns += c.name + ":" + jet::ColumnTypeName(c.type) + " ";
  if (columns != expected_columns) return out->push_back(t.name + ": columns " + columns + "instead of " + expected_columns);
  std::set<std::string> indexes, expected_indexes;
  for (const jet::LogicalIndex& li : def->logical_indexes) indexes.insert(li.name);
  for (const IndexModel& i : t.indexes) expected_indexes.insert(i.name);
  if (indexes != expected_indexes) out->push_back(t.name + ": the indexes differ from the model's");
  if (def->row_count != t.rows.size() + t.unkeyed.size()) {
    out->push_back(t.name + ": the definition counts " + std::to_string(def->row_count) + " rows, the model " +
                   std::to_string(t.rows.size() + t.unkeyed.size()));
  }
  auto cursor = jet::TableCursor::Open(db.pager(), def.value());
  if (!cursor.ok()) return out->push_back(cursor.error().message());
  std::set<int64_t> seen;
  std::multiset<std::string> unkeyed, expected_unkeyed;
  for (const std::vector<Value>& row : t.unkeyed) expected_unkeyed.insert(Canonical(row));
  while (out->size() < 12) {
    auto more = cursor.value()->Next();
    if (!more.ok()) return out->push_back(more.error().message());
    if (!more.value()) break;
    const std::vector<Value>& row = cursor.value()->values();
    const int64_t* key = std::get_if<int64_t>(&row[0]);
    if (key == nullptr) {
      unkeyed.insert(Canonical(row));
      continue;
    }
    auto expected = key == nullptr ? t.rows.end() : t.rows.find(*key);
    if (expected == t.rows.end() || !seen.insert(*key).second) {
      out->push_back(t.name + ": a row the model does not have (or has once): key " + Show(row[0]));
      continue;
    }
    for (size_t c = 0; c < row.size(); ++c) {
      if (row[c] == expected->second[c]) continue;
      out->push_back(t.name + " key " + std::to_string(*key) + " column " + t.columns[c].name + ": " + Show(row[c]) +
                     " instead of " + Show(expected->second[c]));
    }
  }
  if (unkeyed != expected_unkeyed) out->push_back(t.name + ": the rows without a key differ from the model's");
  for (const auto& [key, row] : t.rows) {
    if (out->size() >= 12) break;
    if (seen.count(key) == 0) out->push_back(t.name + ": the row with key " + std::to_string(key) + " is missing");
  }
}

}  // namespace

std::vector<std::string> Differences(const std::string& path, const FileModel& model) {
  bool exists = std::filesystem::exists(path);
  if (!exists) return model.exists ? std::vector<std::string>{path + ": the database was never created"} : std::vector<std::string>{};
  if (!model.exists) return {path + ": the database exists, but its creation is not done yet in the model"};
  auto db = jet::Database::Open(path);
  if (!db.ok()) return {db.error().message()};
  std::vector<std::string> out;
  std::set<std::string> names, expected;
  for (const std::string& name : db.value()->UserTableNames()) names.insert(name);
  for (const TableModel& t : model.tables) expected.insert(t.name);
  if (names != expected) out.push_back(path + ": the tables differ from the model's");
  for (const TableModel& t : model.tables)
    if (names.count(t.name) != 0) CompareTable(*db.value(), t, &out);
  return out;
}

}  // namespace crash_workload
