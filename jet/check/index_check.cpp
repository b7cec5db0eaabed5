#include "jet/check/index_check.h"

#include <optional>
#include <unordered_map>

#include "jet/pages/data_page.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/pages/index_page.h"
#include "jet/table/table_cursor.h"

namespace jet {

namespace {

constexpr int kMaxDepth = 32;

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out.empty() ? "(empty)" : out;
}

std::string RowName(uint32_t page, uint32_t row) {
  return "the row at page " + std::to_string(page) + ", row " + std::to_string(row);
}

// The physical index as the user knows it: the names of its logical indexes.
std::string IndexName(const TableDef& def, const PhysicalIndex& index) {
  std::string names;
  for (const LogicalIndex& li : def.logical_indexes)
    if (li.physical_index == index.number) names += (names.empty() ? "" : "/") + li.name;
  return "table \"" + def.name + "\", index \"" + (names.empty() ? std::to_string(index.number) : names) + "\"";
}

// Walks the tree depth first, checking each intermediate entry against its child's last entry,
// and collects the leaves in key order.
class TreeWalker {
 public:
  TreeWalker(Pager& pager, uint32_t owner) : pager_(pager), owner_(owner) {}

  // Returns the last entry of the subtree at `page` (none for an empty subtree).
  Status Walk(uint32_t page, int depth, std::optional<IndexEntry>* last) {
    if (depth > kMaxDepth) return pager_.Corrupt(page, "the index tree is deeper than any real index (a cycle?)");
    JET_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(pager_, page));
    if (p.owner != owner_) return pager_.Corrupt(page, "the index page belongs to another table definition");
    if (p.leaf()) {
      if (!p.entries.empty()) *last = p.entries.back();
      leaves_.push_back(std::move(p));
      return Status::Ok();
    }
    for (const IndexEntry& e : p.entries) {
      std::optional<IndexEntry> child_last;
      JET_RETURN_IF_ERROR(Walk(e.child_page, depth + 1, &child_last));
      if (!child_last || child_last->Compare(e) != 0) {
        return pager_.Corrupt(page, "an intermediate entry does not match the last entry of its child page " +
                                        std::to_string(e.child_page));
      }
      *last = child_last;
    }
    if (p.tail != 0) JET_RETURN_IF_ERROR(Walk(p.tail, depth + 1, last));
    return Status::Ok();
  }

  std::vector<IndexPage>& leaves() { return leaves_; }

 private:
  Pager& pager_;
  uint32_t owner_;
  std::vector<IndexPage> leaves_;
};

Status CheckLeafLinks(Pager& pager, const std::vector<IndexPage>& leaves) {
  for (size_t i = 0; i < leaves.size(); ++i) {
    uint32_t want_prev = i == 0 ? 0 : leaves[i - 1].number;
    uint32_t want_next = i + 1 == leaves.size() ? 0 : leaves[i + 1].number;
    if (leaves[i].prev != want_prev || leaves[i].next != want_next) {
      return pager.Corrupt(leaves[i].number, "the leaf page's previous/next links (" + std::to_string(leaves[i].prev) + "/" +
                                                 std::to_string(leaves[i].next) + ") do not follow the tree (" +
                                                 std::to_string(want_prev) + "/" + std::to_string(want_next) + ")");
    }
  }
  return Status::Ok();
}

// Where the row that (page, row) stands for lives, as page << 8 | row, following forwarding slots.
Result<uint32_t> RowHome(Pager& pager, uint32_t page, uint32_t row) {
  uint32_t home = 0;
  JET_ASSIGN_OR_RETURN(RowSlot slot, FollowForwarding(pager, page, row, &home));
  if (slot.deleted()) return pager.Corrupt(home >> 8, "the entry points to deleted row " + std::to_string(home & 0xFF));
  return home;
}

struct ExpectedEntry {
  std::optional<std::string> key;  // none where the key's bytes cannot be computed here
  bool seen = false;
};

// Whether the keys of `index` can be computed; an error when the index could never have been made.
// Access indexes every type but Memo and OLE (and the types only its system tables use); Decimal
// keys are not computed here, so such an index is checked for everything but its key bytes.
Result<bool> KeysComputable(Pager& pager, const TableDef& def, const PhysicalIndex& index) {
  bool computable = true;
  for (const IndexColumn& ic : index.columns) {
    const ColumnDef* column = def.ColumnByNumber(ic.column_number);
    if (column == nullptr || IsKeyable(column->type)) continue;
    if (column->type != ColumnType::kDecimal) {
      return pager.Corrupt(def.page, "the index is on column \"" + column->name + "\" of type " + ColumnTypeName(column->type) +
                                         ", which no index can hold: the table's definition is damaged");
    }
    computable = false;
  }
  return computable;
}

// The key every row should have in `index`, by the row's home (page << 8 | row).
Result<std::unordered_map<uint32_t, ExpectedEntry>> ExpectedKeys(Pager& pager, const TableDef& def,
                                                                 const PhysicalIndex& index) {
  JET_ASSIGN_OR_RETURN(bool computable, KeysComputable(pager, def, index));
  const auto [columns, positions] = KeyColumnsOf(def, index);
  std::unordered_map<uint32_t, ExpectedEntry> expected;
  JET_ASSIGN_OR_RETURN(auto cursor, TableCursor::Open(pager, def));
  std::vector<Value> key_values(columns.size());
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, cursor->Next());
    if (!more) break;
    bool all_null = true;
    for (size_t i = 0; i < positions.size(); ++i) {
      key_values[i] = cursor->values()[positions[i]];
      all_null = all_null && IsNull(key_values[i]);
    }
    if (all_null && index.ignore_nulls()) continue;
    RowId id = cursor->row_id();
    ExpectedEntry& entry = expected[(id.page << 8) | id.row];
    if (!computable) continue;
    auto key = EncodeIndexKey(pager.format().version, columns, key_values);
    if (!key.ok()) return pager.Corrupt(id.page, "computing the key of " + RowName(id.page, id.row) + ": " + key.error().message());
    entry.key = std::move(key).value();
  }
  return expected;
}

// Compares every entry with the key of its row; returns the first problem.
Status CheckEntries(Pager& pager, const std::vector<IndexPage>& leaves,
                    std::unordered_map<uint32_t, ExpectedEntry>* expected) {
  const IndexEntry* previous = nullptr;
  size_t ordinal = 0;
  for (const IndexPage& leaf : leaves) {
    for (const IndexEntry& e : leaf.entries) {
      std::string where = "entry " + std::to_string(ordinal++) + " for " + RowName(e.data_page, e.data_row);
      if (previous != nullptr && previous->Compare(e) >= 0) {
        return pager.Corrupt(leaf.number, where + " is out of order (key " + Hex(e.key) + " after " + Hex(previous->key) + ")");
      }
      previous = &e;
      auto home = RowHome(pager, e.data_page, e.data_row);
      if (!home.ok()) return home.error().WithContext("index page " + std::to_string(leaf.number) + ", " + where);
      auto it = expected->find(home.value());
      if (it == expected->end()) return pager.Corrupt(leaf.number, where + " points to no indexed row");
      if (it->second.seen) return pager.Corrupt(leaf.number, where + " repeats an entry for the same row");
      if (it->second.key && *it->second.key != e.key) {
        return pager.Corrupt(leaf.number, where + " has key " + Hex(e.key) + " but the row's values give " + Hex(*it->second.key));
      }
      it->second.seen = true;
    }
  }
  for (const auto& [home, entry] : *expected) {
    if (!entry.seen) return Error(ErrorCode::kCorrupt, pager.path() + ": " + RowName(home >> 8, home & 0xFF) + " has no index entry");
  }
  return Status::Ok();
}

Status CheckIndex(Pager& pager, const TableDef& def, const PhysicalIndex& index) {
  TreeWalker walker(pager, def.page);
  std::optional<IndexEntry> last;
  JET_RETURN_IF_ERROR(walker.Walk(index.root_page, 0, &last));
  JET_RETURN_IF_ERROR(CheckLeafLinks(pager, walker.leaves()));
  JET_ASSIGN_OR_RETURN(auto expected, ExpectedKeys(pager, def, index));
  return CheckEntries(pager, walker.leaves(), &expected);
}

}  // namespace

void CheckTableIndexes(Pager& pager, const TableDef& def, std::vector<std::string>* problems) {
  for (const PhysicalIndex& index : def.physical_indexes) {
    Status s = CheckIndex(pager, def, index);
    if (!s.ok()) problems->push_back(IndexName(def, index) + ": " + s.error().message());
  }
}

}  // namespace jet
