// Design operations: a new database next to the one Access 2000 makes, tables of every type with
// every kind of index, the program's song table filled through the table writer, and changes to
// tables that hold rows. Every file is held up to our own check, and to mdbtools and mdb-reader
// where they are installed.
#include <gtest/gtest.h>

#include <map>

#include "jet/schema/create_database.h"
#include "jet/sql/sql_select.h"
#include "jet/pages/index_page.h"
#include "jet/pages/property_map.h"
#include "jet/schema/system_tables.h"
#include "jet/pages/table_def_writer.h"
#include "tests/jet/schema_test_support.h"

namespace {

using namespace schema_test;
using velloran_test::FixturePath;
using velloran_test::ScratchDir;

const std::vector<std::string> kObjectColumns = {"Id", "ParentId", "Name", "Type", "Flags", "Owner"};
const std::vector<std::string> kAceColumns = {"ObjectId", "ACM", "FInheritable", "SID"};

// The rows of a system table as lines of the named columns' values; the object id in the first
// column renamed as `ids` says.
std::multiset<std::string> Lines(jet::Pager& pager, const std::string& table, const std::vector<std::string>& columns,
                                 const std::map<int64_t, int64_t>& ids = {}) {
  jet::TableDef def = TableNamed(pager, table);
  std::multiset<std::string> lines;
  for (const auto& row : ReadRows(pager, def)) {
    std::string line;
    for (const std::string& column : columns) {
      const Value v = jet::ColumnValue(def, row, column);
      const int64_t n = line.empty() && ids.count(IntOf(v)) ? ids.at(IntOf(v)) : IntOf(v);
      const bool* b = std::get_if<bool>(&v);
      line += (line.empty() ? "" : " ") + (b                                       ? std::string(*b ? "1" : "0")
                                           : std::holds_alternative<jet::Bytes>(v) ? Hex(BytesOf(v))
                                           : std::holds_alternative<jet::Text>(v)  ? TextOf(v)
                                                                                   : std::to_string(n));
    }
    lines.insert(line);
  }
  return lines;
}

// The property blob of the object `name`.
std::string PropsOf(jet::Pager& pager, const std::string& name) {
  jet::TableDef d = TableNamed(pager, "MSysObjects");
  for (const auto& row : ReadRows(pager, d))
    if (TextOf(jet::ColumnValue(d, row, "Name")) == name) return BytesOf(jet::ColumnValue(d, row, "LvProp"));
  return std::string();
}

// A new database in `scratch` named `name`, holding `tables`; its path.
std::string NewDatabaseWith(const ScratchDir& scratch, const std::string& name, const std::vector<jet::TableDesign>& tables) {
  const std::string path = scratch.File(name);
  EXPECT_TRUE(jet::CreateDatabase(path).ok());
  EXPECT_OK_LET(db, jet::WritableDatabase::Open(path));
  for (const jet::TableDesign& t : tables) EXPECT_TRUE(db.ok() && jet::CreateTable(*db.value(), t).ok()) << t.name;
  return path;
}

// mdb-export prints `lines` lines (the header and each row) of `table`, when mdbtools is installed.
void ExpectMdbExportLines(const std::string& path, const std::string& table, int lines) {
  if (!Have("mdb-export")) return;
  std::string out;
  EXPECT_EQ(RunCommand("mdb-export '" + path + "' " + table + " | wc -l", &out), 0);
  EXPECT_EQ(std::stoi(out), lines) << "mdb-export of " << table;
}

// A new database holds what an empty Access 2000 database holds, field for field, apart from
// the differences create_database.h explains; our check, mdbtools and mdb-reader all accept it.
TEST(NewDatabase, MatchesAnEmptyAccess2000Database) {
  REQUIRE_SHARED_FIXTURES();
  ScratchDir scratch;
  ASSERT_OK_LET(access, jet::Pager::Open(FixturePath("access/emptyV2000.mdb")));
  std::string path = scratch.path() + "/new.mdb";
  ASSERT_TRUE(jet::CreateDatabase(path, {access.value()->header().creation_date}).ok());
  ASSERT_OK_LET(ours, jet::Pager::Open(path));
  jet::Pager& a = *access.value();
  jet::Pager& o = *ours.value();

  // The whole header page, masked as it is stored.
  EXPECT_EQ(std::memcmp(a.ReadPage(0).value(), o.ReadPage(0).value(), 4096), 0);
  // The four Jet system tables sit where Access puts them, with the same definitions, maps and
  // roots; only the counters that follow the rows differ (Access's file holds more rows).
  for (uint32_t page = 2; page <= 5; ++page) {
    auto theirs = jet::ReadStoredTableDef(a, page), mine = jet::ReadStoredTableDef(o, page);
    ASSERT_TRUE(theirs.ok() && mine.ok());
    theirs->def.row_count = mine->def.row_count;
    for (size_t i = 0; i < mine->def.physical_indexes.size(); ++i) {
      theirs->def.physical_indexes[i].unique_entry_count = mine->def.physical_indexes[i].unique_entry_count;
      // Access leaves stale memory in these two fields.
      mine->extras.physical[i].unused_slot_flags = theirs->extras.physical[i].unused_slot_flags;
      mine->extras.physical[i].after_root = theirs->extras.physical[i].after_root;
    }
    auto a_bytes = jet::EncodeTableDef(a.format(), theirs->def, theirs->extras);
    auto o_bytes = jet::EncodeTableDef(o.format(), mine->def, mine->extras);
    EXPECT_EQ(Hex(a_bytes.value()), Hex(o_bytes.value())) << "definition at page " << page;
  }
  // Global usage map page: the same shape (two map rows).
  EXPECT_EQ(jet::Get16(a.ReadPage(1).value() + 12), jet::Get16(o.ReadPage(1).value() + 12));

  const jet::TableDef access_objects = TableNamed(o, "MSysAccessObjects");
  const std::map<int64_t, int64_t> theirs_to_ours = {{15, access_objects.page}};
  EXPECT_EQ(Design(access_objects), Design(jet::ReadTableDef(a, 15).value()));

  const std::set<std::string> access_only = {"AccessLayout", "SummaryInfo", "UserDefined"};
  std::multiset<std::string> expected_objects, expected_aces;
  std::set<std::string> access_only_ids;
  for (const std::string& line : Lines(a, "MSysObjects", kObjectColumns, theirs_to_ours)) {
    std::string name = line.substr(line.find(' ', line.find(' ') + 1) + 1);
    name = name.substr(0, name.find(' '));
    if (access_only.count(name)) access_only_ids.insert(line.substr(0, line.find(' ')));
    else expected_objects.insert(line);
  }
  EXPECT_EQ(Lines(o, "MSysObjects", kObjectColumns), expected_objects);
  // Access's file grants rights to more users (longer SIDs) and to its own objects.
  for (const std::string& line : Lines(a, "MSysACEs", kAceColumns, theirs_to_ours))
    if (line.size() - line.rfind(' ') <= 5 && !access_only_ids.count(line.substr(0, line.find(' ')))) expected_aces.insert(line);
  EXPECT_EQ(Lines(o, "MSysACEs", kAceColumns), expected_aces);

  // MSysDb's properties, byte for byte.
  EXPECT_EQ(Hex(PropsOf(o, "MSysDb")), Hex(PropsOf(a, "MSysDb")));
  ASSERT_OK_LET(decoded, jet::DecodePropertyBlob(PropsOf(o, "MSysDb")));
  EXPECT_EQ(decoded->at(0).properties.at(0).name, "AccessVersion");
  EXPECT_EQ(decoded->at(0).properties.at(0).value, std::string("0\0" "8\0.\0" "5\0" "0\0", 10));
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  // Not MSysAccessObjects: mdb-reader 3.2 knows no column type 0x11 and refuses that table in
  // Access's own empty database as well.
  ExpectMdbReaderAgrees(path, {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"});
  if (Have("mdb-ver")) {
    std::string version, tables;
    EXPECT_EQ(RunCommand("mdb-ver '" + path + "'", &version), 0);
    EXPECT_EQ(version, "JET4\n");
    EXPECT_EQ(RunCommand("mdb-tables -1 '" + path + "'", &tables), 0);
    EXPECT_EQ(tables, "");
  }
}

TEST(NewDatabase, NeverWritesOverAFileAndLeavesNothingBehind) {
  ScratchDir scratch;
  std::string path = scratch.path() + "/songs.mdb";
  { std::ofstream(path) << "precious"; }
  ASSERT_TRUE(velloran_test::FailsWith(jet::CreateDatabase(path), jet::ErrorCode::kInvalidArgument, {"already exists"}));
  EXPECT_EQ(ReadWholeFile(path), "precious");
  EXPECT_FALSE(jet::CreateDatabase(scratch.File("b.mdb"), {-5}).ok());  // a negative creation date
  ASSERT_TRUE(jet::CreateDatabase(scratch.path() + "/fresh.mdb").ok());
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(scratch.path())) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"fresh.mdb", "songs.mdb"}));  // no temporary file, no journal
  // (The header of a new database, byte for byte: MatchesAnEmptyAccess2000Database.)
}

// A table of every type the reader knows, with a plain, a unique, a primary, a two-column, a
// descending, a shared and a Binary index.
jet::TableDesign EverythingTable() {
  using T = ColumnType;
  return {"Everything",
          {{.name = "ID", .type = T::kLong, .autonumber = true}, {.name = "Title", .type = T::kText, .size = 120, .allow_zero_length = false},
           {.name = "Code", .type = T::kText, .size = 10, .required = true, .compressed_unicode = false}, Column("Notes", T::kMemo),
           Column("Flag", T::kBoolean), Column("Tiny", T::kByte), Column("Small", T::kInteger), Column("Price", T::kCurrency),
           Column("Ratio", T::kSingle), Column("Exact", T::kDouble), Column("Added", T::kDateTime), Column("Key", T::kGuid),
           Column("Raw", T::kBinary, 16), Column("Picture", T::kOle), {.name = "Amount", .type = T::kDecimal, .precision = 12, .scale = 2}},
          {Index("PrimaryKey", {{"ID"}}, true), Index("Title", {{"Title"}}), Index("Code", {{"code"}}, false, true),
           Index("TitleCode", {{"Title"}, {"Code"}}), Index("Newest", {{"Added", false}}), Index("TitleToo", {{"TITLE"}}),
           Index("Raw", {{"Raw", false}})}};
}

std::vector<Value> EverythingRow(int i) {
  jet::Guid guid;
  guid.bytes[0] = static_cast<uint8_t>(i);
  jet::Decimal amount;
  amount.scale = 2;
  amount.precision = 12;
  amount.magnitude = {static_cast<uint32_t>(i * 12345), static_cast<uint32_t>(i % 3 == 0 ? 200 : 0), 0, 0};
  amount.negative = i % 2 == 1;
  // Odd rows take values at the far ends of their types: signs and high bytes must survive.
  const bool extreme = i % 2 == 1;
  return {Value(jet::Null{}), Value(jet::FromUtf8("Title " + std::to_string(i % 7))), Value(jet::FromUtf8("C" + std::to_string(i))),
          Value(jet::FromUtf8(std::string(static_cast<size_t>(i * 40), 'n'))), Value(i % 2 == 0), Value(int64_t{(i * 17) % 256}),
          Value(int64_t{extreme ? -32768 + i : -i}), Value(jet::Currency{extreme ? -922337203685477000LL + i : i * 10000LL}),
          Value(extreme ? -3.0e38f / static_cast<float>(i) : static_cast<float>(i) / 4), Value(extreme ? -1.0e300 * i : i * 1.5),
          Value(jet::DateTime{40000.0 + i}), Value(guid), Value(jet::Bytes("raw" + std::to_string(i) + std::string(static_cast<size_t>(i % 12), 'x'))),
          Value(jet::Bytes(std::string(static_cast<size_t>(i * 100), 'o'))), Value(amount)};
}

TEST(CreateTable, EveryColumnTypeAndIndexKind) {
  ScratchDir scratch;
  const std::string path = NewDatabaseWith(scratch, "types.mdb", {EverythingTable()});
  ASSERT_FALSE(HasFailure());
  ASSERT_OK_LET(pager, jet::Pager::Open(path));
  jet::TableDef def = TableNamed(*pager.value(), "Everything");
  EXPECT_EQ(Design(def),
            "ID Long #0 len 4 flags 7/0; Title Text #1 len 240 flags 2/1; Code Text #2 len 20 flags 2/0; "
            "Notes Memo #3 len 0 flags 2/1; Flag Boolean #4 len 1 flags 3/0; Tiny Byte #5 len 1 flags 3/0; "
            "Small Integer #6 len 2 flags 3/0; Price Currency #7 len 8 flags 3/0; Ratio Single #8 len 4 flags 3/0; "
            "Exact Double #9 len 8 flags 3/0; Added DateTime #10 len 8 flags 3/0; Key GUID #11 len 16 flags 3/0; "
            "Raw Binary #12 len 16 flags 2/0; Picture OLE #13 len 0 flags 2/0; Amount Decimal #14 len 17 flags 3/0; "
            "PrimaryKey #0 -> 0 (0+) t1 f137; Title #1 -> 1 (1+) t0 f128; Code #2 -> 2 (2+) t0 f129; "
            "TitleCode #3 -> 3 (1+2+) t0 f128; Newest #4 -> 4 (10-) t0 f128; TitleToo #5 -> 1 (1+) t0 f128; "
            "Raw #6 -> 5 (12-) t0 f128; ");
  // (Where each column lies in a row: the rows below read back, and read by mdb-reader, as written.)
  // (A Decimal's precision and scale: the rows below read back with them. Each index's root page,
  // its owner and entries: the check once the rows are in.)
  for (const jet::PhysicalIndex& index : def.physical_indexes)
    EXPECT_EQ(jet::ReadUsageMap(*pager.value(), index.usage_map).value(), std::vector<uint32_t>{index.root_page});

  const std::string page = std::to_string(def.page);
  EXPECT_EQ(Lines(*pager.value(), "MSysObjects", kObjectColumns)
                .count(page + " " + std::to_string(jet::kTablesContainerId) + " Everything 1 0 " + Hex(jet::kAdminUserSid)), 1u);
  ASSERT_OK_LET(props, jet::DecodePropertyBlob(PropsOf(*pager.value(), "Everything")));
  std::map<std::string, std::string> flags;
  for (const jet::PropertySet& set : props.value())
    for (const jet::Property& p : set.properties) flags[set.object + "." + p.name] = p.value;
  EXPECT_EQ(props->size(), 15u);
  for (const auto& [key, value] : std::map<std::string, char>{{"Title.AllowZeroLength", 0}, {"Notes.AllowZeroLength", 1},
                                                              {"Code.Required", 1}, {"ID.Required", 0}})
    EXPECT_EQ(flags[key], std::string(1, value)) << key;
  std::multiset<std::string> grants;
  for (const std::string& line : Lines(*pager.value(), "MSysACEs", kAceColumns))
    if (line.rfind(page + " ", 0) == 0) grants.insert(line);
  EXPECT_EQ(grants, (std::multiset<std::string>{page + " 1048575 0 a633", page + " 1048575 0 a733", page + " 1048575 0 a736"}));
  pager.value().reset();

  ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
  std::vector<std::vector<Value>> rows;
  for (int i = 1; i <= 60; ++i) rows.push_back(EverythingRow(i));
  ASSERT_OK_LET(inserted, InsertAll(*db.value(), "Everything", rows));
  ASSERT_TRUE(velloran_test::FailsWith(InsertAll(*db.value(), "Everything", {EverythingRow(5)}), jet::ErrorCode::kConstraint));  // Code "C5" again
  db.value().reset();
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  for (size_t i = 0; i < rows.size(); ++i) rows[i][0] = int64_t(i + 1);  // the autonumbers
  EXPECT_EQ(velloran_test::LoadTable(path, "Everything").rows, rows);
  {  // A SELECT decodes each value where the previous row's was: the same values, signs and all.
    ASSERT_OK_LET(reading, jet::Database::Open(path));
    ASSERT_OK_LET(select, jet::ExecuteSelect(*reading.value(), "SELECT * FROM Everything"));
    for (const std::vector<Value>& row : rows) {
      ASSERT_OK_LET(more, select.value()->Next());
      ASSERT_TRUE(more.value());
      EXPECT_EQ(select.value()->values(), row);
    }
  }
  ExpectMdbExportLines(path, "Everything", 61);
  ExpectMdbReaderAgrees(path, {"Everything", "MSysObjects", "MSysACEs"});
}

TEST(CreateTable, NamesFollowAccessRulesAndRefusalsChangeNothing) {
  ScratchDir scratch;
  const std::string path = NewDatabaseWith(scratch, "names.mdb", {EverythingTable()});
  ASSERT_FALSE(HasFailure());
  const std::string before = ReadWholeFile(path);
  ASSERT_OK_LET(opened, jet::WritableDatabase::Open(path));
  jet::WritableDatabase& db = *opened.value();
  // A host with several catalogues open must be told which one refused.
  auto refused = [&](const jet::Status& s, const std::string& words, jet::ErrorCode code = jet::ErrorCode::kInvalidArgument) {
    return velloran_test::FailsWith(s, code, {words, path});
  };
  const std::vector<std::pair<std::string, std::string>> bad = {
      {"", "needs a name"}, {std::string(65, 'x'), "longer than 64"}, {"Songs.old", "'.'"}, {"Hits!", "'!'"},
      {"a`b", "'`'"}, {"[Songs]", "'['"}, {"Songs]", "']'"}, {" Songs", "starts with a blank"}, {"Tab\tName", "control character"}};
  for (const auto& [name, why] : bad) {
    jet::TableDesign table{name, {Column("A", ColumnType::kLong)}, {}};
    EXPECT_TRUE(refused(jet::CreateTable(db, table), why)) << "table \"" << name << "\"";
    EXPECT_TRUE(refused(jet::AddColumn(db, "Everything", Column(name, ColumnType::kLong)), why));
    EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index(name, {{"Tiny"}})), why));
  }
  EXPECT_TRUE(refused(jet::CreateTable(db, {"EVERYTHING", {Column("A", ColumnType::kLong)}, {}}), "already exists"));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"msysobjects", {Column("A", ColumnType::kLong)}, {}}), "already exists"));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"Twice", {Column("Title", ColumnType::kLong), Column("TITLE", ColumnType::kText)}, {}}), "twice"));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"Greek", {Column("Ωμέγα", ColumnType::kLong), Column("ωΜΈΓΑ", ColumnType::kLong)}, {}}), "twice"));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"NoColumns", {}, {}}), "at least one column"));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"BadIndex", {Column("A", ColumnType::kLong)}, {Index("I", {{"B"}})}}), "no column \"B\"", jet::ErrorCode::kNotFound));
  EXPECT_TRUE(refused(jet::CreateTable(db, {"Short", {Column("A", ColumnType::kText, 256)}, {}}), "1 to 255"));
  EXPECT_TRUE(refused(jet::AddColumn(db, "Everything", Column("title", ColumnType::kLong)), "already has a column"));
  EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index("title", {{"Tiny"}})), "already has an index"));
  EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index("Second", {{"Tiny"}}, true)), "primary key"));
  EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index("ByNotes", {{"Notes"}})), "cannot be indexed"));
  std::vector<jet::IndexColumnDesign> eleven;
  for (const char* c : {"ID", "Title", "Code", "Flag", "Tiny", "Small", "Price", "Ratio", "Exact", "Added", "Key"}) eleven.push_back({c});
  EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index("Wide", eleven)), "1 to 10 columns"));
  EXPECT_TRUE(refused(jet::AddIndex(db, "Everything", Index("Twice", {{"Tiny"}, {"tiny"}})), "twice"));
  EXPECT_TRUE(refused(jet::DropTable(db, "MSysACEs"), "system table"));
  EXPECT_TRUE(refused(jet::AddColumn(db, "MSysObjects", Column("More", ColumnType::kLong)), "system table"));
  EXPECT_TRUE(refused(jet::DropTable(db, "Nowhere"), "no table", jet::ErrorCode::kNotFound));
  EXPECT_TRUE(refused(jet::DropColumn(db, "Everything", "Nowhere"), "no column", jet::ErrorCode::kNotFound));
  EXPECT_TRUE(refused(jet::DropIndex(db, "Everything", "Nowhere"), "no index", jet::ErrorCode::kNotFound));
  EXPECT_TRUE(refused(jet::DropColumn(db, "Everything", "code"), "part of index"));
  opened.value().reset();
  EXPECT_TRUE(ReadWholeFile(path) == before) << "a refused change altered the file";  // every refusal left the file as it was

  auto again = jet::WritableDatabase::Open(path);
  std::string longest(64, 'L');
  EXPECT_TRUE(jet::CreateTable(*again.value(), {longest, {Column("Größe Ä", ColumnType::kLong)}, {}}).ok());
  EXPECT_TRUE(jet::CreateTable(*again.value(), {"Lieder und Künstler", {Column("Titel", ColumnType::kText)}, {}}).ok());
  again.value().reset();
  EXPECT_EQ(Problems(path), std::vector<std::string>());
}

jet::TableDesign SongTable() {
  return {"MyList",
          {{.name = "ID", .type = ColumnType::kLong, .autonumber = true}, Column("SongNumber", ColumnType::kLong), Column("DiskID", ColumnType::kText),
           Column("Song", ColumnType::kText), Column("Artist", ColumnType::kText), Column("PrintYN", ColumnType::kBoolean),
           Column("HotlistA", ColumnType::kText, 10)},
          {Index("PrimaryKey", {{"ID"}}, true), Index("SongNumber", {{"SongNumber"}}), Index("Song", {{"Song"}}),
           Index("Artist", {{"Artist"}}), Index("HotlistA", {{"HotlistA"}})}};
}

std::vector<Value> Song(int i) {
  static const char* words[] = {"Love", "Night", "Rain", "Ça plane", "Être", "Straße", "Zoë", "Señor", "Dream", "Fire"};
  std::string title = std::string(words[i % 10]) + " " + words[(i / 10) % 10] + " " + std::to_string(i % 997);
  Value hotlist = i % 5 == 0 ? Value(jet::FromUtf8("Fav" + std::to_string(i % 3))) : Value(jet::Null{});
  return {Value(jet::Null{}), Value(int64_t{(i * 7919) % 250000}), Value(jet::FromUtf8("SC" + std::to_string(1000 + i % 4000))),
          Value(jet::FromUtf8(title)), Value(jet::FromUtf8(std::string("Artist ") + words[i % 7] + " " + std::to_string(i % 1500))),
          Value(i % 3 == 0), hotlist};
}

// The program's own table, created here and filled through the table writer, passes the check
// that verifies every stored index key against its row; its pages outgrow what an inline usage map
// can list, so the map turns into a reference map on the way.
TEST(SongTable, ManySongsThroughTheTableWriterPassCheck) {
  const int kSongs = 30000;
  ScratchDir scratch;
  const std::string path = NewDatabaseWith(scratch, "songs.mdb", {SongTable()});
  jet::Status filled = velloran_test::WithTableWriter(path, "MyList", [&](jet::TableWriter& writer) -> jet::Status {
    for (int i = 0; i < kSongs; ++i) JET_RETURN_IF_ERROR(writer.Insert(Song(i)).status());
    return jet::Status::Ok();
  });
  ASSERT_TRUE(filled.ok()) << filled.error().message();
  EXPECT_EQ(Problems(path), std::vector<std::string>());
  auto pager = jet::Pager::Open(path);
  jet::TableDef def = TableNamed(*pager.value(), "MyList");
  EXPECT_EQ(def.row_count, static_cast<uint32_t>(kSongs));
  ASSERT_OK_LET(map, jet::ReadRowSlot(*pager.value(), jet::RowPointerPage(def.owned_pages_map), jet::RowPointerRow(def.owned_pages_map)));
  EXPECT_EQ(map->bytes[0], jet::kUsageMapReference) << "the table's pages still fit an inline map";
  EXPECT_EQ(ReadRows(*pager.value(), def).size(), static_cast<size_t>(kSongs)) << "read through the reference map";
  ExpectMdbExportLines(path, "MyList", kSongs + 1);
}

// The design commands of velloran-jet, end to end: each change lands, each mistake is a message
// and exit code 2 that leaves the file alone.
TEST(DesignCommands, BuildAndChangeATableFromTheCommandLine) {
  ScratchDir scratch;
  const std::string path = scratch.path() + "/cli songs.mdb";
  auto tool = [&](const std::string& args, std::string* out) {
    out->clear();
    return RunCommand(std::string(VELLORAN_JET_TOOL) + " " + args + " 2>&1", out);
  };
  const std::string file = "'" + path + "'";
  std::string out;
  ASSERT_EQ(tool("create " + file, &out), 0) << out;
  EXPECT_EQ(tool("create " + file, &out), 2);
  EXPECT_NE(out.find("already exists"), std::string::npos) << out;
  for (const std::string& change : {"create-table " + file + " MyList ID:autonumber SongNumber:long DiskID:text:255 Song:text "
                                    "Artist:text PrintYN:yesno HotlistA:text:10:nozerolength Notes:memo",
                                    "add-index " + file + " MyList PrimaryKey ID --primary",
                                    "add-index " + file + " MyList ArtistSong Artist Song:desc",
                                    "add-index " + file + " MyList SongNumber SongNumber --unique",
                                    "add-column " + file + " MyList Plays:integer", "drop-column " + file + " MyList Notes",
                                    "drop-index " + file + " MyList SongNumber"}) {
    ASSERT_EQ(tool(change, &out), 0) << change << ": " << out;
  }
  const std::string before = ReadWholeFile(path);
  for (const std::string& wrong : {"create-table " + file + " Other A:nosuchtype", "create-table " + file + " Other A:text:999",
                                   "add-index " + file + " MyList X Song --sideways", "add-index " + file + " MyList X Song:up",
                                   "drop-column " + file + " MyList Song", "drop-table " + file + " MSysObjects",
                                   "add-column " + file + " MyList", "create-table " + file + " Bad.Name A:long"}) {
    EXPECT_EQ(tool(wrong, &out), 2) << wrong;
    EXPECT_NE(out.find("velloran-jet:"), std::string::npos) << wrong << ": " << out;
  }
  EXPECT_TRUE(ReadWholeFile(path) == before) << "a refused command changed the file";
  ASSERT_EQ(tool("schema " + file + " MyList", &out), 0) << out;
  for (const char* shown : {"column ID Long autonumber", "index ArtistSong (Artist, Song DESC)", "index PrimaryKey (ID) primary unique required"})
    EXPECT_NE(out.find(shown), std::string::npos) << out;
  for (const char* gone : {"Notes", "index SongNumber"}) EXPECT_EQ(out.find(gone), std::string::npos) << out;
  ASSERT_EQ(tool("check " + file, &out), 0) << out;
  ASSERT_EQ(tool("drop-table " + file + " mylist", &out), 0) << out;
  ASSERT_EQ(tool("tables " + file, &out), 0) << out;
  EXPECT_EQ(out, "");
  EXPECT_EQ(Problems(path), std::vector<std::string>());
}

}  // namespace
