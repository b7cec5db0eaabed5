#include "jet/pages/table_def_writer.h"

#include <cstring>
#include <set>

#include "jet/base/bytes.h"
#include "jet/pages/usage_map_writer.h"
#include "jet/base/value.h"

namespace jet {

namespace {

constexpr uint32_t kContinuationHeader = 8;
constexpr uint32_t kIndexSlots = 10;
constexpr uint16_t kNoColumn = 0xFFFF;

// The pages of a stored definition and its bytes joined (first page whole, then each further
// page past its header).
struct DefinitionChain {
  std::vector<uint32_t> pages;
  std::string bytes;
};

Result<DefinitionChain> ReadChain(Pager& pager, uint32_t first) {
  DefinitionChain chain;
  std::set<uint32_t> seen;
  for (uint32_t page = first; page != 0;) {
    if (!seen.insert(page).second) return pager.Corrupt(page, "the table definition's page chain forms a cycle");
    JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPageOfType(page, kPageTableDefinition, "table definition"));
    size_t from = chain.pages.empty() ? 0 : kContinuationHeader;
    chain.bytes.append(reinterpret_cast<const char*>(data) + from, pager.page_size() - from);
    chain.pages.push_back(page);
    page = Get32(data + 4);
  }
  return chain;
}

// Appends little-endian integers and raw bytes.
class Out {
 public:
  void U8(uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
  void U16(uint16_t v) { U8(v & 0xFF), U8(v >> 8); }
  void U32(uint32_t v) { U16(v & 0xFFFF), U16(v >> 16); }
  void Raw(const uint8_t* p, size_t n) { bytes_.append(reinterpret_cast<const char*>(p), n); }
  void Zeros(size_t n) { bytes_.append(n, '\0'); }
  std::string& bytes() { return bytes_; }

 private:
  std::string bytes_;
};

Status PutName(Out& out, const std::string& name) {
  Text text = FromUtf8(name);
  if (text.size() * 2 > 0xFFFF) return Error(ErrorCode::kInvalidArgument, "the name \"" + name + "\" is too long");
  out.U16(static_cast<uint16_t>(text.size() * 2));
  for (char16_t unit : text) out.U16(static_cast<uint16_t>(unit));
  return Status::Ok();
}

void PutHeader(Out& out, const Format& f, const TableDef& def, const DefinitionExtras& x) {
  out.U8(kPageTableDefinition);
  out.U8(0x01);
  out.Zeros(6);   // free space and next page: page-level fields, set when laid out
  out.U32(0);     // length, patched at the end
  out.U32(x.header_magic);
  out.U32(def.row_count);
  out.U32(def.next_autonumber);
  out.U8(x.header_byte24);
  out.Raw(x.header_unknown.data(), x.header_unknown.size());
  out.U8(def.table_type);
  out.U16(def.max_columns);
  out.U16(def.var_column_count);
  out.U16(static_cast<uint16_t>(def.columns.size()));
  out.U32(static_cast<uint32_t>(def.logical_indexes.size()));
  out.U32(static_cast<uint32_t>(def.physical_indexes.size()));
  out.U32(def.owned_pages_map);
  out.U32(def.free_space_map);
}

void PutColumn(Out& out, const ColumnDef& c, const DefinitionExtras::Column& x) {
  out.U8(static_cast<uint8_t>(c.type));
  out.U32(x.magic);
  out.U16(c.number);
  out.U16(c.var_index);
  out.U16(x.ordinal);
  // Bytes 11..12 hold a Decimal's precision and scale, any other type's sort order.
  if (c.type == ColumnType::kDecimal) {
    out.U8(c.precision);
    out.U8(c.scale);
  } else {
    out.U16(c.sort_order);
  }
  out.U16(c.code_page);
  out.U8(c.flags);
  out.U8(c.extra_flags);
  out.U32(x.reserved);
  out.U16(c.fixed_offset);
  out.U16(c.length);
}

Status PutPhysicalIndex(Out& out, const PhysicalIndex& index, const DefinitionExtras::Physical& x) {
  if (index.columns.size() > kIndexSlots) {
    return Error(ErrorCode::kInvalidArgument, "an index has more than " + std::to_string(kIndexSlots) + " columns");
  }
  out.U32(x.magic);
  for (uint32_t i = 0; i < kIndexSlots; ++i) {
    if (i < index.columns.size()) {
      out.U16(index.columns[i].column_number);
      out.U8(index.columns[i].ascending ? 0x01 : 0x00);
    } else {
      out.U16(kNoColumn);
      out.U8(x.unused_slot_flags[i]);
    }
  }
  out.U32(index.usage_map);
  out.U32(index.root_page);
  out.U32(x.after_root);
  out.U8(index.flags);
  out.Raw(x.trailer.data(), x.trailer.size());
  return Status::Ok();
}

void PutLogicalIndex(Out& out, const LogicalIndex& index, const DefinitionExtras::Logical& x) {
  out.U32(x.magic);
  out.U32(index.number);
  out.U32(index.physical_index);
  out.Raw(x.relationship.data(), x.relationship.size());
  out.U8(index.type);
  out.U32(x.trailer);
}

Status CheckShape(const TableDef& def, const DefinitionExtras& x) {
  if (x.index_counts.size() != def.physical_indexes.size() || x.physical.size() != def.physical_indexes.size() ||
      x.columns.size() != def.columns.size() || x.logical.size() != def.logical_indexes.size()) {
    return Error(ErrorCode::kInvalidArgument, "the definition of table \"" + def.name +
                                                  "\" and its stored extras disagree on its columns or indexes");
  }
  return Status::Ok();
}

// Sequential reader over stored definition bytes for the extras; every read is bounds-checked.
class In {
 public:
  In(Pager& pager, uint32_t page, const std::string& bytes) : pager_(pager), page_(page), bytes_(bytes) {}

  Result<const uint8_t*> Take(size_t n) {
    if (pos_ + n > bytes_.size()) return pager_.Corrupt(page_, "the table definition ends early");
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes_.data()) + pos_;
    pos_ += n;
    return p;
  }
  Status SkipNames(size_t count) {
    for (size_t i = 0; i < count; ++i) {
      JET_ASSIGN_OR_RETURN(const uint8_t* p, Take(2));
      JET_RETURN_IF_ERROR(Take(Get16(p)).status());
    }
    return Status::Ok();
  }

 private:
  Pager& pager_;
  uint32_t page_;
  const std::string& bytes_;
  size_t pos_ = 0;
};

Status ReadColumnAndIndexExtras(In& in, const Format& f, const TableDef& def, DefinitionExtras* x) {
  for (size_t i = 0; i < def.columns.size(); ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, in.Take(f.column_entry_size));
    x->columns.push_back({Get32(p + 1), Get16(p + 9), Get32(p + 17)});
  }
  JET_RETURN_IF_ERROR(in.SkipNames(def.columns.size()));
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, in.Take(f.physical_index_entry_size));
    DefinitionExtras::Physical phys;
    phys.magic = Get32(p);
    for (uint32_t s = 0; s < kIndexSlots; ++s)
      if (Get16(p + 4 + 3 * s) == kNoColumn) phys.unused_slot_flags[s] = p[6 + 3 * s];
    phys.after_root = Get32(p + 42);
    std::memcpy(phys.trailer.data(), p + 47, phys.trailer.size());
    x->physical.push_back(phys);
  }
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, in.Take(f.logical_index_entry_size));
    DefinitionExtras::Logical logical;
    logical.magic = Get32(p);
    std::memcpy(logical.relationship.data(), p + 12, logical.relationship.size());
    logical.trailer = Get32(p + 24);
    x->logical.push_back(logical);
  }
  return in.SkipNames(def.logical_indexes.size());
}

}  // namespace

DefinitionExtras NewDefinitionExtras(const TableDef& def) {
  DefinitionExtras x;
  x.index_counts.resize(def.physical_indexes.size());
  x.physical.resize(def.physical_indexes.size());
  x.logical.resize(def.logical_indexes.size());
  for (const ColumnDef& c : def.columns) x.columns.push_back({kDefinitionMagic, c.number, 0});
  return x;
}

Result<DefinitionExtras> ReadDefinitionExtras(Pager& pager, const TableDef& def) {
  const Format& f = pager.format();
  if (!f.jet4()) return Error(ErrorCode::kUnsupported, pager.path() + ": only Access 2000 or later definitions can be rewritten");
  JET_ASSIGN_OR_RETURN(DefinitionChain chain, ReadChain(pager, def.page));
  In in(pager, def.page, chain.bytes);
  JET_ASSIGN_OR_RETURN(const uint8_t* h, in.Take(f.tdef_header_end));
  DefinitionExtras x;
  x.header_magic = Get32(h + 12);
  x.header_byte24 = h[24];
  std::memcpy(x.header_unknown.data(), h + 25, x.header_unknown.size());
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, in.Take(f.tdef_physical_index_count_entry));
    x.index_counts.push_back({Get32(p), Get32(p + 8)});
  }
  JET_RETURN_IF_ERROR(ReadColumnAndIndexExtras(in, f, def, &x));
  while (true) {
    JET_ASSIGN_OR_RETURN(const uint8_t* p, in.Take(2));
    uint16_t column = Get16(p);
    if (column == kNoColumn) break;
    JET_ASSIGN_OR_RETURN(const uint8_t* maps, in.Take(8));
    x.long_value_maps.push_back({column, Get32(maps), Get32(maps + 4)});
  }
  return x;
}

Result<StoredTableDef> ReadStoredTableDef(Pager& pager, uint32_t page) {
  StoredTableDef stored;
  JET_ASSIGN_OR_RETURN(stored.def, ReadTableDef(pager, page));
  JET_ASSIGN_OR_RETURN(stored.extras, ReadDefinitionExtras(pager, stored.def));
  return stored;
}

Result<std::string> EncodeTableDef(const Format& f, const TableDef& def, const DefinitionExtras& x) {
  if (!f.jet4()) return Error(ErrorCode::kUnsupported, "only Access 2000 or later definitions can be written");
  JET_RETURN_IF_ERROR(CheckShape(def, x));
  Out out;
  PutHeader(out, f, def, x);
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    out.U32(x.index_counts[i].before);
    out.U32(def.physical_indexes[i].unique_entry_count);
    out.U32(x.index_counts[i].after);
  }
  for (size_t i = 0; i < def.columns.size(); ++i) PutColumn(out, def.columns[i], x.columns[i]);
  for (const ColumnDef& c : def.columns) JET_RETURN_IF_ERROR(PutName(out, c.name));
  for (size_t i = 0; i < def.physical_indexes.size(); ++i) {
    JET_RETURN_IF_ERROR(PutPhysicalIndex(out, def.physical_indexes[i], x.physical[i]));
  }
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) PutLogicalIndex(out, def.logical_indexes[i], x.logical[i]);
  for (const LogicalIndex& index : def.logical_indexes) JET_RETURN_IF_ERROR(PutName(out, index.name));
  for (const LongValueMapRef& m : x.long_value_maps) {
    out.U16(m.column_number);
    out.U32(m.owned);
    out.U32(m.free_space);
  }
  out.U16(kNoColumn);
  std::string& bytes = out.bytes();
  Put32(reinterpret_cast<uint8_t*>(bytes.data()) + 8, static_cast<uint32_t>(bytes.size()));
  return std::move(bytes);
}

uint32_t DefinitionPageCount(const Format& f, size_t length) {
  if (length <= f.page_size) return 1;
  const size_t per_page = f.page_size - kContinuationHeader;
  return 1 + static_cast<uint32_t>((length - f.page_size + per_page - 1) / per_page);
}

std::vector<std::string> LayOutDefinitionPages(const Format& f, const std::string& bytes,
                                               const std::vector<uint32_t>& pages) {
  std::vector<std::string> images;
  size_t pos = 0;
  for (size_t i = 0; i < pages.size(); ++i) {
    std::string image(f.page_size, '\0');
    size_t start = i == 0 ? 0 : kContinuationHeader;
    size_t n = std::min(bytes.size() - pos, static_cast<size_t>(f.page_size) - start);
    std::memcpy(image.data() + start, bytes.data() + pos, n);
    pos += n;
    auto* p = reinterpret_cast<uint8_t*>(image.data());
    p[0] = kPageTableDefinition;
    p[1] = 0x01;
    int64_t free_space = static_cast<int64_t>(f.page_size) - static_cast<int64_t>(start + n) - 8;
    Put16(p + 2, static_cast<uint16_t>(std::max<int64_t>(free_space, 0)));
    Put32(p + 4, i + 1 < pages.size() ? pages[i + 1] : 0);
    images.push_back(std::move(image));
  }
  return images;
}

Status WriteTableDef(Pager& pager, const TableDef& def, const DefinitionExtras& extras) {
  if (!pager.in_write()) return Error(ErrorCode::kInvalidArgument, pager.path() + ": a definition was written outside a write");
  JET_ASSIGN_OR_RETURN(std::string bytes, EncodeTableDef(pager.format(), def, extras));
  std::vector<uint32_t> chain{def.page};
  JET_ASSIGN_OR_RETURN(const uint8_t* first, pager.ReadPage(def.page));
  if (first[0] == kPageTableDefinition) {
    JET_ASSIGN_OR_RETURN(DefinitionChain stored, ReadChain(pager, def.page));
    chain = stored.pages;
  } else if (first[0] != 0) {
    return pager.Corrupt(def.page, "a table definition was to be written over a page in use for something else");
  }
  const uint32_t needed = DefinitionPageCount(pager.format(), bytes.size());
  while (chain.size() > needed) {
    JET_ASSIGN_OR_RETURN(uint8_t* surplus, pager.MutablePage(chain.back()));
    std::memset(surplus, 0, pager.page_size());
    JET_RETURN_IF_ERROR(ReleasePage(pager, chain.back()));
    chain.pop_back();
  }
  while (chain.size() < needed) {
    JET_ASSIGN_OR_RETURN(uint32_t page, AllocatePage(pager));
    chain.push_back(page);
  }
  std::vector<std::string> images = LayOutDefinitionPages(pager.format(), bytes, chain);
  for (size_t i = 0; i < chain.size(); ++i) {
    JET_ASSIGN_OR_RETURN(uint8_t* page, pager.MutablePage(chain[i]));
    std::memcpy(page, images[i].data(), pager.page_size());
  }
  return Status::Ok();
}

}  // namespace jet
