// A search for texts in titles and artists through the folded texts kept per file state must
// find exactly the rows, in exactly the order, that reading and testing every row finds.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/sql/bulk_digest.h"
#include "jet/sql/byte_folder.h"
#include "jet/sql/folded_search.h"
#include "jet/sql/kept_texts.h"
#include "jet/sql/later_folds.h"
#include "jet/sql/sql_select.h"
#include "jet/text/text_fold.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/schema_test_support.h"

namespace {

using jet::Value;
using velloran_test::ScratchDir;

struct Found {
  std::vector<std::vector<Value>> rows;
  std::vector<jet::RowId> places;
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
    found.places.push_back(cursor.value()->row_id());
  }
}

// A new database at `path` holding an empty table of songs (ID, Song, Artist; Song indexed), open for writing.
std::unique_ptr<jet::WritableDatabase> NewSongs(const std::string& path) {
  using schema_test::Column;
  EXPECT_TRUE(jet::CreateDatabase(path).ok());
  auto db = jet::WritableDatabase::Open(path);
  const jet::TableDesign songs{"Songs",
                               {Column("ID", jet::ColumnType::kLong), Column("Song", jet::ColumnType::kText), Column("Artist", jet::ColumnType::kText)},
                               {schema_test::Index("Song", {{"Song"}})}};
  EXPECT_TRUE(db.ok() && jet::CreateTable(*db.value(), songs).ok());
  return db.ok() ? std::move(db).value() : nullptr;
}

// The search through the folded texts finds what reading every row finds; returns its plan.
std::string ExpectSameAsReading(jet::Database& db, const std::string& sql, const std::string& when = "") {
  const Found fast = Search(db, sql, true), plain = Search(db, sql, false);
  EXPECT_EQ(fast, plain) << when << ": " << sql << " (" << fast.plan << ": " << fast.rows.size() << " rows, read: " << plain.rows.size() << ")";
  return fast.plan;
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
// pages with empty slots among their rows; each text after `padding` x's.
void AddSongs(jet::WritableDatabase& db, std::mt19937& random, int count, int first_id, int delete_every = 0, size_t padding = 0) {
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
                    for (Value* v : {&song, &artist}) {
                      if (jet::Text* t = std::get_if<jet::Text>(v)) t->insert(0, padding, u'x');
                    }
                    JET_ASSIGN_OR_RETURN(jet::RowId id, writer->Insert({int64_t{first_id + i}, song, artist}));
                    if (delete_every > 0 && i % delete_every == 0) doomed.push_back(id);
                  }
                  for (jet::RowId id : doomed) JET_RETURN_IF_ERROR(writer->Delete(id));
                  return jet::Status::Ok();
                }).ok());
}

// While it lives, every table of more than one page is folded on two threads, half its pages on
// each, and every search looks through its texts on two, as the program does for a large one.
struct FoldedOnTwoThreads {
  FoldedOnTwoThreads() {
    jet::FoldOnOneThreadUpTo(1);
    jet::ScanOnOneThreadUpTo(1);
  }
  ~FoldedOnTwoThreads() {
    jet::FoldOnOneThreadUpTo(jet::kOneThreadPages);
    jet::ScanOnOneThreadUpTo(jet::kOneThreadScanRows);
  }
};

// While it lives, every search answers from its matches alone, as the first search of a large
// catalogue does.
struct AnsweredFromMatches {
  AnsweredFromMatches() { jet::AnswerFromMatchesFrom(jet::kMatchesOnlyPages, true); }
  ~AnsweredFromMatches() { jet::AnswerFromMatchesFrom(jet::kMatchesOnlyPages); }
};

TEST(FoldedSearch, FindsWhatReadingEveryRowFinds) {
  ScratchDir scratch;
  std::mt19937 random(1906);
  // The last column of the third order changes nothing, but makes two columns rank the ties.
  const char* const orders[] = {" ORDER BY [Song], [Artist]", " ORDER BY [Artist] DESC, [Song]", " ORDER BY [Artist], [Song], [Artist] DESC",
                                " ORDER BY [Song]", " ORDER BY [ID]", ""};
  std::set<std::string> plans;
  // Every row is scanned 16, 32 or 64 bytes a step, as far as this processor has them: each way
  // takes its turn.
  std::set<size_t> steps;
  for (int catalogue = 0; catalogue < 3; ++catalogue) {
    const auto db = NewSongs(scratch.File("songs" + std::to_string(catalogue) + ".mdb"));
    ASSERT_TRUE(db);
    AddSongs(*db, random, 200 + static_cast<int>(random() % 1500), 1, catalogue == 2 ? 5 : 0);
    std::optional<FoldedOnTwoThreads> two;
    if (catalogue > 0) two.emplace();
    for (int search = 0; search < 60; ++search) {
      jet::LimitFoldedScanStep(size_t{16} << (search % 3));
      steps.insert(jet::FoldedScanStep());
      // As the search box makes it: quotes doubled, the text between '*'.
      const auto quoted = [&](int most) {
        std::string q;
        for (char c : RandomText(random, most)) q += c == '\'' ? std::string("''") : std::string(1, c);
        return q;
      };
      std::string text = quoted(3), other = quoted(2);
      // Now and then a pattern checked beyond its plain text, every row marked: both halves of a
      // scan on two threads check it.
      const bool checked = search % 10 == 0;
      if (checked) text = "e[a-f]";
      // Now and then another text in artists than in titles: one found in the other column does not count.
      const std::string sql = "SELECT * FROM [Songs] WHERE [Song] LIKE '*" + text + "*' OR [Artist] LIKE '*" +
                              (random() % 4 == 0 ? other : text) + "*'" + (checked ? "" : orders[random() % std::size(orders)]);
      // Every other search as the first of a large catalogue, from its matches alone.
      std::optional<AnsweredFromMatches> matched;
      if (search % 2 == 1) matched.emplace();
      plans.insert(ExpectSameAsReading(*db, sql));
    }
  }
  jet::LimitFoldedScanStep(SIZE_MAX);
  EXPECT_TRUE(steps.count(16) && steps.count(jet::FoldedScanStep())) << "the widest step: " << jet::FoldedScanStep();
  // Listing the matches, sorting them, walking the kept order and walking the index all took part.
  for (const char* plan : {"folded texts", "folded texts, then sort", "folded texts in their kept order",
                           "folded texts along the index of the first sort column", "rows matched while reading",
                           "rows matched while reading, then sort", "rows matched while reading, along the index of the first sort column"}) {
    EXPECT_TRUE(plans.count(plan)) << plan;
  }
}

// A search whose order walks the index of its first sort column says the catalogue needs repair
// when the index does not list every row of the table once: an entry naming a slot the page does
// not have, two entries naming one row, leaves whose chain ends early.
TEST(FoldedSearch, AnIndexThatDoesNotListEveryRowOnceIsReported) {
  ScratchDir scratch;
  const std::string path = scratch.File("songs.mdb");
  std::mt19937 random(31);
  uint32_t table = 0;
  {
    const auto db = NewSongs(path);
    ASSERT_TRUE(db);
    AddSongs(*db, random, 1500, 1);
    table = db->ReadTable("Songs")->page;
  }
  const std::vector<uint8_t> intact = velloran_test::ReadBytes(path);
  const Found all = Search(*jet::Database::Open(path).value(), "SELECT * FROM [Songs]", false);
  // Where a leaf (page type 4) of the table's one index holds the pointer to the row at `place`:
  // its page in three bytes, big-endian, then its row.
  const auto pointer_of = [&](jet::RowId place) {
    const uint8_t pointer[4] = {uint8_t(place.page >> 16), uint8_t(place.page >> 8), uint8_t(place.page), place.row};
    for (size_t at = 0; at + 4096 <= intact.size(); at += 4096) {
      if (intact[at] != 4 || jet::Get32(intact.data() + at + 4) != table) continue;
      const auto found = std::search(intact.begin() + at + 0x1E0, intact.begin() + at + 4096, pointer, pointer + 4);
      if (found != intact.begin() + at + 4096) return static_cast<size_t>(found - intact.begin());
    }
    ADD_FAILURE() << "no entry names " << place.page << "/" << int(place.row);
    return size_t{0};
  };
  size_t first_leaf = 0;
  for (size_t at = 0; at < intact.size() && first_leaf == 0; at += 4096)
    if (intact[at] == 4 && jet::Get32(intact.data() + at + 4) == table && jet::Get32(intact.data() + at + 12) == 0) first_leaf = at;
  ASSERT_NE(jet::Get32(intact.data() + first_leaf + 16), 0u) << "more than one leaf";
  const size_t one = pointer_of(all.places[10]), other = pointer_of(all.places[20]);
  const std::vector<std::pair<const char*, std::function<void(uint8_t*)>>> damages = {
      {"intact", [](uint8_t*) {}},
      {"a slot the page does not have", [&](uint8_t* bytes) { bytes[one + 3] = 0xFE; }},
      {"one row twice", [&](uint8_t* bytes) { std::memcpy(bytes + one, bytes + other, 4); }},
      {"leaves ending early", [&](uint8_t* bytes) { jet::Put32(bytes + first_leaf + 16, 0); }}};
  for (const auto& [what, damage] : damages) {
    SCOPED_TRACE(what);
    std::vector<uint8_t> bytes = intact;
    damage(bytes.data());
    velloran_test::WriteBytes(path, bytes);
    jet::SharedPages::ForgetUnusedForTesting();
    auto db = jet::Database::Open(path);
    ASSERT_TRUE(db.ok());
    jet::ReadLock lock(*db.value());
    Search(*db.value(), "SELECT * FROM [Songs] WHERE [Song] LIKE '*a*' OR [Artist] LIKE '*a*'", true);  // the texts held
    auto cursor = jet::ExecuteSelect(*db.value(), "SELECT * FROM [Songs] WHERE [Song] LIKE '*' OR [Artist] LIKE '*' ORDER BY [Song]");
    ASSERT_TRUE(cursor.ok());
    ASSERT_EQ(cursor.value()->plan(), "folded texts along the index of the first sort column");
    jet::Result<bool> more = true;
    while (more.ok() && more.value()) more = cursor.value()->Next();
    const std::string error = more.ok() ? "no error" : more.error().message();
    EXPECT_EQ(error.find("compact and repair") != std::string::npos, std::string(what) != "intact") << error;
  }
}

// Runs `change` in another process, on its own handle, as one write.
void WriteElsewhere(const std::string& path, const std::function<jet::Status(jet::TableWriter&)>& change) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto db = jet::WritableDatabase::Open(path);
    const bool ok = db.ok() && db.value()->Write([&]() -> jet::Status {
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db.value()->ReadTable("Songs"));
      JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.value()->pager(), def));
      return change(*writer);
    }).ok();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The places of rows in slot 0 of their page, whose bytes end the page, with an artist of one to
// three characters that are each kept in one byte: one such artist changed to as many "z"s
// changes only bytes at the very end of its page.
std::vector<size_t> ArtistsEndingAPage(const Found& all) {
  std::vector<size_t> picks;
  for (size_t i = 0; i < all.rows.size(); ++i) {
    const jet::Text* artist = std::get_if<jet::Text>(&all.rows[i][2]);
    if (all.places[i].row != 0 || artist == nullptr || artist->empty() || artist->size() > 3) continue;
    if (std::all_of(artist->begin(), artist->end(), [](char16_t u) { return u < 0x80; })) picks.push_back(i);
  }
  return picks;
}

// What this process keeps for a state of the file is brought up to the next one when another
// program writes: the next search finds what reading every row finds, after a change that
// leaves every text as it was (a row's number), changed titles and artists, added songs and a
// deleted one, with rows spliced in where they lie.
TEST(FoldedSearch, SeesAChangeAnotherProgramWrote) {
  ScratchDir scratch;
  const std::string path = scratch.File("songs.mdb");
  std::mt19937 random(7);
  FoldedOnTwoThreads two;
  {
    const auto db = NewSongs(path);
    ASSERT_TRUE(db);
    AddSongs(*db, random, 900, 1);
  }
  auto reader = jet::Database::Open(path);
  ASSERT_TRUE(reader.ok());
  // The first lists many rows in storage order, the second finds so many that their order (by
  // columns no index orders) is built and kept, then carried over each write, the third sorts the
  // few it finds.
  const std::vector<std::string> sqls = {
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*e*' OR [Artist] LIKE '*e*'",
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*a*' OR [Artist] LIKE '*a*' ORDER BY [Artist] DESC, [Song]",
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*z*' OR [Artist] LIKE '*z*' ORDER BY [Song], [Artist]"};
  const auto same_as_reading = [&](const std::string& when) {
    for (const std::string& sql : sqls) ExpectSameAsReading(*reader.value(), sql, when);
    AnsweredFromMatches matched;
    for (const std::string& sql : sqls) ExpectSameAsReading(*reader.value(), sql, when + ", from the matches alone");
  };
  int next_id = 10000;
  for (int round = 0; round < 15; ++round) {
    const Found all = Search(*reader.value(), "SELECT * FROM [Songs]", false);
    const std::vector<size_t> ending = ArtistsEndingAPage(all);
    ASSERT_FALSE(ending.empty());
    const size_t pick = round % 5 == 1 ? ending[random() % ending.size()] : random() % all.places.size();
    const jet::RowId row = all.places[pick];
    std::vector<Value> values = all.rows[pick];
    if (round % 5 == 0) values[0] = int64_t{next_id++};
    if (round % 5 == 1) values[2] = jet::Text(std::get<jet::Text>(values[2]).size(), u'z');
    // Shorter, so that the row stays on its page.
    if (round % 5 == 2 && values[1] != Value(jet::Null{})) values[1] = std::get<jet::Text>(values[1]).substr(0, std::get<jet::Text>(values[1]).size() / 2);
    WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
      if (round % 5 == 4) return writer.Delete(row);
      if (round % 5 < 3) return writer.Update(row, values);
      for (int i = 0; i < 3; ++i) {
        JET_RETURN_IF_ERROR(writer.Insert({int64_t{next_id + i}, jet::FromUtf8(RandomText(random, 4)), jet::Null{}}).status());
      }
      return jet::Status::Ok();
    });
    next_id += 3;
    same_as_reading("round " + std::to_string(round));
  }
  // The last songs lengthened past their pages' room move elsewhere: the texts are folded afresh,
  // the second thread stopping short at the first page that holds a moved row.
  const Found all = Search(*reader.value(), "SELECT * FROM [Songs]", false);
  WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
    for (size_t i = all.rows.size() - 20; i < all.rows.size(); ++i) {
      std::vector<Value> values = all.rows[i];
      values[1] = jet::Text(250, u'm');
      JET_RETURN_IF_ERROR(writer.Update(all.places[i], values));
    }
    return jet::Status::Ok();
  });
  same_as_reading("rows moved");
  // Then, brought up to date each time: a row beside a moved row's first slot given another
  // number (its page changed, no text did), its title changed, and a moved row's title changed
  // where it now lives.
  size_t moved = all.rows.size() - 20, beside = moved - 1;
  while (moved < all.rows.size() && all.places[moved].page != all.places[beside].page) ++moved;
  ASSERT_LT(moved, all.rows.size()) << "no moved row's first slot on the page of a row that stayed";
  for (int step = 0; step < 3; ++step) {
    const size_t i = step < 2 ? beside : moved;
    std::vector<Value> values = all.rows[i];
    if (step == 0) values[0] = int64_t{next_id++};
    values[1] = step == 0 ? values[1] : step == 1 ? Value(jet::FromUtf8("zea")) : Value(jet::Text(240, u'a'));
    WriteElsewhere(path, [&](jet::TableWriter& writer) { return writer.Update(all.places[i], values); });
    same_as_reading("beside moved rows, step " + std::to_string(step));
  }
}

// The first search of a large catalogue with nothing kept answers from its matches alone, or,
// matching many rows, reads rows along the index of its order; either way the whole texts are
// folded on a thread of their own and serve the next search, and the one after another program's
// write, and a kept file holds them for the next process.
TEST(FoldedSearch, AFirstSearchAnswersWithoutTheWholeTextsAndTheyFollow) {
  ScratchDir scratch;
  const std::string path = scratch.File("songs.mdb"), folder = scratch.File("kept");
  std::mt19937 random(41);
  {
    const auto db = NewSongs(path);
    ASSERT_TRUE(db);
    AddSongs(*db, random, 2000, 1);
  }
  jet::AnswerFromMatchesFrom(0);  // every table counts as large
  jet::SetKeptTextsFolder(folder);
  struct Restore {
    ~Restore() {
      jet::WaitForLaterFolds();
      jet::WaitForKeptTexts();
      jet::SetKeptTextsFolder("");
      jet::AnswerFromMatchesFrom(jet::kMatchesOnlyPages);
    }
  } restore;
  const auto texts_kept = [&] {
    jet::WaitForLaterFolds();
    jet::WaitForKeptTexts();
    return std::filesystem::exists(folder) &&
           std::any_of(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator(),
                       [](const auto& entry) { return entry.path().extension() == ".texts"; });
  };
  // "7ж" is in about one song in seventy, "e" in most.
  for (const auto& [text, first_plan] : {std::pair<std::string, std::string>{"7ж", "rows matched while reading"},
                                         {"e", "index \"Song\", then sort rows with equal keys"}}) {
    SCOPED_TRACE(text);
    const std::string sql = "SELECT * FROM [Songs] WHERE [Song] LIKE '*" + text + "*' OR [Artist] LIKE '*" + text +
                            "*' ORDER BY [Song], [Artist]";
    jet::WaitForLaterFolds();
    jet::WaitForKeptTexts();
    std::filesystem::remove_all(folder);
    jet::SharedPages::ForgetUnusedForTesting();  // as a process started afresh
    auto db = jet::Database::Open(path);
    ASSERT_TRUE(db.ok());
    const Found first = Search(*db.value(), sql, true);
    EXPECT_EQ(first, Search(*db.value(), sql, false));
    EXPECT_EQ(first.plan.rfind(first_plan, 0), 0u) << first.plan;
    EXPECT_TRUE(texts_kept()) << "the whole texts were not folded after the first search";
    const Found next = Search(*db.value(), sql, true);
    EXPECT_EQ(next, first);
    EXPECT_EQ(next.plan.rfind("folded texts", 0), 0u) << next.plan;
    WriteElsewhere(path, [&](jet::TableWriter& writer) { return writer.Insert({int64_t{9999}, jet::FromUtf8(text), jet::Null{}}).status(); });
    const Found after = Search(*db.value(), sql, true);
    EXPECT_EQ(after, Search(*db.value(), sql, false));
    EXPECT_EQ(after.rows.size(), first.rows.size() + 1);
    EXPECT_EQ(after.plan.rfind("folded texts", 0), 0u) << after.plan;
  }
}

// A page's or a kept file's digest is the same taken every way the processor offers, at once or
// in pieces of any size; a change of any one byte changes it, and no two changes of one bit agree.
TEST(FoldedSearch, DigestIsTheSameEveryWayAndTakesEveryByte) {
  std::mt19937 random(23);
  std::vector<unsigned char> bytes(4096 + 300);
  using Way = jet::BulkDigest::Way;
  const auto digest = [&](Way way, size_t size, size_t piece) {
    jet::BulkDigest d(way);
    for (size_t at = 0; at < size; at += piece) d.Add(bytes.data() + at, std::min(piece, size - at));
    return d.Value();
  };
  for (const Way way : {Way::kPlain, Way::kFour, Way::kEight}) {
    if (!jet::BulkDigest::Supported(way)) continue;  // this processor has no such instructions
    for (const size_t size : {0, 1, 255, 256, 257, 1000, 4096, 4396}) {
      for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
      const uint64_t plain = digest(Way::kPlain, size, size + 1);
      EXPECT_EQ(jet::BulkDigest::Of(bytes.data(), size, way), plain) << int(way) << " " << size;
      for (const size_t piece : {1, 7, 256, 300}) EXPECT_EQ(digest(way, size, piece), plain) << int(way) << " " << size << " " << piece;
    }
    const uint64_t whole = jet::BulkDigest::Of(bytes.data(), bytes.size(), way);
    for (size_t i = 0; i < bytes.size(); ++i) {
      const unsigned char change = static_cast<unsigned char>(1 + random() % 255);
      bytes[i] ^= change;
      EXPECT_NE(jet::BulkDigest::Of(bytes.data(), bytes.size(), way), whole) << int(way) << ": byte " << i;
      bytes[i] ^= change;
    }
    // Pages one bit away from an empty one.
    std::vector<unsigned char> empty(4096);
    std::vector<uint64_t> one_bit;
    for (size_t bit = 0; bit < 8 * empty.size(); ++bit) {
      empty[bit / 8] = static_cast<unsigned char>(1 << bit % 8);
      one_bit.push_back(jet::BulkDigest::Of(empty.data(), empty.size(), way));
      empty[bit / 8] = 0;
    }
    std::sort(one_bit.begin(), one_bit.end());
    EXPECT_EQ(std::unique(one_bit.begin(), one_bit.end()) - one_bit.begin(), 8 * 4096) << int(way);
  }
}

// Folding a text kept one byte a character gives, every way the processor offers, the bytes of
// each character's folded unit, one after another, for texts of every length and byte (a zero
// byte says the text is not kept that way).
TEST(FoldedSearch, FoldingStoredBytesIsTheSameEveryWay) {
  const char16_t* fold = jet::FoldTableOf(jet::JetVersion::kJet4);
  const jet::ByteFolder wide(fold), narrow(fold, false);
  std::mt19937 random(29);
  std::vector<uint8_t> text(200);
  std::vector<char> got(jet::ByteFolder::Room(text.size()));
  for (int round = 0; round < 3000; ++round) {
    const size_t size = random() % 100;
    // Mostly ASCII, as titles are; some rounds of any byte, a few with a zero.
    for (uint8_t& b : text) b = static_cast<uint8_t>(round % 3 == 0 ? random() % 256 : random() % 4 == 0 ? 0x80 + random() % 128 : 1 + random() % 127);
    if (round % 3 != 0) std::replace(text.begin(), text.end(), uint8_t{0}, uint8_t{'a'});
    std::string expected;
    bool zero = false;
    for (size_t i = 0; i < size; ++i) {
      char unit[4];
      expected.append(unit, jet::PutFoldedUnit(fold[text[i]], unit));
      zero = zero || text[i] == 0;
    }
    // Bytes looked for straight in the stored ones: some of the folded text, or a few of the
    // folded letters (superscript digits fold to digits).
    std::string needle = expected.substr(expected.empty() ? 0 : random() % expected.size(), 2 + random() % 3);
    if (needle.size() < 2 || std::any_of(needle.begin(), needle.end(), [](char c) { return static_cast<uint8_t>(c) >= 0x80; })) {
      needle.clear();
      for (size_t i = 2 + random() % 2; i > 0; --i) needle += "AE2L"[random() % 4];
    }
    // Told where the processor has the way and no zero byte stands before the needle.
    const int holds = wide.HoldsFolded(text.data(), size, needle);
    if (holds >= 0) {
      EXPECT_EQ(holds == 1, expected.find(needle) != std::string::npos) << round << " " << needle;
    }
    if (holds == 0) {
      EXPECT_FALSE(zero) << round;
    }
    EXPECT_EQ(narrow.HoldsFolded(text.data(), size, needle), -1);
    for (const jet::ByteFolder* folder : {&wide, &narrow}) {
      const char* end = folder->Fold(text.data(), size, got.data(), folder == &narrow && round % 2 == 0);
      if (zero) {
        EXPECT_EQ(end, nullptr) << round;
      } else {
        ASSERT_NE(end, nullptr) << round;
        EXPECT_EQ(std::string(static_cast<const char*>(got.data()), end), expected) << round << (folder == &wide ? " wide" : " narrow");
      }
    }
  }
}

// A process started afresh begins from the texts and orders an earlier one kept in files: it
// finds what reading every row finds from a loaded file, after another program changed a few
// rows, after it changed every title (the order kept for the old texts must then not serve the
// new ones), and with a kept file cut short, damaged where its texts lie, of an older version,
// or with a text's end moved by one and the digest made right (ignored, built again).
TEST(FoldedSearch, KeptFilesServeAProcessStartedAfresh) {
  ScratchDir scratch;
  const std::string path = scratch.File("songs.mdb"), folder = scratch.File("kept");
  std::mt19937 random(19);
  FoldedOnTwoThreads two;  // the texts of the first half end in a chunk they do not fill
  {
    const auto db = NewSongs(path);
    ASSERT_TRUE(db);
    // Long texts among them, so that the texts fill more than one chunk.
    AddSongs(*db, random, 3000, 1);
    AddSongs(*db, random, 3000, 3001, 0, 200);
  }
  // Long enough for no later write to leave the file's stamp again: the texts kept now are taken
  // by the next process without reading the pages.
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  jet::SetKeptTextsFolder(folder);
  struct Off {
    ~Off() { jet::SetKeptTextsFolder(""); }
  } off;
  const std::vector<std::string> sqls = {
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*e*' OR [Artist] LIKE '*e*'",
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*a*' OR [Artist] LIKE '*a*' ORDER BY [Song], [Artist]",
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*z*' OR [Artist] LIKE '*z*' ORDER BY [Artist] DESC, [Song]",
      "SELECT * FROM [Songs] WHERE [Song] LIKE '*e*' OR [Artist] LIKE '*e*' ORDER BY [Artist] DESC, [Song]"};
  // Searches as a process that has nothing carried yet; the first `count` of them.
  const auto searches_afresh = [&](const std::string& when, size_t count) {
    jet::SharedPages::ForgetUnusedForTesting();
    auto db = jet::Database::Open(path);
    ASSERT_TRUE(db.ok());
    for (size_t i = 0; i < count; ++i) ExpectSameAsReading(*db.value(), sqls[i], when);
    jet::WaitForKeptTexts();  // as the process would on leaving
  };
  // The kept texts file, dated back so that a file written anew is told from it.
  const auto texts_file = [&] {
    std::string texts;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.path().extension() == ".texts") texts = entry.path().string();
    }
    return texts;
  };
  const std::filesystem::file_time_type dated =
      std::chrono::time_point_cast<std::chrono::seconds>(std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  const auto date_back = [&] { std::filesystem::last_write_time(texts_file(), dated); };
  const auto written_anew = [&] { return std::filesystem::last_write_time(texts_file()) != dated; };
  // Older files of other catalogues fill the folder: the oldest make room.
  std::filesystem::create_directories(folder);
  for (size_t i = 0; i < jet::kKeptFiles; ++i) {
    const std::string old = folder + "/old" + std::to_string(i);
    std::ofstream(old) << "x";
    std::filesystem::last_write_time(old, dated - std::chrono::minutes(i));
  }
  searches_afresh("nothing kept", sqls.size());
  ASSERT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), jet::kKeptFiles);
  ASSERT_TRUE(std::filesystem::exists(folder + "/old0") && !std::filesystem::exists(folder + "/old22"));
  ASSERT_TRUE(std::filesystem::exists(texts_file())) << "the texts and one order kept";
  date_back();
  searches_afresh("loaded", sqls.size());
  EXPECT_FALSE(written_anew()) << "built again instead of loaded";
  const Found all = Search(*jet::Database::Open(path).value(), "SELECT * FROM [Songs]", false);
  {
    // The empty search walks the index rather than load the texts, unless they and its order are held.
    jet::SharedPages::ForgetUnusedForTesting();
    auto db = jet::Database::Open(path);
    const std::string every = "SELECT * FROM [Songs] WHERE [Song] LIKE '**' OR [Artist] LIKE '**' ORDER BY [Song], [Artist]";
    const Found plain = Search(*db.value(), every, false), first = Search(*db.value(), every, true);
    EXPECT_EQ(first, plain);
    EXPECT_EQ(first.plan.find("folded"), std::string::npos) << first.plan;
    Search(*db.value(), sqls[1], true);
    const Found held = Search(*db.value(), every, true);
    EXPECT_EQ(held, plain);
    EXPECT_EQ(held.plan, "folded texts along the index of the first sort column");
    // Carried over another program's write, they serve it again once brought up to date.
    WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
      std::vector<Value> values = all.rows[7];
      values[1] = jet::FromUtf8("aaa");
      return writer.Update(all.places[7], values);
    });
    auto after = jet::Database::Open(path);
    const Found carried = Search(*after.value(), every, true);
    EXPECT_EQ(carried, Search(*after.value(), every, false));
    EXPECT_EQ(carried.plan, "folded texts along the index of the first sort column");
  }
  // Every title reversed in place: the texts are kept afresh, searched without an order meanwhile,
  // so that the next process finds the order kept for the old texts beside them.
  WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
    for (size_t i = 0; i < all.rows.size(); ++i) {
      std::vector<Value> values = all.rows[i];
      if (jet::Text* song = std::get_if<jet::Text>(&values[1])) std::reverse(song->begin(), song->end());
      JET_RETURN_IF_ERROR(writer.Update(all.places[i], values));
    }
    return jet::Status::Ok();
  });
  searches_afresh("every title changed", 1);
  searches_afresh("an order of other texts kept", sqls.size());

  date_back();
  WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
    for (size_t i : {size_t{5}, all.rows.size() / 2}) {
      std::vector<Value> values = all.rows[i];
      values[1] = jet::FromUtf8("zz");
      JET_RETURN_IF_ERROR(writer.Update(all.places[i], values));
    }
    return writer.Delete(all.places[all.rows.size() - 1]);
  });
  searches_afresh("a few rows changed", sqls.size());
  EXPECT_FALSE(written_anew()) << "built again instead of brought up to date";

  // Every title as it first was, and three songs lengthened past their pages' room, which moves
  // them: the texts are folded afresh and kept with the moved rows. Then a moved row changed
  // where it lives, another row changed and a moved row deleted: the kept texts are brought up
  // to date, the moved rows on pages that did not change still named by their first slots.
  date_back();
  WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
    for (size_t i = 0; i + 1 < all.rows.size(); ++i) {
      std::vector<Value> values = all.rows[i];
      if (i == 3 || i == 40 || i == all.rows.size() / 3) values[1] = jet::Text(255, u'\u0416');  // two bytes a character
      JET_RETURN_IF_ERROR(writer.Update(all.places[i], values));
    }
    return jet::Status::Ok();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  searches_afresh("rows moved", sqls.size());
  EXPECT_TRUE(written_anew()) << "not built again";
  date_back();
  WriteElsewhere(path, [&](jet::TableWriter& writer) -> jet::Status {
    std::vector<Value> moved = all.rows[40], other = all.rows[9];
    moved[1] = jet::Text(240, u'n');
    other[2] = jet::FromUtf8("zz");
    JET_RETURN_IF_ERROR(writer.Update(all.places[40], moved));
    JET_RETURN_IF_ERROR(writer.Update(all.places[9], other));
    return writer.Delete(all.places[3]);
  });
  searches_afresh("moved rows changed", sqls.size());
  EXPECT_FALSE(written_anew()) << "built again instead of brought up to date";

  // The header: 8 bytes of magic, the version (4), the kind (4), the digest of what follows it (8)
  // and its length (8).
  constexpr size_t kVersionAt = 8, kDigestAt = 16, kBodyAt = 32;
  for (const std::string damage : {"cut short", "damaged", "of an older version", "with a text's end moved"}) {
    const std::string texts = texts_file();
    std::string bytes = velloran_test::ReadWholeFile(texts);
    if (damage == "cut short") bytes.resize(bytes.size() - 100);
    // Texts are kept folded, in upper case: a "Q" where no song has one.
    for (size_t i = bytes.size() * 4 / 5; damage == "damaged" && i < bytes.size(); ++i) {
      if (bytes[i] >= 'A' && bytes[i] <= 'Y') bytes[i] = 'Q';
    }
    if (damage == "of an older version") --bytes[kVersionAt];
    if (damage == "with a text's end moved") {
      // The texts come last, each ending in a zero: the zero ending the next to last one moves a
      // byte back, so that the last text begins a byte before where its start says.
      size_t end = bytes.size() - 2;
      while (bytes[end] != 0 || bytes[end - 1] == 0) --end;
      std::swap(bytes[end], bytes[end - 1]);
      jet::BulkDigest digest;
      digest.Add(bytes.data() + kBodyAt, bytes.size() - kBodyAt);
      const uint64_t value = digest.Value();
      std::memcpy(bytes.data() + kDigestAt, &value, sizeof value);
    }
    std::ofstream(texts, std::ios::binary | std::ios::trunc) << bytes;
    date_back();
    searches_afresh(damage, sqls.size());
    EXPECT_TRUE(written_anew()) << damage << ": not built again";
  }
  // A folder that cannot be made (a file has its name): nothing is kept, and searches go on.
  jet::SetKeptTextsFolder(texts_file());
  searches_afresh("no folder to keep in", sqls.size());
}

}  // namespace
