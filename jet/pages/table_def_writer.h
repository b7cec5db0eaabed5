// Writing table definitions (Jet 4): a TableDef back to its TDEF bytes, and those bytes over the
// definition's page chain.
//
// A stored definition holds a few fields the engine's model (TableDef) does not interpret. They
// travel beside it in DefinitionExtras, so that rewriting a definition changes only what a design
// change meant to change:
//   - header bytes 12..15 (a constant, 1625, in every known file), byte 24 (1: Access needs it for
//     autonumbers to work) and bytes 25..39 (Access leaves stale memory there);
//   - in each physical index's 12-byte count block, the words around the unique-entry count;
//   - in each 25-byte column block, the constant at +1 (1625), the word at +9 (an ordinal: the
//     column number, the column's position, or 0, depending on the writer) and the zero word at +17;
//   - in each 52-byte physical index block, the constant at +0 (1923), the flag bytes of unused
//     column slots and the word after the root page (stale memory, like the header's), and the
//     five zero bytes after the flags;
//   - in each 28-byte logical index block, the constant at +0 (1625), the relationship fields at
//     +12..+22 (related table type, related index, related definition page, cascade flags) and the
//     zero word at +24;
//   - after the index names, the usage maps of each Memo/OLE column (column number, owned-pages
//     map, free-space map), ended by 0xFFFF.
// Every other byte of a definition is derived from the TableDef, and the definition's bytes end at
// its length (header @8); what a page holds past that is not part of it.
//
// A long definition continues on further pages, each with an 8-byte header (type 2, 0x01, free
// space @2, next page @4) followed by the next part of the bytes. The free space field of every
// page is page size - bytes used on the page - 8 (as Access writes it), never below zero.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"
#include "jet/pages/table_def.h"

namespace jet {

constexpr uint32_t kDefinitionMagic = 1625;    // header, column and logical index blocks
constexpr uint32_t kPhysicalIndexMagic = 1923;  // physical index blocks

// The usage maps of one long-value (Memo/OLE) column, as row pointers.
struct LongValueMapRef {
  uint16_t column_number = 0;
  uint32_t owned = 0;
  uint32_t free_space = 0;
};

// Defaults are what Access writes for a new definition.
struct DefinitionExtras {
  struct IndexCount {
    uint32_t before = 0;  // count block bytes 0..3
    uint32_t after = 0;   // count block bytes 8..11
  };
  struct Column {
    uint32_t magic = kDefinitionMagic;
    uint16_t ordinal = 0;
    uint32_t reserved = 0;
  };
  struct Physical {
    uint32_t magic = kPhysicalIndexMagic;
    std::array<uint8_t, 10> unused_slot_flags{};  // flag byte of each slot that names no column
    uint32_t after_root = 0;
    std::array<uint8_t, 5> trailer{};
  };
  struct Logical {
    uint32_t magic = kDefinitionMagic;
    // Related table type, related index (-1: none), related definition page, cascade flags.
    std::array<uint8_t, 11> relationship{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x04, 0x04};
    uint32_t trailer = 0;
  };

  uint32_t header_magic = kDefinitionMagic;
  uint8_t header_byte24 = 1;
  std::array<uint8_t, 15> header_unknown{};
  std::vector<IndexCount> index_counts;  // one per physical index, in order
  std::vector<Column> columns;           // one per column, in definition order
  std::vector<Physical> physical;        // one per physical index
  std::vector<Logical> logical;          // one per logical index
  std::vector<LongValueMapRef> long_value_maps;
};

// A definition together with its extras; design changes edit both in step.
struct StoredTableDef {
  TableDef def;
  DefinitionExtras extras;
};

// Extras for a definition that has never been stored: Access's defaults, each column's ordinal
// its number, and no long-value maps.
DefinitionExtras NewDefinitionExtras(const TableDef& def);

// Reads the extras of the stored definition `def` (as ReadTableDef returned it). Fails with
// kCorrupt when the stored bytes do not have the shape `def` describes.
Result<DefinitionExtras> ReadDefinitionExtras(Pager& pager, const TableDef& def);

// ReadTableDef plus ReadDefinitionExtras.
Result<StoredTableDef> ReadStoredTableDef(Pager& pager, uint32_t page);

// The definition's bytes as one run (the form ReadTableDef reads after joining the pages): the
// first page's header included, continuation headers left out, bytes 2..7 zero. Errors:
// kInvalidArgument when the extras do not match the definition's shape, a name is longer than a
// definition can hold, or an index has more than 10 columns; kUnsupported for Jet 3.
Result<std::string> EncodeTableDef(const Format& format, const TableDef& def, const DefinitionExtras& extras);

// The page images of `bytes` laid over `pages` (as many as it needs, see DefinitionPageCount),
// with free space and next-page links filled in. Each image is page_size bytes, zero past the
// definition.
std::vector<std::string> LayOutDefinitionPages(const Format& format, const std::string& bytes,
                                               const std::vector<uint32_t>& pages);

// How many pages a definition of `length` bytes takes.
uint32_t DefinitionPageCount(const Format& format, size_t length);

// Writes the definition over its page chain (from def.page) inside the current write. The chain
// grows with pages from AllocatePage and shrinks by releasing the pages it no longer needs (they
// are zeroed and marked free in the global usage map). def.page itself may be a fresh zero page
// (a new table). Errors as EncodeTableDef, kCorrupt for a broken chain, kInvalidArgument outside
// a write.
Status WriteTableDef(Pager& pager, const TableDef& def, const DefinitionExtras& extras);

}  // namespace jet
