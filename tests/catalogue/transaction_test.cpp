// Many row changes as one: nothing reaches the file before the commit, a failure or a close
// takes all of them back.

#include "tests/catalogue/scripted_host.h"

namespace velloran {
namespace {

// Sets PrintYN on every song numbered below `below`, one Update a row.
void FlagSongsBelow(Connection& db, int below) {
  auto rows = db.OpenRecordset("SELECT * FROM [MyList] WHERE [SongNumber] < " + std::to_string(below));
  for (; !rows->AtEnd(); rows->MoveNext()) velloran_test::Change(*rows, "PrintYN", true);
}

int64_t FlaggedSongs(const std::string& path) {
  auto db = Connection::Open(path);
  auto rows = db->OpenRecordset("SELECT * FROM [MyList] WHERE [PrintYN] = True");
  rows->MoveLast();
  return rows->RecordCount();
}

TEST(EngineTransaction, CommitMakesAllRowsVisibleAtOnceAndAFailureRollbackOrCloseNone) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const int64_t before = FlaggedSongs(path);
  auto db = Connection::Open(path);
  db->BeginTrans();
  FlagSongsBelow(*db, 1200);
  EXPECT_THROW(db->Execute("UPDATE [MyList] SET [NoSuchField] = 1"), EngineError);
  EXPECT_THROW(db->CommitTrans(), EngineError);  // the failure ended the transaction
  EXPECT_EQ(FlaggedSongs(path), before);

  db->BeginTrans();
  FlagSongsBelow(*db, 1100);
  // Another program sees nothing of it yet (and is kept waiting if it wants to write).
  EXPECT_EQ(FlaggedSongs(path), before);
  db->CommitTrans();
  const int64_t after = FlaggedSongs(path);
  EXPECT_GT(after, before + 50);

  db->BeginTrans();
  db->Execute("UPDATE [MyList] SET [PrintYN] = False");
  db->Rollback();
  EXPECT_EQ(FlaggedSongs(path), after);

  // A row change the table refuses when it is written: a song number twice in a unique index.
  db->AppendIndex("MyList", NewIndex{"UniqueNumber", {"SongNumber"}, false, true});
  db->BeginTrans();
  db->Execute("UPDATE [MyList] SET [PrintYN] = False");
  auto rows = db->OpenRecordset("SELECT * FROM [MyList] WHERE [SongNumber] = 1001");
  rows->Edit();
  rows->SetField("SongNumber", FieldValue(1002));
  EXPECT_THROW(rows->Update(), EngineError);
  EXPECT_THROW(db->CommitTrans(), EngineError);
  EXPECT_EQ(FlaggedSongs(path), after);

  // A connection that goes away in the middle of a transaction leaves the file as it was.
  db->BeginTrans();
  db->Execute("UPDATE [MyList] SET [PrintYN] = False");
  db->Close();
  EXPECT_EQ(FlaggedSongs(path), after);
}

}  // namespace
}  // namespace velloran
