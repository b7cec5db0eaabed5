#include "jet/table/table_storage.h"

#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/data_page_writer.h"
#include "jet/pages/index_page_writer.h"
#include "jet/pages/usage_map.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

constexpr uint32_t kInlineMapSize = 69;  // type, start page, 64 bytes of bits
constexpr uint32_t kMapPageOwner = 0;

Result<bool> IsMapPageWithRoom(Pager& pager, uint32_t page) {
  if (page == 0 || page >= pager.page_count()) return false;
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
  if (data[0] != kPageData || Get32(data + 4) != kMapPageOwner) return false;
  return NewRowFits(pager, page, kInlineMapSize);
}

// Whether any slot of a data page still holds a row.
Result<bool> HasLiveRow(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
  uint16_t count = DataPageRowCount(pager.format(), data);
  for (uint16_t r = 0; r < count; ++r) {
    JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, r));
    if (!slot.deleted()) return true;
  }
  return false;
}

}  // namespace

Result<uint32_t> AddUsageMapRow(Pager& pager, uint32_t preferred_page) {
  uint32_t page = preferred_page;
  JET_ASSIGN_OR_RETURN(bool room, IsMapPageWithRoom(pager, page));
  if (!room) {
    JET_ASSIGN_OR_RETURN(page, AllocatePage(pager));
    JET_RETURN_IF_ERROR(InitDataPage(pager, page, kMapPageOwner));
  }
  JET_ASSIGN_OR_RETURN(uint8_t row, AppendRow(pager, page, std::string(kInlineMapSize, '\0'), 0));
  return (page << 8) | row;
}

Result<uint32_t> CreateIndexRoot(Pager& pager, uint32_t definition_page, uint32_t map_pointer) {
  JET_ASSIGN_OR_RETURN(uint32_t root, AllocatePage(pager));
  IndexPageImage empty;
  empty.leaf = true;
  empty.owner = definition_page;
  JET_RETURN_IF_ERROR(WriteIndexPage(pager, root, empty));
  JET_RETURN_IF_ERROR(SetPageInUsageMap(pager, map_pointer, root, true));
  return root;
}

Status AllocateTableStorage(Pager& pager, StoredTableDef* stored, uint32_t map_page) {
  TableDef& def = stored->def;
  JET_ASSIGN_OR_RETURN(def.owned_pages_map, AddUsageMapRow(pager, map_page));
  map_page = RowPointerPage(def.owned_pages_map);
  JET_ASSIGN_OR_RETURN(def.free_space_map, AddUsageMapRow(pager, map_page));
  std::set<uint16_t> long_value_columns;
  for (const ColumnDef& c : def.columns)
    if (IsLongValue(c.type)) long_value_columns.insert(c.number);
  std::vector<LongValueMapRef> maps;
  for (uint16_t number : long_value_columns) {
    LongValueMapRef ref{number, 0, 0};
    JET_ASSIGN_OR_RETURN(ref.owned, AddUsageMapRow(pager, map_page));
    JET_ASSIGN_OR_RETURN(ref.free_space, AddUsageMapRow(pager, RowPointerPage(ref.owned)));
    map_page = RowPointerPage(ref.free_space);
    maps.push_back(ref);
  }
  // The definition lists the maps in column order.
  stored->extras.long_value_maps.clear();
  for (const ColumnDef& c : def.columns) {
    for (const LongValueMapRef& ref : maps)
      if (ref.column_number == c.number) stored->extras.long_value_maps.push_back(ref);
  }
  for (PhysicalIndex& index : def.physical_indexes) {
    JET_ASSIGN_OR_RETURN(index.usage_map, AddUsageMapRow(pager, map_page));
    map_page = RowPointerPage(index.usage_map);
  }
  for (PhysicalIndex& index : def.physical_indexes) {
    JET_ASSIGN_OR_RETURN(index.root_page, CreateIndexRoot(pager, def.page, index.usage_map));
  }
  return Status::Ok();
}

Status AllocateIndexStorage(Pager& pager, StoredTableDef* stored, PhysicalIndex* index) {
  JET_ASSIGN_OR_RETURN(index->usage_map, AddUsageMapRow(pager, RowPointerPage(stored->def.owned_pages_map)));
  JET_ASSIGN_OR_RETURN(index->root_page, CreateIndexRoot(pager, stored->def.page, index->usage_map));
  return Status::Ok();
}

Status AllocateLongValueStorage(Pager& pager, StoredTableDef* stored, uint16_t column_number) {
  LongValueMapRef ref{column_number, 0, 0};
  JET_ASSIGN_OR_RETURN(ref.owned, AddUsageMapRow(pager, RowPointerPage(stored->def.owned_pages_map)));
  JET_ASSIGN_OR_RETURN(ref.free_space, AddUsageMapRow(pager, RowPointerPage(ref.owned)));
  stored->extras.long_value_maps.push_back(ref);
  return Status::Ok();
}

Status ReleaseClearedPage(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  std::memset(data, 0, pager.page_size());
  return ReleasePage(pager, page);
}

Status DropUsageMap(Pager& pager, uint32_t map_pointer, bool release_pages) {
  const uint32_t page = RowPointerPage(map_pointer);
  const uint8_t row = RowPointerRow(map_pointer);
  if (release_pages) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> pages, ReadUsageMap(pager, map_pointer));
    for (uint32_t p : pages) JET_RETURN_IF_ERROR(ReleaseClearedPage(pager, p));
  }
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager, page, row));
  if (slot.deleted() || slot.size < 1) return pager.Corrupt(page, "usage map row " + std::to_string(row) + " is missing");
  if (slot.bytes[0] == kUsageMapReference) {
    std::vector<uint32_t> bitmaps;
    for (uint32_t i = 0; 1 + 4 * (i + 1) <= slot.size; ++i) {
      uint32_t bitmap = Get32(slot.bytes + 1 + 4 * i);
      if (bitmap != 0) bitmaps.push_back(bitmap);
    }
    for (uint32_t bitmap : bitmaps) JET_RETURN_IF_ERROR(ReleaseClearedPage(pager, bitmap));
  }
  JET_RETURN_IF_ERROR(DeleteRow(pager, page, row));
  JET_ASSIGN_OR_RETURN(bool live, HasLiveRow(pager, page));
  if (!live) JET_RETURN_IF_ERROR(ReleaseClearedPage(pager, page));
  return Status::Ok();
}

std::vector<uint32_t> UsageMapsOf(const StoredTableDef& stored) {
  std::vector<uint32_t> maps{stored.def.owned_pages_map, stored.def.free_space_map};
  for (const PhysicalIndex& index : stored.def.physical_indexes) maps.push_back(index.usage_map);
  for (const LongValueMapRef& ref : stored.extras.long_value_maps) {
    maps.push_back(ref.owned);
    maps.push_back(ref.free_space);
  }
  return maps;
}

}  // namespace jet
