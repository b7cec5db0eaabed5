// Rows named by one column's value, as `velloran-jet update` and `delete` name them: an index seek
// finds exactly the rows that reading every row finds, and a delete by the command or by SQL
// takes exactly those.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/check/integrity_check.h"
#include "jet/row_editor.h"
#include "jet/row_lookup.h"
#include "jet/row_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Value;

Value T(const char* s) { return jet::FromUtf8(s); }

// The rows holding `wanted` in `column`, found by a seek (or the scan) inside a write that changes nothing.
jet::Result<jet::FoundRows> Find(jet::Database& db, const std::string& column, const Value& wanted, bool use_indexes) {
  jet::FoundRows found;
  jet::Status s = db.Write([&]() -> jet::Status {
    JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable("MyList"));
    JET_ASSIGN_OR_RETURN(auto writer, jet::RowWriter::Open(db.pager(), def));
    const size_t at = static_cast<size_t>(def.FindColumn(column) - def.columns.data());
    JET_ASSIGN_OR_RETURN(found, jet::FindRowsByValue(db.pager(), def, *writer, at, wanted, use_indexes));
    std::sort(found.rows.begin(), found.rows.end(), [](auto a, auto b) { return std::tie(a.page, a.row) < std::tie(b.page, b.row); });
    return jet::Status::Ok();
  });
  if (!s.ok()) return s.error();
  return found;
}

TEST(RowLookup, SeekFindsWhatTheScanFindsAndDeleteTakesThem) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", dir, songs);
  {
    // Artists that differ only in letter case, accents and trailing blanks, one without an artist.
    ASSERT_OK_LET(db, jet::WritableDatabase::Open(songs));
    const std::vector<std::pair<int64_t, Value>> added = {{9001, T("Señor Loco")}, {9002, T("SEÑOR LOCO")},
                                                          {9003, T("señor loco  ")}, {9004, T("Senor Loco")},
                                                          {9005, jet::Null{}}};
    ASSERT_TRUE(db.value()->Write([&]() -> jet::Status {
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db.value()->ReadTable("MyList"));
      JET_ASSIGN_OR_RETURN(auto editor, jet::RowEditor::Open(*db.value(), def));
      for (const auto& [id, artist] : added)
        JET_RETURN_IF_ERROR(editor->Insert({id, 50000 + id, T("SC-TEST"), T("Song"), artist, false, T("0")}).status());
      return jet::Status::Ok();
    }).ok());
  }
  struct Case {
    const char* column;
    const char* text;  // as the command line takes it; "" is NULL
    Value wanted;
    const char* index;  // the index that finds them; "" where every row is read
    size_t rows;
    const char* where;  // the same rows in SQL
  };
  const Case cases[] = {
      {"ID", "9002", int64_t{9002}, "PrimaryKey", 1, "ID = 9002"},                 // unique index
      {"ID", "77777777", int64_t{77777777}, "PrimaryKey", 0, "ID = 77777777"},     // no match
      {"ID", "", jet::Null{}, "", 13, "ID IS NULL"},                               // the songs without an ID
      {"SongNumber", "1002", int64_t{1002}, "SongNumber", 1, "SongNumber = 1002"}, // index allowing duplicates
      {"Artist", "señor loco", T("señor loco"), "Artist", 3, "Artist = 'señor loco'"},  // letter case, trailing blanks
      {"Artist", "Senor Loco", T("Senor Loco"), "Artist", 1, "Artist = 'Senor Loco'"},  // an accent counts
      {"Artist", "", jet::Null{}, "", 15, "Artist IS NULL"},                       // 14 songs of the fixture and one added
      {"DiskID", "sc-test", T("sc-test"), "", 5, "DiskID = 'sc-test'"},            // no index
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.column) + "=" + c.text);
    const std::string path = dir.File("case.mdb");
    std::filesystem::copy_file(songs, path, std::filesystem::copy_options::overwrite_existing);
    ASSERT_OK_LET(db, jet::WritableDatabase::Open(path));
    ASSERT_OK_LET(seek, Find(*db.value(), c.column, c.wanted, true));
    ASSERT_OK_LET(scan, Find(*db.value(), c.column, c.wanted, false));
    EXPECT_EQ(seek.value().index, c.index);
    EXPECT_EQ(scan.value().index, "");
    EXPECT_EQ(seek.value().rows.size(), c.rows);
    EXPECT_TRUE(seek.value().rows == scan.value().rows);
    const uint64_t before = db.value()->ReadTable("MyList").value().row_count;
    db.value().reset();

    // The command's delete and the SQL tool's take exactly those rows.
    const std::string tool = std::string(VELLORAN_JET_TOOL) + " ";
    for (const std::string& command : {tool + "delete " + velloran_test::ShellQuote(path) + " MyList " +
                                           velloran_test::ShellQuote(std::string(c.column) + "=" + c.text),
                                       tool + "sql " + velloran_test::ShellQuote(path) + " " +
                                           velloran_test::ShellQuote(std::string("DELETE FROM MyList WHERE ") + c.where)}) {
      SCOPED_TRACE(command);
      std::filesystem::copy_file(songs, path, std::filesystem::copy_options::overwrite_existing);
      std::string out;
      const int code = velloran_test::RunCommand(command + " 2>&1", &out);
      EXPECT_NE(out.find("deleted " + std::to_string(c.rows) + " row"), std::string::npos) << out;
      EXPECT_EQ(code, c.rows == 0 && command.find(" sql ") == std::string::npos ? 1 : 0) << out;
      ASSERT_OK_LET(after, jet::WritableDatabase::Open(path));
      EXPECT_EQ(after.value()->ReadTable("MyList").value().row_count, before - c.rows);
      ASSERT_OK_LET(left, Find(*after.value(), c.column, c.wanted, false));
      EXPECT_TRUE(left.value().rows.empty());
      EXPECT_EQ(jet::CheckDatabase(*after.value()), std::vector<std::string>{});
    }
  }
}

}  // namespace
