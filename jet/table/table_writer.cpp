#include "jet/table/table_writer.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/data_page_writer.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/table/index_tree.h"
#include "jet/table/index_writer.h"
#include "jet/pages/long_value.h"
#include "jet/pages/row_decoder.h"
#include "jet/text/text_codec.h"
#include "jet/pages/usage_map.h"
#include "jet/pages/usage_map_writer.h"

namespace jet {

namespace {

uint32_t Pointer(RowId id) { return (id.page << 8) | id.row; }
RowId FromPointer(uint32_t pointer) { return RowId{RowPointerPage(pointer), RowPointerRow(pointer)}; }

std::string Where(RowId id) { return "page " + std::to_string(id.page) + ", row " + std::to_string(id.row); }

std::string ForwardingBytes(RowId home) {
  std::string bytes(4, '\0');
  Put32(reinterpret_cast<uint8_t*>(bytes.data()), Pointer(home));
  return bytes;
}

// Writes `length` bytes into the definition that starts at `first`, from `offset` of the
// definition's bytes (the first page whole, each continuation page past its 8-byte header). Bytes
// that already hold their value leave their page alone: a write that changes no count (an update
// in place) then neither journals nor writes the definition.
Status PutDefinitionBytes(Pager& pager, uint32_t first, uint32_t offset, const uint8_t* bytes, uint32_t length) {
  uint32_t page = first, from = 0;
  for (int hops = 0; hops < 64; ++hops) {
    const uint32_t span = pager.page_size() - from;
    if (offset < span) {
      const uint32_t here = std::min(length, span - offset);
      JET_ASSIGN_OR_RETURN(const uint8_t* now, pager.ReadPage(page));
      if (std::memcmp(now + from + offset, bytes, here) != 0) {
        JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
        std::memcpy(data + from + offset, bytes, here);
      }
      if (here == length) return Status::Ok();
      bytes += here;
      length -= here;
      offset = span;  // the rest starts the next page
    }
    offset -= span;
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageTableDefinition, "table definition"));
    page = Get32(data + 4);
    from = 8;
    if (page == 0) break;
  }
  return pager.Corrupt(first, "the table definition is shorter than its own counters");
}

Status PutDefinitionU32(Pager& pager, uint32_t first, uint32_t offset, uint32_t value) {
  uint8_t bytes[4];
  Put32(bytes, value);
  return PutDefinitionBytes(pager, first, offset, bytes, 4);
}

Guid RandomGuid() {
  static std::mt19937_64 generator{std::random_device{}()};
  Guid g;
  for (int i = 0; i < 16; i += 8) {
    uint64_t r = generator();
    for (int k = 0; k < 8; ++k) g.bytes[i + k] = static_cast<uint8_t>(r >> (8 * k));
  }
  g.bytes[7] = static_cast<uint8_t>((g.bytes[7] & 0x0F) | 0x40);  // version 4, stored little-endian
  g.bytes[8] = static_cast<uint8_t>((g.bytes[8] & 0x3F) | 0x80);
  return g;
}

Error Invalid(const TableDef& def, const std::string& what) {
  return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": " + what);
}

}  // namespace

struct TableWriter::Located {
  RowId header;             // the slot index entries name
  RowId home;               // where the row's bytes are
  std::vector<RowId> hops;  // forwarding slots between the two (older files only)
  bool moved() const { return !(header == home); }
};

struct TableWriter::PreparedRow {
  std::vector<Value> values;                     // as they will read back
  std::vector<StoredColumn> stored;              // long-value columns hold their payload
  std::vector<std::optional<std::string>> keys;  // per index; none when the row has no entry
  std::vector<bool> reuse_long;                  // keep the stored long value as it is
  uint32_t next_autonumber = 0;
};

// What the writers of each table learnt of its pages (its data pages, those the free-space map
// lists, forwarded rows, the room of each page), kept on the pager for the table's next writer:
// reading them again cost each write time in proportion to the table's size. A table's lists are
// used again only while the pages are as the writer that kept them left them, and only from a
// writer that was the table's one writer meanwhile (another would have changed pages behind it)
// and stored no long values (whose pages it does not follow).
class TableWriter::KeptPages : public Pager::WriterCache {
 public:
  struct Lists {
    uint64_t generation = 0;  // the pages matched the lists then
    std::set<uint32_t> data_pages, free_pages;
    std::map<uint32_t, uint32_t> forwarded;
    bool forwarded_known = false;
    std::map<uint32_t, DataPageRoom> room;
    std::set<std::pair<uint32_t, uint32_t>> by_room;
    bool rooms_indexed = false;
  };
  struct Table {
    int writers = 0;          // open now
    bool overlapped = false;  // two were open at once since the count was last zero
    std::optional<Lists> lists;
  };

  static KeptPages& Of(Pager& pager) { return pager.writer_cache<KeptPages>("table pages"); }
  std::unordered_map<uint32_t, Table> tables;  // by definition page
};

TableWriter::TableWriter(Pager& pager, TableDef def)
    : pager_(pager), def_(std::move(def)), index_nodes_(&IndexNodeCache::Of(pager)) {}

TableWriter::~TableWriter() {
  if (!loaded_) return;
  KeptPages::Table& table = KeptPages::Of(pager_).tables[def_.page];
  table.lists.reset();
  if (!table.overlapped && long_value_writers_.empty() && pager_.PagesUnchangedSince(generation_after_change_)) {
    table.lists = KeptPages::Lists{generation_after_change_, std::move(data_pages_), std::move(free_pages_),
                                   std::move(forwarded_), forwarded_known_, std::move(room_), std::move(by_room_),
                                   rooms_indexed_};
  }
  if (--table.writers == 0) table.overlapped = false;
}

// Takes the lists the table's last writer kept, when they still describe the pages.
bool TableWriter::TakeKeptPages() {
  KeptPages::Table& table = KeptPages::Of(pager_).tables[def_.page];
  if (table.writers++ > 0) table.overlapped = true;
  loaded_ = true;
  std::optional<KeptPages::Lists> lists = std::move(table.lists);
  table.lists.reset();
  if (table.overlapped || !lists || !pager_.PagesUnchangedSince(lists->generation)) return false;
  data_pages_ = std::move(lists->data_pages);
  free_pages_ = std::move(lists->free_pages);
  forwarded_ = std::move(lists->forwarded);
  forwarded_known_ = lists->forwarded_known;
  room_ = std::move(lists->room);
  by_room_ = std::move(lists->by_room);
  rooms_indexed_ = lists->rooms_indexed;
  return true;
}

Result<std::unique_ptr<TableWriter>> TableWriter::Open(Pager& pager, const TableDef& def) {
  if (!pager.format().jet4()) {
    return Error(ErrorCode::kReadOnly, pager.path() + ": Access 97 databases can be read but not changed");
  }
  JET_ASSIGN_OR_RETURN(TableDef current, ReadTableDef(pager, def.page));
  current.name = def.name;
  std::unique_ptr<TableWriter> writer(new TableWriter(pager, std::move(current)));
  JET_RETURN_IF_ERROR(writer->RequireWrite());
  Status loaded = writer->Load();
  if (!loaded.ok()) return loaded.error().WithContext("table \"" + def.name + "\"");
  return writer;
}

Status TableWriter::RequireWrite() const {
  if (!pager_.writable() || !pager_.in_write()) {
    return Error(ErrorCode::kInvalidArgument, pager_.path() + ": rows can only change inside a write");
  }
  return Status::Ok();
}

Status TableWriter::Load() {
  if (!TakeKeptPages()) {
    // What the write will touch is looked at before anything changes: a map that names a missing
    // page or a page of another kind refuses the write, which would otherwise add to the damage
    // (a new page where a lost one is still listed, rows put where the map's pages are not).
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager_, def_.owned_pages_map));
    for (uint32_t page : owned) {
      JET_RETURN_IF_ERROR(ReadOwnedDataPage(pager_, def_.page, page).status());
      data_pages_.insert(page);
    }
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> free, ReadUsageMap(pager_, def_.free_space_map));
    for (uint32_t page : free) JET_RETURN_IF_ERROR(ReadOwnedDataPage(pager_, def_.page, page).status());
    free_pages_.insert(free.begin(), free.end());
  }
  // The lists describe the pages as they are now (Load changes none).
  generation_after_change_ = pager_.generation();
  JET_ASSIGN_OR_RETURN(long_value_maps_, ReadLongValueMaps(pager_, def_));
  for (size_t i = 0; i < def_.physical_indexes.size(); ++i) {
    const PhysicalIndex& index = def_.physical_indexes[i];
    IndexPlan plan;
    plan.physical = i;
    plan.no_nulls = index.required();
    for (const LogicalIndex& li : def_.logical_indexes) {
      if (li.physical_index != i) continue;
      plan.no_nulls = plan.no_nulls || li.primary();
      plan.name += (plan.name.empty() ? "" : "/") + li.name;
    }
    IndexKeyColumns key = KeyColumnsOf(def_, index);
    plan.keys = std::make_unique<IndexKeyBuilder>(JetVersion::kJet4, std::move(key.columns), std::move(key.positions));
    indexes_.push_back(std::move(plan));
  }
  min_row_size_ = AssembledRowSize(def_, std::vector<StoredColumn>(def_.columns.size()));
  return Status::Ok();
}

// Reading every row slot of the table costs time in proportion to its rows, which a write that
// changes one row should not pay; so the forwarding slots are only collected the first time a row
// is named by its moved home. Until then forwarded_ is left alone; from then on it follows every
// change, as the pages do.
Status TableWriter::FindForwardingSlots() {
  if (forwarded_known_) return Status::Ok();
  forwarded_.clear();
  for (uint32_t page : data_pages_) {
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager_.ReadPage(page));
    uint16_t count = DataPageRowCount(pager_.format(), data);
    for (uint32_t r = 0; r < count; ++r) {
      JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager_, page, r));
      if (!slot.forwarding()) continue;
      JET_ASSIGN_OR_RETURN(uint32_t target, ForwardingPointer(pager_, page, slot));
      forwarded_[target] = (page << 8) | r;
    }
  }
  forwarded_known_ = true;
  return Status::Ok();
}

Result<TableWriter::Located> TableWriter::Locate(RowId row) {
  if (data_pages_.count(row.page) == 0) return Invalid(def_, "there is no row at " + Where(row) + " in this table");
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager_, row.page, row.row));
  if (slot.deleted()) return Invalid(def_, "the row at " + Where(row) + " is deleted");
  Located at{row, row, {}};
  if (slot.moved_home()) {
    // Only the forwarding slot leading here makes this a row; follow such slots back to the first.
    JET_RETURN_IF_ERROR(FindForwardingSlots());
    auto from = forwarded_.find(Pointer(row));
    if (from == forwarded_.end()) return Invalid(def_, "there is no row at " + Where(row) + " (a stray moved-row slot)");
    for (int hops = 0; hops < kMaxForwardingHops && from != forwarded_.end(); ++hops) {
      at.header = FromPointer(from->second);
      from = forwarded_.find(from->second);
    }
    return Locate(at.header);
  }
  if (!slot.forwarding()) return at;
  uint32_t home = 0;
  std::vector<uint32_t> passed;
  JET_RETURN_IF_ERROR(ReadRowFollowingOverflow(pager_, row.page, row.row, &home, {&data_pages_, &passed}).status());
  at.home = FromPointer(home);
  for (uint32_t hop : passed) at.hops.push_back(FromPointer(hop));
  return at;
}

Result<std::vector<Value>> TableWriter::DecodeHome(const Located& at, std::vector<std::string>* long_fields) {
  JET_ASSIGN_OR_RETURN(RowSlot slot, ReadRowSlot(pager_, at.home.page, at.home.row));
  std::string where = pager_.path() + ", " + Where(at.home);
  JET_ASSIGN_OR_RETURN(RowLayout layout, ParseRowLayout(pager_.format(), def_, slot.bytes, slot.size, where));
  std::vector<Value> values;
  long_fields->assign(def_.columns.size(), std::string());
  for (size_t i = 0; i < def_.columns.size(); ++i) {
    const ColumnDef& c = def_.columns[i];
    JET_ASSIGN_OR_RETURN(Value v, DecodeColumn(pager_, def_, c, layout, Where(at.home)));
    values.push_back(std::move(v));
    if (!IsLongValue(c.type) || IsNull(values.back()) || c.var_index + 1u >= layout.var_offsets.size()) continue;
    uint32_t start = layout.var_offsets[c.var_index], end = layout.var_offsets[c.var_index + 1];
    (*long_fields)[i].assign(reinterpret_cast<const char*>(slot.bytes) + start, end - start);
  }
  return values;
}

Result<std::vector<Value>> TableWriter::Read(RowId row) {
  JET_ASSIGN_OR_RETURN(Located at, Locate(row));
  std::vector<std::string> fields;
  return DecodeHome(at, &fields);
}

Result<RowId> TableWriter::HeaderOf(RowId row) {
  JET_ASSIGN_OR_RETURN(Located at, Locate(row));
  return at.header;
}

// The key of the row in each index; none where an ignore-nulls index leaves the row out.
// `enforce` refuses NULLs in primary-key and required indexes (new values only: stored rows are
// keyed as they are).
Result<std::vector<std::optional<std::string>>> TableWriter::KeysFor(const std::vector<Value>& values, bool enforce) {
  std::vector<std::optional<std::string>> keys;
  keys.reserve(indexes_.size());
  for (const IndexPlan& plan : indexes_) {
    const PhysicalIndex& index = def_.physical_indexes[plan.physical];
    const std::vector<size_t>& positions = plan.keys->positions();
    size_t nulls = 0;
    for (size_t p : positions) nulls += IsNull(values[p]) ? 1 : 0;
    if (nulls == positions.size() && index.ignore_nulls()) {
      keys.emplace_back();
      continue;
    }
    if (enforce && nulls > 0 && plan.no_nulls) {
      return Error(ErrorCode::kConstraint, "table \"" + def_.name + "\", index \"" + plan.name + "\": its columns cannot be NULL");
    }
    auto key = plan.keys->Build(values);
    if (!key.ok()) return key.error().WithContext("table \"" + def_.name + "\", index \"" + plan.name + "\"");
    if (key->size() > kMaxIndexKeySize) return Invalid(def_, "the key of index \"" + plan.name + "\" is too long");
    keys.push_back(std::move(key).value());
  }
  return keys;
}

// Autonumbers, Booleans and fixed-width text as they will be stored and read back.
Result<TableWriter::PreparedRow> TableWriter::Prepare(std::vector<Value> values, const std::vector<Value>* old_values,
                                                      const std::vector<std::string>* old_long_fields) {
  if (values.size() != def_.columns.size()) {
    return Invalid(def_, "a row has " + std::to_string(def_.columns.size()) + " values, not " + std::to_string(values.size()));
  }
  PreparedRow row;
  row.next_autonumber = def_.next_autonumber;
  row.reuse_long.assign(values.size(), false);
  row.stored.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    const ColumnDef& c = def_.columns[i];
    Value& v = values[i];
    bool auto_long = c.autonumber() && c.type == ColumnType::kLong;
    bool auto_guid = (c.flags & kColumnAutoGuid) != 0 && c.type == ColumnType::kGuid;
    if (old_values != nullptr && (auto_long || auto_guid)) {
      if (IsNull(v)) v = (*old_values)[i];
      if (!(v == (*old_values)[i])) return Invalid(def_, "the autonumber column \"" + c.name + "\" cannot change");
    } else if (auto_long && IsNull(v)) {
      v = static_cast<int64_t>(++row.next_autonumber);
    } else if (auto_long && std::holds_alternative<int64_t>(v)) {
      int64_t given = std::get<int64_t>(v);
      if (given > static_cast<int64_t>(row.next_autonumber) && given <= INT32_MAX) row.next_autonumber = static_cast<uint32_t>(given);
    } else if (auto_guid && IsNull(v)) {
      v = RandomGuid();
    }
    if (c.type == ColumnType::kBoolean && IsNull(v)) v = false;
    auto stored = EncodeColumn(c, v);
    if (!stored.ok()) return stored.error().WithContext("table \"" + def_.name + "\"");
    if (c.fixed() && c.type == ColumnType::kText && stored->present) {
      v = DecodeStoredText(JetVersion::kJet4, reinterpret_cast<const uint8_t*>(stored->bytes.data()), stored->bytes.size());
    }
    if (old_values != nullptr && IsLongValue(c.type) && v == (*old_values)[i] && !(*old_long_fields)[i].empty()) {
      uint32_t header = Get32(reinterpret_cast<const uint8_t*>((*old_long_fields)[i].data()));
      row.reuse_long[i] = (header & kLongValueInline) == 0;
    }
    row.stored.push_back(std::move(stored).value());
  }
  row.values = std::move(values);
  JET_ASSIGN_OR_RETURN(row.keys, KeysFor(row.values, true));
  return row;
}

// Refuses a key that a unique index already holds for another row.
Status TableWriter::CheckKeys(const PreparedRow& row, const std::vector<std::optional<std::string>>* old_keys,
                              std::optional<RowId> self) {
  for (size_t i = 0; i < indexes_.size(); ++i) {
    const IndexPlan& plan = indexes_[i];
    const PhysicalIndex& index = def_.physical_indexes[plan.physical];
    const std::optional<std::string>& key = row.keys[i];
    if (!index.unique() || !key) continue;
    if (old_keys != nullptr && (*old_keys)[i] == key) continue;
    bool all_null = true;
    for (size_t p : plan.keys->positions()) all_null = all_null && IsNull(row.values[p]);
    if (all_null) continue;  // NULLs never collide
    IndexCursor cursor(pager_, def_.page, index);
    JET_ASSIGN_OR_RETURN(bool found, cursor.SeekEqual(*key));
    while (found && cursor.entry().key == *key) {
      if (!self || !(cursor.row() == *self)) {
        return Error(ErrorCode::kConstraint, pager_.path() + ": table \"" + def_.name + "\", index \"" + plan.name +
                                                 "\": another row already has this key");
      }
      JET_ASSIGN_OR_RETURN(found, cursor.Next());
    }
  }
  return Status::Ok();
}

LongValueWriter& TableWriter::LongValues(uint16_t column_number) {
  auto& writer = long_value_writers_[column_number];
  if (!writer) {
    auto maps = long_value_maps_.find(column_number);
    writer = std::make_unique<LongValueWriter>(pager_, maps == long_value_maps_.end() ? LongValueMaps{} : maps->second);
  }
  return *writer;
}

Status TableWriter::FreeLongValues(const std::vector<std::string>& fields, const std::vector<bool>* keep) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].empty() || (keep != nullptr && (*keep)[i])) continue;
    Status s = LongValues(def_.columns[i].number).Free(reinterpret_cast<const uint8_t*>(fields[i].data()),
                                                       static_cast<uint32_t>(fields[i].size()));
    if (!s.ok()) return s.error().WithContext("column \"" + def_.columns[i].name + "\"");
  }
  return Status::Ok();
}

// Decides where each long value goes (kept as stored, in the row while small values fit, or in
// LVAL rows), frees the old values that are replaced, stores the new ones and builds the row.
Result<std::string> TableWriter::StoreLongValuesAndAssemble(PreparedRow* row,
                                                            const std::vector<std::string>* old_long_fields) {
  // The row's own columns move into place; long values leave their payload behind in `row`.
  std::vector<StoredColumn> fields = std::move(row->stored);
  row->stored.clear();
  std::vector<bool> external;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (!IsLongValue(def_.columns[i].type) || !fields[i].present) continue;
    if (external.empty()) {  // most rows have no long value: then neither list is needed
      row->stored.resize(fields.size());
      external.assign(fields.size(), false);
    }
    row->stored[i].bytes = std::move(fields[i].bytes);
    fields[i].bytes = row->reuse_long[i] ? (*old_long_fields)[i] : std::string(kLongValueFieldSize, '\0');
    external[i] = !row->reuse_long[i];
  }
  uint32_t size = AssembledRowSize(def_, fields);
  if (size > kMaxRowSize) {
    return Invalid(def_, "the row needs " + std::to_string(size) + " bytes; a row holds at most " + std::to_string(kMaxRowSize));
  }
  for (size_t i = 0; i < external.size(); ++i) {
    const std::string& payload = row->stored[i].bytes;
    if (external[i] && payload.size() <= kMaxInlineLongValue && size + payload.size() <= kMaxRowSize) {
      fields[i].bytes = InlineLongValueField(payload);
      size += static_cast<uint32_t>(payload.size());
      external[i] = false;
    }
  }
  if (old_long_fields != nullptr) JET_RETURN_IF_ERROR(FreeLongValues(*old_long_fields, &row->reuse_long));
  for (size_t i = 0; i < external.size(); ++i) {
    if (!external[i]) continue;
    auto field = LongValues(def_.columns[i].number).Store(row->stored[i].bytes);
    if (!field.ok()) return field.error().WithContext("column \"" + def_.columns[i].name + "\"");
    fields[i].bytes = std::move(field).value();
  }
  auto assembled = AssembleRow(def_, fields);
  // A row that cannot be laid out by the table's own definition means the definition is damaged:
  // say which file and which definition page.
  if (!assembled.ok() && assembled.error().code() == ErrorCode::kCorrupt) {
    return pager_.Corrupt(def_.page, "the definition of table \"" + def_.name + "\": " + assembled.error().message());
  }
  return assembled;
}

Result<DataPageRoom> TableWriter::RoomOf(uint32_t page) {
  auto known = room_.find(page);
  if (known != room_.end()) return known->second;
  JET_ASSIGN_OR_RETURN(DataPageRoom room, ReadDataPageRoom(pager_, page));
  room_.emplace(page, room);
  return room;
}

bool TableWriter::Listed(uint32_t page) const { return free_pages_.count(page) != 0 && data_pages_.count(page) != 0; }

void TableWriter::ForgetRooms() {
  room_.clear();
  by_room_.clear();
  rooms_indexed_ = false;
}

Status TableWriter::IndexRooms() {
  if (rooms_indexed_) return Status::Ok();
  by_room_.clear();
  for (uint32_t page : free_pages_) {
    if (data_pages_.count(page) == 0) continue;
    JET_ASSIGN_OR_RETURN(DataPageRoom room, RoomOf(page));
    by_room_.insert({room.free, page});
  }
  rooms_indexed_ = true;
  return Status::Ok();
}

Status TableWriter::UpdateFreeSpace(uint32_t page) {
  // The page just changed: what it has room for is read again.
  JET_ASSIGN_OR_RETURN(DataPageRoom now, ReadDataPageRoom(pager_, page));
  auto [known, fresh] = room_.try_emplace(page, now);
  if (!fresh) {
    by_room_.erase({known->second.free, page});
    known->second = now;
  }
  bool room = now.Fits(min_row_size_);
  bool listed = free_pages_.count(page) != 0;
  if (room != listed) {
    JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, def_.free_space_map, page, room));
    if (room) free_pages_.insert(page);
    else free_pages_.erase(page);
  }
  if (rooms_indexed_ && Listed(page)) by_room_.insert({now.free, page});
  return Status::Ok();
}

Result<uint32_t> TableWriter::PageWithRoom(uint32_t row_size) {
  // The newest page first, as Access fills a table from its end.
  for (auto it = free_pages_.rbegin(); it != free_pages_.rend(); ++it) {
    if (data_pages_.count(*it) == 0) continue;
    JET_ASSIGN_OR_RETURN(DataPageRoom room, RoomOf(*it));
    if (room.Fits(row_size)) return *it;
    break;
  }
  // Then the listed page with the most room: looking through every listed page for each row cost
  // time in proportion to the table's size.
  JET_RETURN_IF_ERROR(IndexRooms());
  for (auto it = by_room_.rbegin(); it != by_room_.rend() && RowSpaceUsage(row_size) <= it->first; ++it) {
    auto room = room_.find(it->second);  // every page indexed by room has its room known
    if (room != room_.end() && room->second.Fits(row_size)) return it->second;
  }
  JET_ASSIGN_OR_RETURN(uint32_t page, AllocatePage(pager_));
  JET_RETURN_IF_ERROR(InitDataPage(pager_, page, def_.page));
  JET_RETURN_IF_ERROR(SetPageInUsageMap(pager_, def_.owned_pages_map, page, true));
  data_pages_.insert(page);
  return page;
}

Status TableWriter::PlaceUpdatedRow(const Located& at, const std::string& bytes) {
  JET_ASSIGN_OR_RETURN(RowSlot home, ReadRowSlot(pager_, at.home.page, at.home.row));
  JET_ASSIGN_OR_RETURN(uint32_t room, RoomToGrow(pager_, at.home.page, at.home.row));
  uint16_t home_flags = at.moved() ? kRowDeleted : 0;
  if (bytes.size() <= home.size + room) {
    JET_RETURN_IF_ERROR(ReplaceRow(pager_, at.home.page, at.home.row, bytes, home_flags));
    return UpdateFreeSpace(at.home.page);
  }
  std::vector<uint32_t> touched{at.home.page, at.header.page};
  if (at.moved()) {
    // The row may come back to its own slot.
    JET_ASSIGN_OR_RETURN(RowSlot header, ReadRowSlot(pager_, at.header.page, at.header.row));
    JET_ASSIGN_OR_RETURN(uint32_t header_room, RoomToGrow(pager_, at.header.page, at.header.row));
    bool back = bytes.size() <= header.size + header_room;
    if (back) JET_RETURN_IF_ERROR(ReplaceRow(pager_, at.header.page, at.header.row, bytes, 0));
    JET_RETURN_IF_ERROR(DeleteRow(pager_, at.home.page, at.home.row));
    forwarded_.erase(Pointer(at.home));
    for (RowId hop : at.hops) {
      JET_RETURN_IF_ERROR(DeleteRow(pager_, hop.page, hop.row));
      forwarded_.erase(Pointer(hop));
      touched.push_back(hop.page);
    }
    if (back) {
      for (uint32_t page : touched) JET_RETURN_IF_ERROR(UpdateFreeSpace(page));
      return Status::Ok();
    }
  }
  JET_ASSIGN_OR_RETURN(uint32_t page, PageWithRoom(static_cast<uint32_t>(bytes.size())));
  JET_ASSIGN_OR_RETURN(uint8_t slot, AppendRow(pager_, page, bytes, kRowDeleted));
  RowId new_home{page, slot};
  JET_RETURN_IF_ERROR(ReplaceRow(pager_, at.header.page, at.header.row, ForwardingBytes(new_home), kRowOverflow));
  forwarded_[Pointer(new_home)] = Pointer(at.header);
  touched.push_back(page);
  for (uint32_t p : touched) JET_RETURN_IF_ERROR(UpdateFreeSpace(p));
  return Status::Ok();
}

Status TableWriter::ApplyIndexChanges(RowId header, const std::vector<std::optional<std::string>>& old_keys,
                                      std::vector<std::optional<std::string>> new_keys) {
  for (size_t i = 0; i < indexes_.size(); ++i) {
    if (old_keys[i] == new_keys[i]) continue;
    PhysicalIndex& index = def_.physical_indexes[indexes_[i].physical];
    // Since the call began (BeginChange) only this writer changed pages, and none of an index.
    index_nodes_->Vouch(pager_);
    Status s;
    if (old_keys[i]) {
      auto gone = DeleteIndexEntry(pager_, def_, index, *old_keys[i], header, index_nodes_);
      if (gone.ok() && gone.value() && index.unique_entry_count > 0) --index.unique_entry_count;
      s = gone.status();
    }
    if (s.ok() && new_keys[i]) {
      auto fresh = InsertIndexEntry(pager_, def_, index, std::move(*new_keys[i]), header, index_nodes_);
      if (fresh.ok() && fresh.value()) ++index.unique_entry_count;
      s = fresh.status();
    }
    if (!s.ok()) return s.error().WithContext("table \"" + def_.name + "\", index \"" + indexes_[i].name + "\"");
  }
  return Status::Ok();
}

Status TableWriter::WriteCounters() {
  const Format& f = pager_.format();
  JET_RETURN_IF_ERROR(PutDefinitionU32(pager_, def_.page, f.tdef_row_count, def_.row_count));
  JET_RETURN_IF_ERROR(PutDefinitionU32(pager_, def_.page, f.tdef_next_autonumber, def_.next_autonumber));
  for (size_t i = 0; i < def_.physical_indexes.size(); ++i) {
    uint32_t at = f.tdef_header_end + static_cast<uint32_t>(i) * f.tdef_physical_index_count_entry + 4;
    JET_RETURN_IF_ERROR(PutDefinitionU32(pager_, def_.page, at, def_.physical_indexes[i].unique_entry_count));
  }
  return Status::Ok();
}

Status TableWriter::BeginChange() {
  JET_RETURN_IF_ERROR(RequireWrite());
  // Decoded index pages, and the room of data pages, are kept only while no one else has changed
  // pages since this writer's last change (EndChange).
  index_nodes_->Revalidate(pager_);
  if (!pager_.PagesUnchangedSince(generation_after_change_)) ForgetRooms();
  return Status::Ok();
}

Status TableWriter::EndChange() {
  JET_RETURN_IF_ERROR(WriteCounters());
  index_nodes_->Vouch(pager_);  // the counters are no index page
  generation_after_change_ = pager_.generation();
  return Status::Ok();
}

Result<RowId> TableWriter::Insert(std::vector<Value> values) {
  JET_RETURN_IF_ERROR(BeginChange());
  JET_ASSIGN_OR_RETURN(PreparedRow row, Prepare(std::move(values), nullptr, nullptr));
  JET_RETURN_IF_ERROR(CheckKeys(row, nullptr, std::nullopt));
  JET_ASSIGN_OR_RETURN(std::string bytes, StoreLongValuesAndAssemble(&row, nullptr));
  JET_ASSIGN_OR_RETURN(uint32_t page, PageWithRoom(static_cast<uint32_t>(bytes.size())));
  JET_ASSIGN_OR_RETURN(uint8_t slot, AppendRow(pager_, page, bytes, 0));
  JET_RETURN_IF_ERROR(UpdateFreeSpace(page));
  RowId id{page, slot};
  JET_RETURN_IF_ERROR(ApplyIndexChanges(id, std::vector<std::optional<std::string>>(indexes_.size()), std::move(row.keys)));
  ++def_.row_count;
  def_.next_autonumber = row.next_autonumber;
  JET_RETURN_IF_ERROR(EndChange());
  return id;
}

Status TableWriter::Update(RowId target, std::vector<Value> values) {
  JET_RETURN_IF_ERROR(BeginChange());
  JET_ASSIGN_OR_RETURN(Located at, Locate(target));
  std::vector<std::string> old_fields;
  JET_ASSIGN_OR_RETURN(std::vector<Value> old_values, DecodeHome(at, &old_fields));
  JET_ASSIGN_OR_RETURN(auto old_keys, KeysFor(old_values, false));
  JET_ASSIGN_OR_RETURN(PreparedRow row, Prepare(std::move(values), &old_values, &old_fields));
  JET_RETURN_IF_ERROR(CheckKeys(row, &old_keys, at.header));
  JET_ASSIGN_OR_RETURN(std::string bytes, StoreLongValuesAndAssemble(&row, &old_fields));
  JET_RETURN_IF_ERROR(PlaceUpdatedRow(at, bytes));
  JET_RETURN_IF_ERROR(ApplyIndexChanges(at.header, old_keys, std::move(row.keys)));
  return EndChange();
}

Status TableWriter::Delete(RowId target) {
  JET_RETURN_IF_ERROR(BeginChange());
  JET_ASSIGN_OR_RETURN(Located at, Locate(target));
  std::vector<std::string> old_fields;
  JET_ASSIGN_OR_RETURN(std::vector<Value> old_values, DecodeHome(at, &old_fields));
  JET_ASSIGN_OR_RETURN(auto old_keys, KeysFor(old_values, false));
  JET_RETURN_IF_ERROR(FreeLongValues(old_fields, nullptr));
  std::vector<RowId> slots = at.hops;
  slots.push_back(at.header);
  if (at.moved()) slots.push_back(at.home);
  for (RowId slot : slots) {
    JET_RETURN_IF_ERROR(DeleteRow(pager_, slot.page, slot.row));
    forwarded_.erase(Pointer(slot));
  }
  for (RowId slot : slots) JET_RETURN_IF_ERROR(UpdateFreeSpace(slot.page));
  JET_RETURN_IF_ERROR(ApplyIndexChanges(at.header, old_keys, std::vector<std::optional<std::string>>(indexes_.size())));
  if (def_.row_count > 0) --def_.row_count;
  return EndChange();
}

}  // namespace jet
