// A randomized mix of design changes and row writes, each an all-or-nothing write, on new
// databases and on copies of fixtures, against a model of what every table must hold. The model
// predicts which changes the engine refuses (duplicate names, keys a unique index already holds,
// NULLs where an index requires values, indexed columns dropped); a refused change must leave the
// database as it was. Every table reads back as the model says through our reader, mdb-export
// prints it as our export does, mdb-reader reads it the same, and the check passes on every
// table, system tables included.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "jet/schema/create_database.h"
#include "tests/jet/schema_test_support.h"

namespace {

using namespace schema_test;
using velloran_test::ScratchDir;

// An index's columns as the model spells them; a row's values one per column, in definition order.
struct ModelIndex { std::string name; std::vector<std::string> columns; bool unique = false, no_nulls = false; };
struct ModelRow { jet::RowId id; std::vector<Value> values; };
struct ModelTable {
  std::string name;
  std::vector<std::pair<std::string, ColumnType>> columns;
  std::vector<ModelIndex> indexes;
  std::vector<ModelRow> rows;
};

std::string Canonical(const Value& v) {
  std::ostringstream out;
  std::visit([&](const auto& x) {
    using T = std::decay_t<decltype(x)>;
    if constexpr (std::is_same_v<T, jet::Null>) out << "NULL";
    else if constexpr (std::is_same_v<T, bool>) out << (x ? "true" : "false");
    else if constexpr (std::is_same_v<T, int64_t>) out << x;
    else if constexpr (std::is_same_v<T, double>) out << x;
    else if constexpr (std::is_same_v<T, jet::DateTime>) out << "D" << x.days;
    else if constexpr (std::is_same_v<T, jet::Text>) out << '"' << jet::ToUtf8(x) << '"';
    else out << "?";
  }, v);
  return out.str();
}

std::string Canonical(const std::vector<Value>& row) {
  std::string s;
  for (const Value& v : row) s += Canonical(v) + "|";
  return s;
}

int Find(const std::vector<std::pair<std::string, ColumnType>>& columns, const std::string& name) {
  for (size_t i = 0; i < columns.size(); ++i)
    if (jet::SameObjectName(columns[i].first, name)) return static_cast<int>(i);
  return -1;
}

struct Mix {
  Mix(const std::string& path, uint32_t seed) : path_(path), random_(seed) {}

  // Builds the model from what the database holds now.
  void Load() {
    ASSERT_OK_LET(pager, jet::Pager::Open(path_));
    for (const jet::CatalogEntry& e : Catalogue(*pager.value())) {
      if (!e.IsUserTable()) continue;
      jet::TableDef def = TableNamed(*pager.value(), e.name);
      ModelTable t{e.name, {}, {}, {}};
      for (const jet::ColumnDef& c : def.columns) t.columns.emplace_back(c.name, c.type);
      for (const jet::LogicalIndex& li : def.logical_indexes) {
        const jet::PhysicalIndex& pi = def.physical_indexes[li.physical_index];
        ModelIndex index{li.name, {}, pi.unique(), pi.required() || li.primary()};
        for (const jet::IndexColumn& ic : pi.columns) index.columns.push_back(def.ColumnByNumber(ic.column_number)->name);
        t.indexes.push_back(index);
      }
      auto cursor = jet::TableCursor::Open(*pager.value(), def);
      while (cursor.value()->Next().value()) t.rows.push_back({cursor.value()->row_id(), cursor.value()->values()});
      tables_.push_back(std::move(t));
    }
  }

  // Runs about `full_steps` steps (scaled), checking the file every 40 and at the end.
  void Run(int full_steps) {
    const int steps = std::max(20, static_cast<int>(full_steps * velloran_test::RandomWritesScale()));
    Load();
    // A short course (the sanitizer builds') goes on until the mix has met at least one change the
    // engine must refuse, so that path is always part of the run.
    for (int i = 0; (i < steps || (refused_ == 0 && i < 4 * steps)) && !::testing::Test::HasFailure(); ++i) {
      Step();
      if (i % 40 == 39) Verify();
    }
    Verify();
    std::vector<std::string> names{"MSysObjects", "MSysACEs"};
    for (const ModelTable& t : tables_) names.push_back(t.name);
    ExpectMdbReaderAgrees(path_, names);
    EXPECT_GT(done_, steps / 2);
    EXPECT_GT(refused_, 0);
  }

  int Pick(size_t n) { return static_cast<int>(std::uniform_int_distribution<size_t>(0, n - 1)(random_)); }
  bool Chance(int percent) { return Pick(100) < percent; }
  std::string RandomName(const char* prefix) { return std::string(Chance(15) ? "x" : "X") + prefix + std::to_string(Pick(12)); }
  Value RandomValue(ColumnType type) {
    static const char* words[] = {"alpha", "beta", "gamma", "delta", "Ölmühle", "Straße", "Żółw", "song", "tune", "ballad"};
    if (Chance(15)) return type == ColumnType::kBoolean ? Value(false) : Value(jet::Null{});
    switch (type) {
      case ColumnType::kLong: return int64_t{Pick(40) - 5};
      case ColumnType::kBoolean: return Chance(50);
      case ColumnType::kDateTime: return jet::DateTime{36000.0 + Pick(5000)};
      case ColumnType::kMemo: return jet::FromUtf8(std::string(Chance(30) ? 5000 : Pick(300), 'm') + words[Pick(10)]);
      case ColumnType::kText: return jet::FromUtf8(std::string(words[Pick(10)]) + (Chance(50) ? "" : " " + std::to_string(Pick(9))));
      default: return jet::Null{};
    }
  }

  std::vector<Value> RandomRow(const ModelTable& t) {
    std::vector<Value> row;
    for (const auto& [name, type] : t.columns) row.push_back(RandomValue(type));
    return row;
  }
  static std::vector<std::vector<Value>> Values(const ModelTable& t) {
    std::vector<std::vector<Value>> rows;
    for (const ModelRow& r : t.rows) rows.push_back(r.values);
    return rows;
  }

  // Whether `rows` break an index of `t`: a NULL where it requires values, or two rows with the
  // same key (not all NULL) in a unique one.
  bool Breaks(const ModelTable& t, const std::vector<std::vector<Value>>& rows) const {
    for (const ModelIndex& index : t.indexes) {
      std::set<std::string> keys;
      for (const auto& row : rows) {
        std::string key;
        size_t nulls = 0;
        for (const std::string& c : index.columns) {
          const Value& v = row[Find(t.columns, c)];
          nulls += jet::IsNull(v) ? 1 : 0;
          key += Canonical(v) + "|";
        }
        if (nulls > 0 && index.no_nulls) return true;
        if (index.unique && nulls < index.columns.size() && !keys.insert(key).second) return true;
      }
    }
    return false;
  }

  void Expect(const jet::Status& status, bool should_succeed, const std::string& what) {
    EXPECT_EQ(status.ok(), should_succeed) << what << (status.ok() ? std::string(" was accepted") : ": " + status.error().message());
    ++(should_succeed ? done_ : refused_);
  }

  void InsertRows(ModelTable& t) {
    std::vector<std::vector<Value>> fresh, all = Values(t);
    for (int n = 1 + Pick(8); n > 0; --n) fresh.push_back(RandomRow(t));
    all.insert(all.end(), fresh.begin(), fresh.end());
    std::vector<jet::RowId> ids;
    jet::Status s = velloran_test::WithTableWriter(*db_, t.name, [&](jet::TableWriter& writer) -> jet::Status {
      for (const auto& row : fresh) {
        JET_ASSIGN_OR_RETURN(jet::RowId id, writer.Insert(row));
        ids.push_back(id);
      }
      return jet::Status::Ok();
    });
    bool ok = !Breaks(t, all);
    Expect(s, ok, "inserting " + std::to_string(fresh.size()) + " rows into " + t.name);
    if (ok && s.ok())
      for (size_t i = 0; i < fresh.size(); ++i) t.rows.push_back({ids[i], fresh[i]});
  }

  void UpdateRow(ModelTable& t) {
    if (t.rows.empty()) return InsertRows(t);
    const size_t at = Pick(t.rows.size());
    ModelRow& target = t.rows[at];
    const std::vector<Value> values = RandomRow(t);
    std::vector<std::vector<Value>> all = Values(t);
    all[at] = values;
    jet::Status s = velloran_test::WithTableWriter(*db_, t.name, [&](jet::TableWriter& w) { return w.Update(target.id, values); });
    bool ok = !Breaks(t, all);
    Expect(s, ok, "updating a row of " + t.name);
    if (ok && s.ok()) target.values = values;
  }

  void DeleteRows(ModelTable& t) {
    std::vector<size_t> chosen;
    for (int n = std::min<int>(1 + Pick(3), static_cast<int>(t.rows.size())); n > 0; --n) {
      size_t i = Pick(t.rows.size());
      if (std::find(chosen.begin(), chosen.end(), i) == chosen.end()) chosen.push_back(i);
    }
    jet::Status s = velloran_test::WithTableWriter(*db_, t.name, [&](jet::TableWriter& writer) -> jet::Status {
      for (size_t i : chosen) JET_RETURN_IF_ERROR(writer.Delete(t.rows[i].id));
      return jet::Status::Ok();
    });
    Expect(s, true, "deleting rows of " + t.name);
    std::sort(chosen.rbegin(), chosen.rend());
    if (s.ok())
      for (size_t i : chosen) t.rows.erase(t.rows.begin() + static_cast<long>(i));
  }

  void AddColumn(ModelTable& t) {
    static const ColumnType types[] = {ColumnType::kLong, ColumnType::kText, ColumnType::kBoolean, ColumnType::kMemo, ColumnType::kDateTime};
    jet::ColumnDesign design = Column(RandomName("C"), types[Pick(5)], static_cast<uint16_t>(20 + Pick(200)));
    bool ok = Find(t.columns, design.name) < 0;
    Expect(jet::AddColumn(*db_, t.name, design), ok, "adding column " + design.name + " to " + t.name);
    if (!ok) return;
    t.columns.emplace_back(design.name, design.type);
    for (ModelRow& r : t.rows) r.values.push_back(design.type == ColumnType::kBoolean ? Value(false) : Value(jet::Null{}));
  }

  void DropColumn(ModelTable& t) {
    size_t at = Pick(t.columns.size());
    std::string name = t.columns[at].first;
    bool indexed = false;
    for (const ModelIndex& index : t.indexes)
      for (const std::string& c : index.columns) indexed = indexed || jet::SameObjectName(c, name);
    bool ok = !indexed && t.columns.size() > 1;
    Expect(jet::DropColumn(*db_, t.name, name), ok, "dropping column " + name + " of " + t.name);
    if (!ok) return;
    t.columns.erase(t.columns.begin() + static_cast<long>(at));
    for (ModelRow& r : t.rows) r.values.erase(r.values.begin() + static_cast<long>(at));
  }

  void AddIndex(ModelTable& t) {
    std::vector<std::string> keyable;
    for (const auto& [name, type] : t.columns)
      if (type == ColumnType::kLong || type == ColumnType::kText) keyable.push_back(name);
    if (keyable.empty()) return AddColumn(t);
    std::shuffle(keyable.begin(), keyable.end(), random_);
    keyable.resize(std::min<size_t>(keyable.size(), 1 + Pick(2)));
    ModelIndex index{RandomName("I"), keyable, Chance(30), false};
    jet::IndexDesign design = Index(index.name, {});
    for (const std::string& c : keyable) design.columns.push_back({c, Chance(70)});
    design.unique = index.unique;
    bool ok = true;
    for (const ModelIndex& existing : t.indexes) ok = ok && !jet::SameObjectName(existing.name, index.name);
    ModelTable with = t;
    with.indexes = {index};
    ok = ok && !Breaks(with, Values(t));
    Expect(jet::AddIndex(*db_, t.name, design), ok, "adding index " + index.name + " to " + t.name);
    if (ok) t.indexes.push_back(index);
  }

  void DropIndex(ModelTable& t) {
    if (t.indexes.empty()) return AddIndex(t);
    size_t at = Pick(t.indexes.size());
    Expect(jet::DropIndex(*db_, t.name, t.indexes[at].name), true, "dropping index " + t.indexes[at].name + " of " + t.name);
    t.indexes.erase(t.indexes.begin() + static_cast<long>(at));
  }

  void CreateTable() {
    jet::TableDesign design{RandomName("T"), {Column("C0", ColumnType::kLong), Column("C1", ColumnType::kText, 100)}, {}};
    if (Chance(50)) design.columns.push_back(Column("C2", ColumnType::kMemo));
    if (Chance(70)) design.indexes.push_back(Index("I0", {{Chance(50) ? "C0" : "C1"}}, false, Chance(30)));
    bool ok = true;
    for (const ModelTable& t : tables_) ok = ok && !jet::SameObjectName(t.name, design.name);
    Expect(jet::CreateTable(*db_, design), ok, "creating table " + design.name);
    if (!ok) return;
    ModelTable t{design.name, {}, {}, {}};
    for (const jet::ColumnDesign& c : design.columns) t.columns.emplace_back(c.name, c.type);
    for (const jet::IndexDesign& i : design.indexes) t.indexes.push_back({i.name, {i.columns[0].column}, i.unique, false});
    tables_.push_back(t);
  }

  void DropTable(size_t which) {
    Expect(jet::DropTable(*db_, tables_[which].name), true, "dropping table " + tables_[which].name);
    tables_.erase(tables_.begin() + static_cast<long>(which));
  }

  void Step() {
    if (!db_) {
      ASSERT_OK_LET(db, jet::WritableDatabase::Open(path_));
      db_ = std::move(db).value();
    }
    if (tables_.empty()) return CreateTable();
    size_t which = Pick(tables_.size());
    ModelTable& t = tables_[which];
    int roll = Pick(100);
    if (roll < 30) InsertRows(t);
    else if (roll < 40) UpdateRow(t);
    else if (roll < 48) DeleteRows(t);
    else if (roll < 58) InsertRows(t);
    else if (roll < 68) AddColumn(t);
    else if (roll < 75) DropColumn(t);
    else if (roll < 85) AddIndex(t);
    else if (roll < 91) DropIndex(t);
    else if (roll < 97) CreateTable();
    else DropTable(which);
  }

  void Verify() {
    db_.reset();  // the reader below must not share the writer's file locks
    EXPECT_EQ(Problems(path_), std::vector<std::string>());
    ASSERT_OK_LET(pager, jet::Pager::Open(path_));
    std::set<std::string> names, expected_names;
    for (const jet::CatalogEntry& e : Catalogue(*pager.value()))
      if (e.IsUserTable()) names.insert(e.name);
    for (const ModelTable& t : tables_) {
      expected_names.insert(t.name);
      jet::TableDef def = TableNamed(*pager.value(), t.name);
      std::vector<std::pair<std::string, ColumnType>> columns;
      for (const jet::ColumnDef& c : def.columns) columns.emplace_back(c.name, c.type);
      EXPECT_EQ(columns, t.columns) << t.name;
      std::multiset<std::string> stored, expected;
      for (const auto& row : ReadRows(*pager.value(), def)) stored.insert(Canonical(row));
      for (const ModelRow& r : t.rows) expected.insert(Canonical(r.values));
      EXPECT_EQ(stored, expected) << t.name;
      // Our export prints what the model holds (read back above); mdb-export must print the same.
      if (Have("mdb-export")) velloran_test::ExpectMdbExportAgrees(path_, t.name);
    }
    EXPECT_EQ(names, expected_names);
  }

  std::string path_;
  std::mt19937 random_;
  std::vector<ModelTable> tables_;
  std::unique_ptr<jet::WritableDatabase> db_;
  int refused_ = 0, done_ = 0;
};

// On a new database, then on copies of the song and key fixtures (fixture, seed, steps).
TEST(SchemaRandom, NewDatabaseAndFixtureCopies) {
  ScratchDir scratch;
  ASSERT_TRUE(jet::CreateDatabase(scratch.File("random.mdb")).ok());
  Mix(scratch.File("random.mdb"), 20240601).Run(160);
  REQUIRE_SHARED_FIXTURES();
  for (const auto& [fixture, seed, steps] : {std::tuple{"generated/songsV2000.mdb", 7u, 120}, {"generated/keysV2000.mdb", 99u, 80}}) {
    SCOPED_TRACE(fixture);
    Mix(scratch.CopyFixture(fixture), seed).Run(steps);
  }
}

}  // namespace
