// The operations of the crash workload, the model of what the two databases must hold after
// them, and the code that runs each operation on the files.
//
// Two databases take part: a copy of the songs fixture (rows of MyList only) and a database the
// workload creates itself (tables it designs, with memo columns, and design changes). Every
// operation is generated from (seed, operation number) and the model as it stands before it, and
// is built so that it must succeed: an engine refusal is a fault, never an expected outcome. So a
// list of the operations that succeeded is enough to rebuild the model exactly.
//
// Every table of the model has a key column first (MyList's ID, K in the designed tables) whose
// values are distinct (fixture rows without one are left alone); rows are found in the files through the PrimaryKey index on it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/status.h"
#include "jet/schema/table_design.h"
#include "jet/base/value.h"
#include "jet/writable_database.h"

namespace crash_workload {

using jet::Value;

struct ColumnModel {
  std::string name;
  jet::ColumnType type = jet::ColumnType::kText;
  uint16_t size = 0;  // Text: characters
};

struct IndexModel {
  std::string name;
  std::string column;
  bool primary = false;
};

struct TableModel {
  std::string name;
  std::vector<ColumnModel> columns;  // in definition order; the key column first
  std::vector<IndexModel> indexes;
  std::map<int64_t, std::vector<Value>> rows;  // by key, values in column order
  // Rows without a key (the fixture has some): no operation touches them, but they must stay.
  std::vector<std::vector<Value>> unkeyed;

  int Column(const std::string& name) const;
  bool Indexed(const std::string& column) const;
};

struct FileModel {
  bool exists = false;
  std::vector<TableModel> tables;

  TableModel* Table(const std::string& name);
  const TableModel* Table(const std::string& name) const;
};

struct Model {
  FileModel songs;   // the fixture copy
  FileModel design;  // the database the workload creates
  int64_t next_key = 0;  // the key of the next inserted row, in any table
  int next_name = 0;     // the suffix of the next new table, column or index name
};

enum class OpKind {
  kInsert,      // rows into a table, one write
  kUpdate,      // a few rows by key, some columns each, one write
  kDelete,      // a few rows by key, one write
  kSqlUpdate,   // UPDATE ... WHERE key in a range: many rows, one write
  kCreateDatabase,
  kCreateTable,
  kAddColumn,
  kDropColumn,
  kAddIndex,
  kDropIndex,
  kDropTable,
};

enum class Target { kSongs, kDesign };

using Assignments = std::vector<std::pair<std::string, Value>>;  // column name -> value

struct Op {
  OpKind kind = OpKind::kInsert;
  Target target = Target::kSongs;
  std::string table;
  std::vector<int64_t> keys;             // update, delete: the rows
  std::vector<Assignments> rows;         // insert: each new row; update: each row's changes
  std::string sql;                       // SQL update: the statement
  int64_t low = 0, high = 0;             // SQL update: keys low <= key < high
  Assignments set;                       // SQL update: what it assigns
  jet::TableDesign design;               // create table
  jet::ColumnDesign column;              // add column
  jet::IndexDesign index;                // add index
  std::string name;                      // drop column / drop index: what goes

  // One line (no newline) that says what the operation does, for the log and for messages.
  std::string Describe() const;
};

// The model of a fresh run: MyList as `start_copy` (a pristine copy of the songs fixture) holds
// it, and no designed database yet.
jet::Result<Model> InitialModel(const std::string& start_copy);

// Operation `number` of the run `seed`, given the model after every operation before it.
Op Generate(uint64_t seed, uint64_t number, const Model& model);

// What the operation does to the model.
void Apply(const Op& op, Model* model);

// The two files of a run and writable handles on them (opened on first need).
class Files {
 public:
  Files(std::string songs_path, std::string design_path)
      : songs_path_(std::move(songs_path)), design_path_(std::move(design_path)) {}

  // Runs the operation on its file as the model says it must: each operation is one
  // all-or-nothing write (creating the database is its own all-or-nothing step).
  jet::Status Run(const Op& op);

 private:
  jet::Result<jet::WritableDatabase*> Handle(Target target);
  jet::Status RunRows(jet::WritableDatabase& db, const Op& op);
  jet::Status RunSqlUpdate(jet::WritableDatabase& db, const std::string& path, const Op& op);

  std::string songs_path_, design_path_;
  std::unique_ptr<jet::WritableDatabase> songs_, design_;
};

// Problems the integrity check finds in the file (opening it first undoes a cut-short write).
std::vector<std::string> CheckFile(const std::string& path);

// How the file differs from the model: tables, columns, indexes, row counts and rows. Empty
// when it holds exactly what the model says (a file that does not exist matches a model of a
// database not yet created).
std::vector<std::string> Differences(const std::string& path, const FileModel& model);

}  // namespace crash_workload
