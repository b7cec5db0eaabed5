// A search for texts in titles and artists through the folded texts kept per file state must
// find exactly the rows, in exactly the order, that reading and testing every row finds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/sql/sql_select.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Value;
using velloran_test::ScratchDir;

struct Found {
  std::vector<std::vector<Value>> rows;
  std::vector<uint64_t> places;
  std::string plan;
  bool operator==(const Found& o) const { return rows == o.rows && places == o.places; }
};

Found Search(jet::Database& db, const std::string& sql, bool folded) {
  jet::ReadLock lock(db);
  Found found;
  auto cursor = jet::ExecuteSelect(db, sql, jet::SelectOptions{folded, 0, folded});
  EXPECT_TRUE(cursor.ok()) << sql << ": " << (cursor.ok() ? "" : cursor.error().message());
  if (!cursor.ok()) return found;
  found.plan = cursor.value()->plan();
  while (true) {
    auto more = cursor.value()->Next();
    EXPECT_TRUE(more.ok()) << sql;
    if (!more.ok() || !more.value()) return found;
    found.rows.push_back(cursor.value()->values());
    found.places.push_back(uint64_t{cursor.value()->row_id().page} << 8 | cursor.value()->row_id().row);
  }
}

jet::TableDesign Songs() {
  auto column = [](const char* name, jet::ColumnType type) {
    jet::ColumnDesign c;
    c.name = name;
    c.type = type;
    c.size = 255;
    return c;
  };
  jet::IndexDesign song{"Song", {{"Song"}}};
  return {"Songs",
          {column("ID", jet::ColumnType::kLong), column("Song", jet::ColumnType::kText), column("Artist", jet::ColumnType::kText)},
          {song}};
}

// Pieces of texts: letters in both cases and accented, the LIKE wildcards, quotes, digits, a
// full-width letter, and characters outside Latin-1.
const char* const kPieces[] = {"a", "A", "e", "é", "É", "è", "ß", "ñ", "Ñ", "ö", "Ö", "*", "#", "'", "1", "7",
                               " ", "x", "love", "LOVE", "Ａ", "œ", "Œ", "ж", "Ж", "-", "?"};

std::string RandomText(std::mt19937& random, int most) {
  std::string s;
  for (int n = static_cast<int>(random() % static_cast<unsigned>(most + 1)); n > 0; --n) s += kPieces[random() % std::size(kPieces)];
  return s;
}

// Adds `count` songs; with `delete_every`, deletes every n-th of them in the same write, leaving
// pages with empty slots among their rows.
void AddSongs(jet::WritableDatabase& db, std::mt19937& random, int count, int first_id, int delete_every = 0) {
  ASSERT_TRUE(db.Write([&]() -> jet::Status {
                  JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable("Songs"));
                  JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
                  std::vector<jet::RowId> doomed;
                  for (int i = 0; i < count; ++i) {
                    auto text = [&]() -> Value {
                      const unsigned roll = random() % 20;
                      if (roll == 0) return jet::Null{};
                      if (roll == 1) return jet::Text();
                      return jet::FromUtf8(RandomText(random, 6));
                    };
                    Value song = text(), artist = text();
                    JET_ASSIGN_OR_RETURN(jet::RowId id, writer->Insert({int64_t{first_id + i}, song, artist}));
                    if (delete_every > 0 && i % delete_every == 0) doomed.push_back(id);
                  }
                  for (jet::RowId id : doomed) JET_RETURN_IF_ERROR(writer->Delete(id));
                  return jet::Status::Ok();
                }).ok());
}

TEST(FoldedSearch, FindsWhatReadingEveryRowFinds) {
  ScratchDir scratch;
  std::mt19937 random(1906);
  const char* const orders[] = {" ORDER BY [Song], [Artist]", " ORDER BY [Artist] DESC, [Song]", " ORDER BY [Song]",
                                " ORDER BY [ID]", ""};
  std::set<std::string> plans;
  for (int catalogue = 0; catalogue < 3; ++catalogue) {
    const std::string path = scratch.File("songs" + std::to_string(catalogue) + ".mdb");
    ASSERT_TRUE(jet::CreateDatabase(path).ok());
    auto db = jet::WritableDatabase::Open(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE(jet::CreateTable(*db.value(), Songs()).ok());
    AddSongs(*db.value(), random, 200 + static_cast<int>(random() % 1500), 1, catalogue == 2 ? 5 : 0);
    for (int search = 0; search < 60; ++search) {
      // As the search box makes it: quotes doubled, the text between '*'.
      std::string text, other;
      for (char c : RandomText(random, 3)) text += c == '\'' ? std::string("''") : std::string(1, c);
      for (char c : RandomText(random, 2)) other += c == '\'' ? std::string("''") : std::string(1, c);
      // Now and then another text in artists than in titles: one found in the other column does not count.
      const std::string sql = "SELECT * FROM [Songs] WHERE [Song] LIKE '*" + text + "*' OR [Artist] LIKE '*" +
                              (random() % 4 == 0 ? other : text) + "*'" + orders[random() % std::size(orders)];
      const Found fast = Search(*db.value(), sql, true), plain = Search(*db.value(), sql, false);
      EXPECT_EQ(fast, plain) << sql << " (" << fast.plan << ": " << fast.rows.size() << " rows, read: " << plain.rows.size() << ")";
      plans.insert(fast.plan);
    }
  }
  // Sorting the matches and walking the kept order for them both took part.
  EXPECT_TRUE(plans.count("folded texts, then sort"));
  EXPECT_TRUE(plans.count("folded texts in their kept order"));
  EXPECT_TRUE(plans.count("folded texts"));
}

TEST(FoldedSearch, SeesAChangeAnotherProgramWrote) {
  ScratchDir scratch;
  const std::string path = scratch.File("songs.mdb");
  ASSERT_TRUE(jet::CreateDatabase(path).ok());
  std::mt19937 random(7);
  {
    auto db = jet::WritableDatabase::Open(path);
    ASSERT_TRUE(db.ok());
    ASSERT_TRUE(jet::CreateTable(*db.value(), Songs()).ok());
    AddSongs(*db.value(), random, 300, 1);
  }
  auto reader = jet::Database::Open(path);
  ASSERT_TRUE(reader.ok());
  const std::string sql = "SELECT [ID] FROM [Songs] WHERE [Song] LIKE '*zebra*' OR [Artist] LIKE '*zebra*'";
  EXPECT_TRUE(Search(*reader.value(), sql, true).rows.empty());
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto db = jet::WritableDatabase::Open(path);
    bool ok = db.ok() && db.value()->Write([&]() -> jet::Status {
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db.value()->ReadTable("Songs"));
      JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.value()->pager(), def));
      return writer->Insert({int64_t{1000}, jet::FromUtf8("Zebra Crossing"), jet::Null{}}).status();
    }).ok();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const Found after = Search(*reader.value(), sql, true);
  ASSERT_EQ(after.rows.size(), 1u);
  EXPECT_EQ(after.rows[0][0], Value(int64_t{1000}));
}

}  // namespace
