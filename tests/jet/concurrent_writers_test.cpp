// Several processes on one database at once: a write that finds another under way waits for its
// turn, and one that waits past the lock wait is refused with the "in use" error (kLocked) and
// leaves nothing. (Two writers hammering one file while readers of every kind read, each read one
// committed state: ReadIsolation.)
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "jet/check/integrity_check.h"
#include "jet/file/file_lock.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/process_support.h"
#include "tests/jet/test_support.h"

namespace {

// While a writer waits for the searches already reading, a search that comes after it waits its
// turn behind the writer instead of reading beside them: searches as fast as a host types, one
// overlapping the next, never keep a write out until it times out.
TEST(ConcurrentWriters, ReadersThatComeWhileAWriterWaitsQueueBehindIt) {
  velloran_test::ScratchDir scratch;
  const std::string path = scratch.File("locked");
  velloran_test::WriteBytes(path, std::vector<uint8_t>(4096));
  const auto open = [&] { return std::move(jet::Os::Default().Open(path, jet::OpenMode::kReadWrite)).value(); };
  const auto reading = open(), writing = open(), later = open();
  ASSERT_TRUE(jet::AcquireDataLock(*reading, jet::LockKind::kShared, 0).ok());
  std::atomic<bool> written{false};
  std::thread writer([&] {
    EXPECT_TRUE(jet::AcquireDataLock(*writing, jet::LockKind::kExclusive, 10000).ok());
    written = true;
  });
  // Until the writer waits, a later reader gets in (and goes again); once it waits, none does.
  bool queued = false;
  for (int i = 0; i < 500 && !queued; ++i) {
    const jet::Status slipped_in = jet::AcquireDataLock(*later, jet::LockKind::kShared, 0);
    queued = !slipped_in.ok();
    if (!queued) {
      jet::ReleaseDataLock(*later);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  EXPECT_TRUE(queued) << "a reader that came after the waiting writer read beside the first";
  EXPECT_FALSE(written);
  jet::ReleaseDataLock(*reading);  // the first reader done: the writer gets in, then the later reader
  writer.join();
  EXPECT_TRUE(written);
  EXPECT_FALSE(jet::AcquireDataLock(*later, jet::LockKind::kShared, 0).ok());
  jet::ReleaseDataLock(*writing);
  EXPECT_TRUE(jet::AcquireDataLock(*later, jet::LockKind::kShared, 0).ok());
}

TEST(ConcurrentWriters, AWriteThatWaitsTooLongIsRefusedAsInUseAndChangesNothing) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  int holding[2];  // the holder writes a byte once it is inside its write
  ASSERT_EQ(pipe(holding), 0);
  // A writer that keeps its write open longer than the 5 s others wait for their turn.
  pid_t holder = velloran_test::ForkChild([&] {
    auto db = jet::WritableDatabase::Open(path);
    if (!db.ok()) return 1;
    jet::Status s = velloran_test::WithTableWriter(*db.value(), "MyList", [&](jet::TableWriter& writer) -> jet::Status {
      std::vector<jet::Value> row(writer.def().columns.size());
      row[writer.def().FindColumn("ID") - writer.def().columns.data()] = int64_t{7000001};
      row[writer.def().FindColumn("PrintYN") - writer.def().columns.data()] = false;
      JET_RETURN_IF_ERROR(writer.Insert(row).status());
      if (write(holding[1], "x", 1) != 1) return jet::Error(jet::ErrorCode::kIo, "pipe");
      std::this_thread::sleep_for(std::chrono::milliseconds(5600));
      return jet::Status::Ok();
    });
    return s.ok() ? 0 : 2;
  });
  char byte;
  ASSERT_EQ(read(holding[0], &byte, 1), 1);
  std::string printed;
  auto started = std::chrono::steady_clock::now();
  int code = velloran_test::RunToEnd({VELLORAN_JET_TOOL, "insert", path, "MyList", "ID=7000002", "Song=waited"},
                                     scratch.path() + "/tool.out", &printed);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(code, 2) << printed;
  EXPECT_NE(printed.find("in use by another program"), std::string::npos) << printed;
  EXPECT_NE(printed.find("try again"), std::string::npos) << "the message says what to do: " << printed;
  EXPECT_GE(waited, std::chrono::milliseconds(4900)) << "the tool gave up before the documented 5 s wait";
  EXPECT_EQ(velloran_test::WaitFor(holder), 0);
  // The holder's row and no other: the file passes the check, and its rows agree with the
  // definition's count (the fixture has rows without an ID, which are only counted).
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, "MyList");
  ASSERT_NE(t.db, nullptr);
  EXPECT_EQ(jet::CheckDatabase(*t.db), std::vector<std::string>());
  std::multiset<int64_t> ids;
  for (const auto& row : t.rows)
    if (const int64_t* id = std::get_if<int64_t>(&row[t.Col("ID")])) ids.insert(*id);
  EXPECT_EQ(ids.count(7000001), 1u) << "the holder's write";
  EXPECT_EQ(ids.count(7000002), 0u) << "the refused write";
  EXPECT_EQ(std::pair(t.rows.size(), size_t{t.def.row_count}), std::pair(size_t{501}, size_t{501}));
}

}  // namespace
