#include "jet/table/row_order.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "jet/table/index_cursor.h"
#include "jet/table/storage_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/pages/usage_map.h"

namespace jet {

namespace {

class IndexOrder final : public RowOrder {
 public:
  IndexOrder(Pager& pager, uint32_t owner, uint32_t root, std::optional<KeyColumn> first)
      : cursor_(pager, owner, root), version_(pager.format().version), first_(first) {}

  Result<bool> First() override { return cursor_.First(); }
  Result<bool> Last() override { return cursor_.Last(); }
  Result<bool> Next() override { return cursor_.Next(); }
  Result<bool> Prev() override { return cursor_.Prev(); }
  Result<bool> SeekAtOrAfter(const OrderPlace& place) override { return cursor_.SeekAtOrAfter(place.key, place.row); }
  Result<bool> SeekValueAtOrAfter(const Value& value) override {
    std::string prefix;
    if (!first_ || !AppendKeyColumn(version_, *first_, value, &prefix).ok()) prefix.clear();
    return cursor_.SeekAtOrAfter(prefix, RowId{});
  }
  OrderPlace place() const override { return {cursor_.entry().key, cursor_.row()}; }

 private:
  IndexCursor cursor_;
  JetVersion version_;
  std::optional<KeyColumn> first_;  // the index's first column, as its keys hold it
};

// The pages come from the owned-pages map, which is small beside the pages it lists; each page
// is checked to be a data page of this table only when the walk reaches it.
class StorageOrder final : public RowOrder {
 public:
  StorageOrder(Pager& pager, uint32_t owner, std::shared_ptr<const std::vector<uint32_t>> pages)
      : cursor_(pager, owner, std::move(pages)) {}

  Result<bool> First() override { return cursor_.First(); }
  Result<bool> Last() override { return cursor_.Last(); }
  Result<bool> Next() override { return cursor_.Next(); }
  Result<bool> Prev() override { return cursor_.Prev(); }
  Result<bool> SeekAtOrAfter(const OrderPlace& place) override { return cursor_.SeekAtOrAfter(place.row); }
  Result<bool> SeekValueAtOrAfter(const Value&) override {
    return Error(ErrorCode::kInvalidArgument, "rows in storage order have no key to seek");
  }
  OrderPlace place() const override { return {std::string(), cursor_.row()}; }

 private:
  StorageCursor cursor_;
};

}  // namespace

Result<std::shared_ptr<const std::vector<uint32_t>>> OwnedPagesCache::Get(Pager& pager, const TableDef& def) {
  if (generation_ != pager.generation()) {
    by_table_.clear();
    generation_ = pager.generation();
  }
  auto& kept = by_table_[def.page];
  if (kept == nullptr) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, ReadUsageMap(pager, def.owned_pages_map));
    if (!std::is_sorted(pages.begin(), pages.end())) std::sort(pages.begin(), pages.end());  // maps list them in order
    kept = std::make_shared<const std::vector<uint32_t>>(std::move(pages));
  }
  return kept;
}

Result<std::unique_ptr<RowOrder>> OpenStorageOrder(Pager& pager, const TableDef& def, OwnedPagesCache* cache) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const std::vector<uint32_t>> pages, cache->Get(pager, def));
  return std::unique_ptr<RowOrder>(new StorageOrder(pager, def.page, std::move(pages)));
}

Result<std::unique_ptr<RowOrder>> OpenIndexOrder(Pager& pager, const TableDef& def, size_t physical_index) {
  if (physical_index >= def.physical_indexes.size()) {
    return Error(ErrorCode::kCorrupt, "table \"" + def.name + "\": an index has no B-tree; repair the database");
  }
  const PhysicalIndex& index = def.physical_indexes[physical_index];
  std::optional<KeyColumn> first;
  if (!index.columns.empty()) {
    if (const ColumnDef* column = def.ColumnByNumber(index.columns.front().column_number)) {
      first = KeyColumn{column->type, index.columns.front().ascending};
    }
  }
  return std::unique_ptr<RowOrder>(new IndexOrder(pager, def.page, index.root_page, first));
}

}  // namespace jet
