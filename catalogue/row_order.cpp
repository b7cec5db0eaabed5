#include "catalogue/row_order.h"

#include <algorithm>
#include <vector>

#include "jet/table/index_cursor.h"
#include "jet/table/storage_cursor.h"
#include "jet/pages/usage_map.h"

namespace velloran {

namespace {

class IndexOrder final : public RowOrder {
 public:
  IndexOrder(jet::Pager& pager, uint32_t owner, uint32_t root) : cursor_(pager, owner, root) {}

  jet::Result<bool> First() override { return cursor_.First(); }
  jet::Result<bool> Last() override { return cursor_.Last(); }
  jet::Result<bool> Next() override { return cursor_.Next(); }
  jet::Result<bool> Prev() override { return cursor_.Prev(); }
  jet::Result<bool> SeekAtOrAfter(const OrderPlace& place) override { return cursor_.SeekAtOrAfter(place.key, place.row); }
  OrderPlace place() const override { return {cursor_.entry().key, cursor_.row()}; }

 private:
  jet::IndexCursor cursor_;
};

// The pages come from the owned-pages map, which is small beside the pages it lists; each page
// is checked to be a data page of this table only when the walk reaches it.
class StorageOrder final : public RowOrder {
 public:
  StorageOrder(jet::Pager& pager, uint32_t owner, std::shared_ptr<const std::vector<uint32_t>> pages)
      : cursor_(pager, owner, std::move(pages)) {}

  jet::Result<bool> First() override { return cursor_.First(); }
  jet::Result<bool> Last() override { return cursor_.Last(); }
  jet::Result<bool> Next() override { return cursor_.Next(); }
  jet::Result<bool> Prev() override { return cursor_.Prev(); }
  jet::Result<bool> SeekAtOrAfter(const OrderPlace& place) override { return cursor_.SeekAtOrAfter(place.row); }
  OrderPlace place() const override { return {std::string(), cursor_.row()}; }

 private:
  jet::StorageCursor cursor_;
};

}  // namespace

jet::Result<std::shared_ptr<const std::vector<uint32_t>>> OwnedPagesCache::Get(jet::Pager& pager, const jet::TableDef& def) {
  if (generation_ != pager.generation()) {
    by_table_.clear();
    generation_ = pager.generation();
  }
  auto& kept = by_table_[def.page];
  if (kept == nullptr) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, jet::ReadUsageMap(pager, def.owned_pages_map));
    if (!std::is_sorted(pages.begin(), pages.end())) std::sort(pages.begin(), pages.end());  // maps list them in order
    kept = std::make_shared<const std::vector<uint32_t>>(std::move(pages));
  }
  return kept;
}

jet::Result<std::unique_ptr<RowOrder>> OpenStorageOrder(jet::Pager& pager, const jet::TableDef& def, OwnedPagesCache* cache) {
  JET_ASSIGN_OR_RETURN(std::shared_ptr<const std::vector<uint32_t>> pages, cache->Get(pager, def));
  return std::unique_ptr<RowOrder>(new StorageOrder(pager, def.page, std::move(pages)));
}

jet::Result<std::unique_ptr<RowOrder>> OpenIndexOrder(jet::Pager& pager, const jet::TableDef& def, size_t physical_index) {
  if (physical_index >= def.physical_indexes.size()) {
    return jet::Error(jet::ErrorCode::kCorrupt, "table \"" + def.name + "\": an index has no B-tree; repair the database");
  }
  return std::unique_ptr<RowOrder>(new IndexOrder(pager, def.page, def.physical_indexes[physical_index].root_page));
}

}  // namespace velloran
