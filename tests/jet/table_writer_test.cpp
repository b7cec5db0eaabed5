// Row writes on existing tables, scenario by scenario, checked on the bytes Access reads: slot
// flags, long-value storage kinds, compressed text, definition counters, usage maps, and the
// whole file through the integrity check (rows and every index) after each committed write.
#include <gtest/gtest.h>

#include <filesystem>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/long_value.h"
#include "jet/pages/long_value_writer.h"
#include "jet/pages/row_decoder.h"
#include "jet/table/table_writer.h"
#include "jet/pages/usage_map.h"
#include "tests/jet/test_support.h"

namespace {

using jet::ErrorCode;
using jet::RowId;
using jet::Text;
using jet::Value;
using velloran_test::ScratchDir;

using velloran_test::LoadedTable;
using velloran_test::WithTableWriter;

// Every row of `table` and its id, read through a handle closed again, after checking the whole file.
LoadedTable CheckedRows(const std::string& path, const std::string& table) {
  EXPECT_EQ(velloran_test::Problems(path), std::vector<std::string>());
  LoadedTable t = velloran_test::LoadTable(path, table);
  t.db.reset();
  return t;
}

// Inserts `rows` into `table` in one committed write and returns their ids (none when it fails).
std::vector<RowId> Inserted(const std::string& path, const std::string& table, const std::vector<std::vector<Value>>& rows) {
  std::vector<RowId> ids;
  jet::Status s = WithTableWriter(path, table, [&](jet::TableWriter& w) -> jet::Status {
    for (const std::vector<Value>& row : rows) {
      JET_ASSIGN_OR_RETURN(RowId id, w.Insert(row));
      ids.push_back(id);
    }
    return jet::Status::Ok();
  });
  EXPECT_TRUE(s.ok()) << s.error().message();
  return s.ok() ? ids : std::vector<RowId>();
}

uint32_t Word(const std::string& field, size_t at = 0) { return jet::Get32(reinterpret_cast<const uint8_t*>(field.data()) + at); }
RowId PointedRow(uint32_t pointer) { return RowId{pointer >> 8, static_cast<uint8_t>(pointer & 0xFF)}; }

// The slot word of (page, row) in a committed file, and the bytes it points to.
struct RawSlot {
  uint16_t word = 0;
  std::string bytes;
  uint16_t flags() const { return word & 0xC000; }
};

RawSlot ReadRawSlot(const std::string& path, RowId id) {
  const std::string file = velloran_test::ReadWholeFile(path);
  const uint8_t* page = reinterpret_cast<const uint8_t*>(file.data()) + size_t{id.page} * 4096;
  const uint16_t word = jet::Get16(page + 14 + 2 * id.row);
  const uint32_t start = word & 0x1FFF, end = id.row == 0 ? 4096 : jet::Get16(page + 14 + 2 * (id.row - 1)) & 0x1FFF;
  return RawSlot{word, file.substr(size_t{id.page} * 4096 + start, end - start)};
}

Text T(const char* utf8) { return jet::FromUtf8(utf8); }

// The fifth column (Keys' Memo) of the row whose first column holds `id`; NULL when no row does.
Value FifthOf(const LoadedTable& t, int64_t id) {
  for (const std::vector<Value>& r : t.rows)
    if (r[0] == Value(id)) return r[4];
  return Value();
}

// Inserts, and rows that grow, move, shrink and go, against a model and the other readers (their
// values, the row count, the scan meeting a moved row once, at its home): RandomWrites. Here the
// slot flags Access reads for a moved row, and for it deleted.
TEST(TableWriter, SongsGrowMoveAndDelete) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const LoadedTable before = CheckedRows(path, "MyList");
  ASSERT_EQ(before.rows.size(), 500u);
  auto change = [&](auto body) { ASSERT_TRUE(WithTableWriter(path, "MyList", body).ok()); };

  // Grow an old row on a full page until it has to move: its slot becomes a forwarding pointer.
  const RowId victim = before.ids[3];
  std::vector<Value> grown = before.rows[3];
  grown[3] = Text(255, u'x');
  grown[4] = Text(255, u'y');
  change([&](jet::TableWriter& w) { return w.Update(victim, grown); });
  RawSlot header = ReadRawSlot(path, victim);
  ASSERT_EQ(header.flags(), 0x4000) << "the row moved";
  ASSERT_EQ(header.bytes.size(), 4u);
  const RowId home = PointedRow(Word(header.bytes));
  EXPECT_EQ(ReadRawSlot(path, home).flags(), 0x8000) << "its new home";
  EXPECT_EQ(CheckedRows(path, "MyList").rows.size(), 500u);

  // Delete it: the forwarding slot and the home both go.
  change([&](jet::TableWriter& w) { return w.Delete(victim); });
  EXPECT_EQ(ReadRawSlot(path, victim).flags(), 0xC000);
  EXPECT_EQ(ReadRawSlot(path, home).flags(), 0xC000);
  EXPECT_TRUE(ReadRawSlot(path, home).bytes.empty()) << "a deleted row gives its bytes back to the page";
  EXPECT_EQ(CheckedRows(path, "MyList").rows.size(), 499u);
}

// The variable-area bytes of column `name` in a stored row of `table`.
std::string StoredField(const std::string& path, const std::string& table, RowId id, const std::string& name) {
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, table, false);
  jet::RowSlot slot = jet::ReadRowSlot(t.db->pager(), id.page, id.row).value();
  auto layout = jet::ParseRowLayout(t.db->pager().format(), t.def, slot.bytes, slot.size, "row").value();
  const jet::ColumnDef* c = t.def.FindColumn(name);
  const uint16_t from = layout.var_offsets[c->var_index], to = layout.var_offsets[c->var_index + 1];
  return std::string(reinterpret_cast<const char*>(slot.bytes) + from, to - from);
}

TEST(RowEncoder, CompressesTextOnlyWhereItIsAllowedAndPays) {
  const jet::ColumnDef text{.name = "Text", .type = jet::ColumnType::kText, .length = 510, .extra_flags = jet::kColumnCompressedUnicode};
  EXPECT_EQ(jet::EncodeText(text, T("Abba")), std::string("\xFF\xFE" "Abba", 6));
  EXPECT_EQ(jet::EncodeText(text, T("Café")), std::string("\xFF\xFE" "Caf\xE9", 6));
  EXPECT_EQ(jet::EncodeText(text, T("ab")), std::string("a\0b\0", 4)) << "two characters gain nothing";
  EXPECT_EQ(jet::EncodeText(text, T("Мир")), std::string("\x1C\x04\x38\x04\x40\x04", 6));
  EXPECT_EQ(jet::EncodeText(text, Text(u"a\u0000b", 3)).size(), 6u) << "NUL cannot be compressed";
  const jet::ColumnDef plain{.name = "Plain", .type = jet::ColumnType::kText, .length = 510};
  EXPECT_EQ(jet::EncodeText(plain, T("Abba")).size(), 8u) << "the column does not allow it";
  const jet::ColumnDef memo{.name = "Memo", .type = jet::ColumnType::kMemo, .length = 510, .extra_flags = jet::kColumnCompressedUnicode};
  EXPECT_EQ(jet::EncodeText(memo, Text(1024, u'x')).size(), 1026u);
  EXPECT_EQ(jet::EncodeText(memo, Text(1025, u'x')).size(), 2050u) << "long memos stay UTF-16";
  // Values that do not belong to the column are refused.
  EXPECT_EQ(jet::EncodeColumn(plain, Text(256, u'x')).status().error().code(), ErrorCode::kInvalidArgument);
  const jet::ColumnDef byte{.name = "Byte", .type = jet::ColumnType::kByte, .flags = jet::kColumnFixed};
  EXPECT_EQ(jet::EncodeColumn(byte, int64_t{256}).status().error().code(), ErrorCode::kInvalidArgument);
  EXPECT_EQ(jet::EncodeColumn(byte, T("1")).status().error().code(), ErrorCode::kInvalidArgument);
}


TEST(TableWriter, MemosGoInlineToOneLongValueRowOrToAChainAndAreFreed) {
  COPY_FIXTURE_OR_SKIP("generated/keysV2000.mdb", scratch, path);
  // ID, Txt, Num, Flag, Memo.
  auto row = [](int64_t id, size_t memo_chars) {
    return std::vector<Value>{id, T("memo test"), int64_t{1}, false, Text(memo_chars, u'm')};
  };
  // 40, 3000 and 20000 bytes of memo.
  const std::vector<RowId> ids = Inserted(path, "Keys", {row(900001, 20), row(900002, 1500), row(900003, 10000)});
  ASSERT_EQ(ids.size(), 3u);
  const RowId small = ids[0], single = ids[1], chain = ids[2];
  EXPECT_EQ(CheckedRows(path, "Keys").rows.size(), 3003u);
  const std::string f_small = StoredField(path, "Keys", small, "Memo"), f_single = StoredField(path, "Keys", single, "Memo"),
                    f_chain = StoredField(path, "Keys", chain, "Memo");
  // The storage kind in each field's top two bits: inline (holding the 40 bytes), one LVAL row, a chain.
  const std::vector<uint32_t> kinds = {Word(f_small) & 0xC0000000, Word(f_single) & 0xC0000000, Word(f_chain) & 0xC0000000};
  EXPECT_EQ(kinds, (std::vector<uint32_t>{jet::kLongValueInline, jet::kLongValueSingleRow, 0u}));
  EXPECT_EQ(f_small.size(), 12u + 40u);
  // Each LVAL row written is on a page the column's own usage map lists.
  velloran_test::LoadedTable keys = velloran_test::LoadTable(path, "Keys", false);
  jet::Pager& pager = keys.db->pager();
  auto maps = jet::ReadLongValueMaps(pager, keys.def).value();
  ASSERT_EQ(maps.count(keys.def.FindColumn("Memo")->number), 1u);
  std::vector<uint32_t> owned = jet::ReadUsageMap(pager, maps[keys.def.FindColumn("Memo")->number].owned).value();
  std::set<uint32_t> lval_pages(owned.begin(), owned.end());
  std::vector<uint32_t> chain_rows;
  for (uint32_t p = Word(f_chain, 4); p != 0; p = jet::Get32(jet::ReadRowSlot(pager, p >> 8, p & 0xFF).value().bytes)) {
    chain_rows.push_back(p);
    EXPECT_EQ(lval_pages.count(p >> 8), 1u) << "chain page " << (p >> 8);
  }
  EXPECT_EQ(chain_rows.size(), 5u) << "20000 bytes in rows of at most 4072";
  EXPECT_EQ(lval_pages.count(Word(f_single, 4) >> 8), 1u);
  keys.db.reset();

  // Shrinking the chain to a short memo frees its rows; deleting the other row frees its one.
  ASSERT_TRUE(WithTableWriter(path, "Keys", [&](jet::TableWriter& w) -> jet::Status {
                JET_RETURN_IF_ERROR(w.Update(chain, row(900003, 3)));
                return w.Delete(single);
              }).ok());
  const LoadedTable rows = CheckedRows(path, "Keys");
  EXPECT_EQ(rows.rows.size(), 3002u);
  chain_rows.push_back(Word(f_single, 4));
  for (uint32_t p : chain_rows) EXPECT_EQ(ReadRawSlot(path, PointedRow(p)).flags(), 0xC000);
  EXPECT_EQ(FifthOf(rows, 900003), Value(Text(3, u'm')));
}

// Sets byte `offset` of the Memo column's block in the definition of keysV2000's Keys.
void SetKeysMemoByte(const std::string& path, size_t offset, uint8_t value) {
  jet::TableDef def = velloran_test::LoadTable(path, "Keys", false).def;
  size_t memo = static_cast<size_t>(def.FindColumn("Memo") - def.columns.data());
  std::vector<uint8_t> bytes = velloran_test::ReadBytes(path);
  bytes.at(size_t{def.page} * 4096 + 63 + 12 * def.physical_indexes.size() + 25 * memo + offset) = value;
  velloran_test::WriteBytes(path, bytes);
}

TEST(TableWriter, MemoTextIsCompressedWhenTheColumnAllowsIt) {
  COPY_FIXTURE_OR_SKIP("generated/keysV2000.mdb", scratch, path);
  // Give the Memo column the compression flag its definition lacks (byte 16 of its block).
  SetKeysMemoByte(path, 16, jet::kColumnCompressedUnicode);
  const std::vector<RowId> ids = Inserted(path, "Keys", {{int64_t{900001}, Value(), int64_t{1}, true, Text(600, u'q')},
                                                          {int64_t{900002}, Value(), int64_t{1}, true, Text(1100, u'q')}});
  ASSERT_EQ(ids.size(), 2u);
  EXPECT_EQ(CheckedRows(path, "Keys").rows.size(), 3002u);
  EXPECT_EQ(Word(StoredField(path, "Keys", ids[0], "Memo")) & 0x3FFFFFFF, 602u);
  EXPECT_EQ(Word(StoredField(path, "Keys", ids[1], "Memo")) & 0x3FFFFFFF, 2200u);
}

TEST(TableWriter, OleValuesOfAnySizeRoundTrip) {
  COPY_FIXTURE_OR_SKIP("generated/keysV2000.mdb", scratch, path);
  // Make the Memo column an OLE column (byte 0 of its block): its stored values read as bytes.
  SetKeysMemoByte(path, 0, static_cast<uint8_t>(jet::ColumnType::kOle));
  std::vector<std::vector<Value>> blobs;  // ID 800000 + i, blob i of a size either side of each storage kind's limit
  for (size_t size : {0, 64, 65, 4076, 4077, 8144, 8145, 50000}) {
    jet::Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 7919 + size) & 0xFF);
    blobs.push_back({int64_t{800000} + static_cast<int64_t>(blobs.size()), Value(), Value(), false, b});
  }
  ASSERT_EQ(Inserted(path, "Keys", blobs).size(), blobs.size());
  const LoadedTable rows = CheckedRows(path, "Keys");
  ASSERT_EQ(rows.rows.size(), 3000u + blobs.size());
  for (const std::vector<Value>& blob : blobs)
    EXPECT_EQ(FifthOf(rows, std::get<int64_t>(blob[0])), blob[4]) << std::get<jet::Bytes>(blob[4]).size() << " bytes";
}

TEST(TableWriter, RefusesBrokenRulesBeforeChangingAnything) {
  // Table: ID (autonumber, primary key), Unicode (compressible text).
  COPY_FIXTURE_OR_SKIP("access/testUnicodeCompV2003.mdb", scratch, path);
  const std::vector<RowId> rows = CheckedRows(path, "Table").ids;
  ASSERT_EQ(rows.size(), 8u);
  auto refused = [&](const char* what, ErrorCode code, auto body) {
    SCOPED_TRACE(what);
    const std::string before = velloran_test::ReadWholeFile(path);
    jet::Status s = WithTableWriter(path, "Table", [&](jet::TableWriter& w) -> jet::Status {
      const jet::Status inner = body(w);
      EXPECT_EQ(inner.ok() ? std::nullopt : std::optional(inner.error().code()), code) << (inner.ok() ? "accepted" : inner.error().message());
      return jet::Status::Ok();  // commit whatever the refused call changed: it must be nothing
    });
    EXPECT_TRUE(s.ok());
    EXPECT_TRUE(velloran_test::ReadWholeFile(path) == before) << "the file changed";
  };
  refused("duplicate primary key", ErrorCode::kConstraint, [&](jet::TableWriter& w) { return w.Insert({int64_t{3}, T("again")}).status(); });
  refused("autonumber changed", ErrorCode::kInvalidArgument, [&](jet::TableWriter& w) { return w.Update(rows[0], {int64_t{4711}, T("x")}); });
  refused("text longer than its column", ErrorCode::kInvalidArgument,
          [&](jet::TableWriter& w) { return w.Insert({Value(), Text(256, u'x')}).status(); });
  refused("a value of another type", ErrorCode::kInvalidArgument, [&](jet::TableWriter& w) { return w.Insert({Value(), int64_t{1}}).status(); });
  ASSERT_TRUE(WithTableWriter(path, "Table", [&](jet::TableWriter& w) { return w.Delete(rows[1]); }).ok());
  refused("a deleted row", ErrorCode::kInvalidArgument, [&](jet::TableWriter& w) { return w.Delete(rows[1]); });

  // Compressible text is stored compressed. (The autonumber it is given: RandomWrites.)
  const std::vector<RowId> added = Inserted(path, "Table", {{Value(), T("plain ascii text")}});
  ASSERT_EQ(added.size(), 1u);
  EXPECT_EQ(StoredField(path, "Table", added[0], "Unicode"), std::string("\xFF\xFE" "plain ascii text"));
  // NULL and repeated keys in every unique or required index of the fixtures, refused with the
  // file reading as before: RandomWrites.
}

TEST(TableWriter, NewPagesJoinTheOwnedMapAndTheFreeSpaceMapFollowsTheRoom) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const uint32_t pages_before = static_cast<uint32_t>(std::filesystem::file_size(path) / 4096);
  std::vector<std::vector<Value>> songs;
  for (int i = 0; i < 400; ++i) songs.push_back({int64_t{100000 + i}, int64_t{i}, T("DISC"), Text(100, u's'), T("artist"), true, T("0000000000")});
  ASSERT_EQ(Inserted(path, "MyList", songs).size(), 400u);
  EXPECT_EQ(CheckedRows(path, "MyList").rows.size(), 900u);
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, "MyList", false);
  jet::Pager& pager = t.db->pager();
  const std::vector<uint32_t> owned = jet::ReadUsageMap(pager, t.def.owned_pages_map).value(),
                              free = jet::ReadUsageMap(pager, t.def.free_space_map).value();
  std::set<uint32_t> owned_set(owned.begin(), owned.end()), free_set(free.begin(), free.end());
  const uint32_t smallest_row = jet::AssembledRowSize(t.def, std::vector<jet::StoredColumn>(t.def.columns.size()));
  int new_pages = 0;
  for (uint32_t p = pages_before; p < pager.page_count(); ++p) {
    const uint8_t* data = pager.ReadPage(p).value();
    if (data[0] != jet::kPageData || jet::Get32(data + 4) != t.def.page) continue;
    ++new_pages;
    EXPECT_EQ(owned_set.count(p), 1u) << "page " << p;
    // Full pages leave the free-space map; the last one, with room, stays in it.
    uint16_t room = jet::Get16(data + 2);
    EXPECT_EQ(free_set.count(p), room >= smallest_row + 2 ? 1u : 0u) << "page " << p << " with " << room << " bytes free";
  }
  EXPECT_GE(new_pages, 10);
  for (uint32_t p : free_set) EXPECT_EQ(owned_set.count(p), 1u) << "a free page the table does not own";
}

}  // namespace
