#include "jet/row_writer.h"

#include <deque>
#include <limits>
#include <map>
#include <set>
#include <tuple>

#include "jet/pages/index_key.h"
#include "jet/schema/relationships.h"
#include "jet/schema/system_catalogue.h"
#include "jet/schema/system_catalogue_writer.h"
#include "jet/schema/table_design.h"
#include "jet/table/index_cursor.h"
#include "jet/table/table_writer.h"

namespace jet {

namespace {

// Deeper than this, a chain of cascades is taken for a cycle of relationships.
constexpr int kMaxCascadeDepth = 32;

bool SystemName(const std::string& name) { return name.size() >= 4 && SameObjectName(name.substr(0, 4), "MSys"); }

Error SystemTable(const std::string& name) {
  return Error(ErrorCode::kInvalidArgument, "table \"" + name + "\" is a system table: the database engine keeps its rows, "
                                            "and they cannot be added, changed or deleted by hand");
}

// 'otherfk1 = 99, name = "x"' for the named columns of a row (names alone for other values), for messages.
std::string Spelled(const TableDef& def, const std::vector<size_t>& positions, const std::vector<Value>& row) {
  std::string out;
  for (size_t p : positions) {
    out += (out.empty() ? "" : ", ") + def.columns[p].name;
    if (const int64_t* i = std::get_if<int64_t>(&row[p])) out += " = " + std::to_string(*i);
    if (const Text* t = std::get_if<Text>(&row[p])) out += " = \"" + ToUtf8(*t) + "\"";
  }
  return out;
}

std::string Rows(size_t n) { return n == 1 ? "1 row" : std::to_string(n) + " rows"; }

bool AnyNull(const std::vector<Value>& row, const std::vector<size_t>& positions) {
  for (size_t p : positions)
    if (IsNull(row[p])) return true;
  return false;
}

bool SameAt(const std::vector<Value>& a, const std::vector<Value>& b, const std::vector<size_t>& positions) {
  for (size_t p : positions)
    if (!(a[p] == b[p])) return false;
  return true;
}

}  // namespace

// One enforced relationship, its columns found in both tables.
struct RowWriter::Link {
  const Relationship* relationship = nullptr;
  RowWriter::Table* child = nullptr;   // whose rows refer
  RowWriter::Table* parent = nullptr;  // whose rows are referred to
  std::vector<size_t> child_columns, parent_columns;
};

struct RowWriter::Table {
  Pager* pager = nullptr;
  TableDef stored;  // as the change found it; the writer's, once it is open
  // Opened when a row of the table is changed or named by its slot: a table the change only
  // looks into (a parent whose key must exist) costs no writer, which reads the table's page maps.
  std::unique_ptr<TableWriter> writer;
  bool system = false;
  std::vector<size_t> required;  // positions of the columns whose Required property is Yes
  std::vector<Link> links;       // every enforced relationship the table takes part in
  bool links_known = false;

  const TableDef& def() const { return writer ? writer->def() : stored; }
  Result<TableWriter*> Writer() {
    if (!writer) {
      JET_ASSIGN_OR_RETURN(writer, TableWriter::Open(*pager, stored));
    }
    return writer.get();
  }
};

namespace {

// What the catalogue row of a table says to the rules.
struct TableFacts {
  std::string name;
  uint32_t page = 0;
  bool system = false;
  std::vector<std::string> required;  // the columns whose Required property is Yes
};

// What the rules read of the system tables, kept on the pager for the next change: reading it
// again cost every row change a walk of MSysObjects. Used again only while the pages are as the
// last change left them, and only from rules that saw nothing but their own row changes (which
// touch no system table) since they read it.
struct KeptRules : Pager::WriterCache {
  uint64_t generation = 0;
  bool valid = false;
  TableDef catalogue;
  std::vector<Relationship> relationships;
  std::deque<TableFacts> tables;
};

}  // namespace

// The tables one change reaches (its own and those its relationships lead to), each with one
// table writer for the whole change.
class RowWriter::Rules {
 public:
  explicit Rules(Pager& pager) : pager_(pager) {}
  ~Rules() {
    if (!keepable_ || !pager_.PagesUnchangedSince(generation_)) return;
    KeptRules& kept = pager_.writer_cache<KeptRules>("row rules");
    kept = KeptRules{};
    kept.generation = generation_;
    kept.valid = true;
    kept.catalogue = std::move(catalogue_);
    kept.relationships = std::move(relationships_);
    kept.tables = std::move(facts_);
  }

  Status Load() {
    KeptRules& kept = pager_.writer_cache<KeptRules>("row rules");
    if (kept.valid && pager_.PagesUnchangedSince(kept.generation)) {
      catalogue_ = kept.catalogue;
      relationships_ = kept.relationships;
      facts_ = kept.tables;
    } else {
      JET_ASSIGN_OR_RETURN(catalogue_, ReadSystemTable(pager_, "MSysObjects"));
      JET_ASSIGN_OR_RETURN(relationships_, ReadRelationships(pager_));
    }
    kept.valid = false;
    generation_ = pager_.generation();
    keepable_ = true;
    return Status::Ok();
  }
  // The table named `name`; `opening`, when it is that table, gets its writer at once.
  Result<Table*> Open(const std::string& name, const TableDef* opening = nullptr);

  // Around each change: whether anything else changed pages since the last, and the pages after it.
  void Begin() {
    if (!pager_.PagesUnchangedSince(generation_)) keepable_ = false;
  }
  template <typename R>
  R End(R outcome) {
    if (outcome.ok()) generation_ = pager_.generation();
    return outcome;
  }

  Result<RowId> Insert(Table& t, std::vector<Value> values);
  Status Update(Table& t, RowId row, std::vector<Value> values, int depth);
  Status Delete(Table& t, RowId row, int depth);

 private:
  Result<const std::vector<Link>*> Links(Table& t);
  Status CheckRequired(const Table& t, const std::vector<Value>& values) const;
  Status CheckReferences(Table& t, const std::vector<Value>& values, const std::vector<Value>* old);
  // The rows that `parent_row` has through `link` (none when a key column is NULL).
  Result<std::vector<RowId>> Referring(const Link& link, const std::vector<Value>& parent_row);
  // The rows of `t` (by the slots their index entries name) whose columns at `positions` hold
  // `key`, compared as Access compares keys (text regardless of letter case); at most `limit`.
  Result<std::vector<RowId>> RowsWithKey(Table& t, const std::vector<size_t>& positions, const std::vector<Value>& key,
                                         size_t limit);
  Status CascadeDepth(const Table& t, int depth) const;

  Result<const TableFacts*> FactsOf(const std::string& name);

  Pager& pager_;
  TableDef catalogue_;
  std::vector<Relationship> relationships_;
  std::deque<TableFacts> facts_;  // of every table opened (a deque: pointers to them stay put)
  uint64_t generation_ = 0;       // the pages as the rules last saw them
  bool keepable_ = false;
  std::map<uint32_t, std::unique_ptr<Table>> tables_;  // by definition page
  // Rows a delete has taken or is taking, while it lasts (a cascade may reach a row twice).
  std::set<std::tuple<uint32_t, uint32_t, uint8_t>> deleting_;
};

Result<const TableFacts*> RowWriter::Rules::FactsOf(const std::string& name) {
  for (const TableFacts& facts : facts_)
    if (SameObjectName(facts.name, name)) return &facts;
  JET_ASSIGN_OR_RETURN(FoundRow row, FindTableRow(pager_, catalogue_, name));
  TableFacts facts;
  facts.name = ColumnText(catalogue_, row.values, "Name");
  facts.page = static_cast<uint32_t>(ColumnInteger(catalogue_, row.values, "Id")) & 0x00FFFFFF;
  const uint32_t flags = static_cast<uint32_t>(ColumnInteger(catalogue_, row.values, "Flags"));
  facts.system = SystemName(facts.name) || (flags & (kObjectFlagSystem | kObjectFlagSystemTable)) != 0;
  auto required = RequiredColumns(ColumnValue(catalogue_, row.values, "LvProp"));
  if (!required.ok()) return required.error().WithContext(pager_.path() + ": the properties of table \"" + facts.name + "\"");
  facts.required = std::move(required).value();
  facts_.push_back(std::move(facts));
  return &facts_.back();
}

Result<RowWriter::Table*> RowWriter::Rules::Open(const std::string& name, const TableDef* opening) {
  JET_ASSIGN_OR_RETURN(const TableFacts* facts, FactsOf(name));
  std::unique_ptr<Table>& table = tables_[facts->page];
  if (table) return table.get();
  auto fresh = std::make_unique<Table>();
  fresh->pager = &pager_;
  if (opening != nullptr && opening->page == facts->page) {
    // The table the caller changes: its writer reads the definition as it is now.
    JET_ASSIGN_OR_RETURN(fresh->writer, TableWriter::Open(pager_, *opening));
    fresh->stored = fresh->writer->def();
  } else {
    JET_ASSIGN_OR_RETURN(fresh->stored, ReadTableDef(pager_, facts->page));
  }
  fresh->stored.name = facts->name;
  fresh->system = facts->system || fresh->stored.table_type == kTableTypeSystem;
  for (size_t i = 0; i < fresh->stored.columns.size(); ++i) {
    for (const std::string& column : facts->required)
      if (SameObjectName(column, fresh->stored.columns[i].name)) fresh->required.push_back(i);
  }
  table = std::move(fresh);
  return table.get();
}

Result<const std::vector<RowWriter::Link>*> RowWriter::Rules::Links(Table& t) {
  if (t.links_known) return &t.links;
  const std::string& name = t.def().name;
  for (const Relationship& r : relationships_) {
    const bool child = SameObjectName(r.table, name), parent = SameObjectName(r.referenced_table, name);
    if (!r.enforced() || (!child && !parent)) continue;
    Link link;
    link.relationship = &r;
    JET_ASSIGN_OR_RETURN(link.child, child ? &t : Open(r.table));
    JET_ASSIGN_OR_RETURN(link.parent, parent ? &t : Open(r.referenced_table));
    for (size_t i = 0; i < r.columns.size(); ++i) {
      const ColumnDef* c = link.child->def().FindColumn(r.columns[i]);
      const ColumnDef* p = link.parent->def().FindColumn(r.referenced_columns[i]);
      if (c == nullptr || p == nullptr) {
        return pager_.Corrupt(catalogue_.page, "relationship \"" + r.name + "\" names a column its tables lack (" +
                                                   r.columns[i] + ", " + r.referenced_columns[i] + ")");
      }
      link.child_columns.push_back(static_cast<size_t>(c - link.child->def().columns.data()));
      link.parent_columns.push_back(static_cast<size_t>(p - link.parent->def().columns.data()));
    }
    t.links.push_back(std::move(link));
  }
  t.links_known = true;
  return &t.links;
}

Status RowWriter::Rules::CheckRequired(const Table& t, const std::vector<Value>& values) const {
  for (size_t p : t.required) {
    const ColumnDef& c = t.def().columns[p];
    // An autonumber left NULL gets its number; a Yes/No column stores No for NULL.
    const bool filled = c.autonumber() || (c.flags & kColumnAutoGuid) != 0 || c.type == ColumnType::kBoolean;
    if (p < values.size() && IsNull(values[p]) && !filled) {
      return Error(ErrorCode::kConstraint, "table \"" + t.def().name + "\": column \"" + c.name +
                                               "\" is required (its Required property is Yes); give it a value");
    }
  }
  return Status::Ok();
}

Status RowWriter::Rules::CheckReferences(Table& t, const std::vector<Value>& values, const std::vector<Value>* old) {
  JET_ASSIGN_OR_RETURN(const std::vector<Link>* links, Links(t));
  for (const Link& link : *links) {
    if (link.child != &t || AnyNull(values, link.child_columns)) continue;
    if (old != nullptr && SameAt(*old, values, link.child_columns)) continue;
    std::vector<Value> key;
    for (size_t p : link.child_columns) key.push_back(values[p]);
    JET_ASSIGN_OR_RETURN(std::vector<RowId> parents, RowsWithKey(*link.parent, link.parent_columns, key, 1));
    if (!parents.empty()) continue;
    const std::string& parent = link.parent->def().name;
    return Error(ErrorCode::kConstraint,
                 "table \"" + t.def().name + "\": no row of table \"" + parent + "\" has the key that " +
                     Spelled(t.def(), link.child_columns, values) + " names (relationship \"" +
                     link.relationship->name + "\"); add that row to \"" + parent + "\" first, or leave " +
                     Spelled(t.def(), link.child_columns, std::vector<Value>(values.size())) + " empty");
  }
  return Status::Ok();
}

Result<std::vector<RowId>> RowWriter::Rules::Referring(const Link& link, const std::vector<Value>& parent_row) {
  if (AnyNull(parent_row, link.parent_columns)) return std::vector<RowId>{};
  std::vector<Value> key;
  for (size_t p : link.parent_columns) key.push_back(parent_row[p]);
  return RowsWithKey(*link.child, link.child_columns, key, std::numeric_limits<size_t>::max());
}

Result<std::vector<RowId>> RowWriter::Rules::RowsWithKey(Table& t, const std::vector<size_t>& positions,
                                                          const std::vector<Value>& key, size_t limit) {
  const TableDef& def = t.def();
  std::vector<KeyColumn> columns;
  for (size_t p : positions) columns.push_back(KeyColumn{def.columns[p].type, true});
  // An index on exactly these columns finds the rows at once; Access keeps one on either side of
  // every enforced relationship.
  const PhysicalIndex* index = nullptr;
  for (const PhysicalIndex& candidate : def.physical_indexes) {
    IndexKeyColumns candidate_key = KeyColumnsOf(def, candidate);
    if (candidate_key.positions != positions) continue;
    index = &candidate;
    columns = std::move(candidate_key.columns);
    break;
  }
  auto wanted = EncodeIndexKey(JetVersion::kJet4, columns, key);
  if (!wanted.ok()) return wanted.error().WithContext("table \"" + def.name + "\"");
  std::vector<RowId> rows;
  if (index != nullptr) {
    IndexCursor cursor(pager_, def.page, *index);
    JET_ASSIGN_OR_RETURN(bool found, cursor.SeekEqual(*wanted));
    while (found && rows.size() < limit && cursor.entry().key == *wanted) {
      rows.push_back(cursor.row());
      JET_ASSIGN_OR_RETURN(found, cursor.Next());
    }
    return rows;
  }
  IndexKeyBuilder keys(JetVersion::kJet4, columns, positions);
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager_, def));
  while (rows.size() < limit) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    auto row_key = keys.Build(cursor->values());
    if (!row_key.ok() || *row_key != *wanted) continue;
    JET_ASSIGN_OR_RETURN(TableWriter * writer, t.Writer());
    JET_ASSIGN_OR_RETURN(RowId header, writer->HeaderOf(cursor->row_id()));
    rows.push_back(header);
  }
  return rows;
}

Status RowWriter::Rules::CascadeDepth(const Table& t, int depth) const {
  if (t.system) return SystemTable(t.def().name);
  if (depth <= kMaxCascadeDepth) return Status::Ok();
  return Error(ErrorCode::kConstraint, "table \"" + t.def().name + "\": the change cascades through more than " +
                                           std::to_string(kMaxCascadeDepth) + " relationships; change the rows step by step");
}

Result<RowId> RowWriter::Rules::Insert(Table& t, std::vector<Value> values) {
  JET_RETURN_IF_ERROR(CheckRequired(t, values));
  JET_RETURN_IF_ERROR(CheckReferences(t, values, nullptr));
  JET_ASSIGN_OR_RETURN(TableWriter * writer, t.Writer());
  return writer->Insert(std::move(values));
}

Status RowWriter::Rules::Update(Table& t, RowId row, std::vector<Value> values, int depth) {
  JET_RETURN_IF_ERROR(CascadeDepth(t, depth));
  JET_ASSIGN_OR_RETURN(TableWriter * writer, t.Writer());
  JET_ASSIGN_OR_RETURN(RowId header, writer->HeaderOf(row));
  JET_ASSIGN_OR_RETURN(std::vector<Value> old, writer->Read(header));
  if (values.size() != old.size()) return writer->Update(header, std::move(values));  // the writer says why
  JET_RETURN_IF_ERROR(CheckRequired(t, values));
  JET_RETURN_IF_ERROR(CheckReferences(t, values, &old));
  // The rows that follow a changed key, found before it changes.
  std::vector<std::pair<const Link*, std::vector<RowId>>> following;
  JET_ASSIGN_OR_RETURN(const std::vector<Link>* links, Links(t));
  for (const Link& link : *links) {
    if (link.parent != &t || SameAt(old, values, link.parent_columns)) continue;
    JET_ASSIGN_OR_RETURN(std::vector<RowId> children, Referring(link, old));
    if (children.empty()) continue;
    if (!link.relationship->cascades_updates()) {
      return Error(ErrorCode::kConstraint,
                   "table \"" + t.def().name + "\": " + Rows(children.size()) + " of table \"" + link.child->def().name +
                       "\" refer to this row's " + Spelled(t.def(), link.parent_columns, old) + " (relationship \"" +
                       link.relationship->name + "\", which does not cascade updates); change or delete those rows first");
    }
    following.emplace_back(&link, std::move(children));
  }
  JET_RETURN_IF_ERROR(writer->Update(header, values));
  for (const auto& [link, children] : following) {
    for (RowId child : children) {
      JET_ASSIGN_OR_RETURN(TableWriter * child_writer, link->child->Writer());
      JET_ASSIGN_OR_RETURN(std::vector<Value> row, child_writer->Read(child));
      for (size_t i = 0; i < link->child_columns.size(); ++i) row[link->child_columns[i]] = values[link->parent_columns[i]];
      JET_RETURN_IF_ERROR(Update(*link->child, child, std::move(row), depth + 1));
    }
  }
  return Status::Ok();
}

Status RowWriter::Rules::Delete(Table& t, RowId row, int depth) {
  JET_RETURN_IF_ERROR(CascadeDepth(t, depth));
  JET_ASSIGN_OR_RETURN(TableWriter * writer, t.Writer());
  JET_ASSIGN_OR_RETURN(RowId header, writer->HeaderOf(row));
  JET_ASSIGN_OR_RETURN(std::vector<Value> old, writer->Read(header));
  if (depth == 0) deleting_.clear();
  deleting_.emplace(t.def().page, header.page, header.row);
  std::vector<std::pair<Table*, std::vector<RowId>>> following;
  JET_ASSIGN_OR_RETURN(const std::vector<Link>* links, Links(t));
  for (const Link& link : *links) {
    if (link.parent != &t) continue;
    JET_ASSIGN_OR_RETURN(std::vector<RowId> children, Referring(link, old));
    std::erase_if(children, [&](RowId c) { return deleting_.count({link.child->def().page, c.page, c.row}) != 0; });
    if (children.empty()) continue;
    if (!link.relationship->cascades_deletes()) {
      return Error(ErrorCode::kConstraint,
                   "table \"" + t.def().name + "\": " + Rows(children.size()) + " of table \"" + link.child->def().name +
                       "\" refer to this row's " + Spelled(t.def(), link.parent_columns, old) + " (relationship \"" +
                       link.relationship->name + "\", which does not cascade deletes); delete those rows, or change their " +
                       Spelled(link.child->def(), link.child_columns, std::vector<Value>(link.child->def().columns.size())) +
                       ", first");
    }
    following.emplace_back(link.child, std::move(children));
  }
  for (const auto& [child_table, children] : following) {
    for (RowId child : children) {
      if (deleting_.count({child_table->def().page, child.page, child.row}) != 0) continue;  // reached twice
      JET_RETURN_IF_ERROR(Delete(*child_table, child, depth + 1));
    }
  }
  return writer->Delete(header);
}

RowWriter::RowWriter(std::unique_ptr<Rules> rules, Table* table) : rules_(std::move(rules)), table_(table) {}
RowWriter::~RowWriter() = default;

Result<std::unique_ptr<RowWriter>> RowWriter::Open(Pager& pager, const TableDef& def) {
  if (SystemName(def.name)) return SystemTable(def.name);
  auto rules = std::make_unique<Rules>(pager);
  JET_RETURN_IF_ERROR(rules->Load());
  JET_ASSIGN_OR_RETURN(Table* table, rules->Open(def.name, &def));
  if (table->system) return SystemTable(def.name);
  JET_RETURN_IF_ERROR(table->Writer().status());
  return std::unique_ptr<RowWriter>(new RowWriter(std::move(rules), table));
}

const TableDef& RowWriter::def() const { return table_->def(); }
Result<RowId> RowWriter::Insert(std::vector<Value> values) {
  rules_->Begin();
  return rules_->End(rules_->Insert(*table_, std::move(values)));
}
Status RowWriter::Update(RowId row, std::vector<Value> values) {
  rules_->Begin();
  return rules_->End(rules_->Update(*table_, row, std::move(values), 0));
}
Status RowWriter::Delete(RowId row) {
  rules_->Begin();
  return rules_->End(rules_->Delete(*table_, row, 0));
}
Result<std::vector<Value>> RowWriter::Read(RowId row) { return table_->writer->Read(row); }  // open since Open
Result<RowId> RowWriter::HeaderOf(RowId row) { return table_->writer->HeaderOf(row); }

}  // namespace jet
