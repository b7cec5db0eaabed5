// Writes through the pager: a committed write is durable, a rolled-back one leaves no trace, a
// crash at any step of a commit leaves the file exactly as before it (the next open undoes it) or,
// past the commit point, exactly as after it, and only one handle may write a database at a time.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>

#include "jet/file/journal.h"
#include "jet/file/pager.h"
#include "jet/writable_database.h"
#include "tests/jet/faulty_os.h"
#include "tests/jet/process_support.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Pager;
using velloran_test::ScratchDir;

std::string FileBytes(const std::string& path) { return velloran_test::ReadWholeFile(path); }

// Changes a few existing pages and adds two; returns the number of the first added page.
uint32_t ScribbleOnPages(Pager& pager) {
  EXPECT_TRUE(pager.BeginWrite().ok());
  for (uint32_t page : {3u, 7u, 11u}) std::memset(pager.MutablePage(page).value() + 100, static_cast<int>(page), 200);
  uint32_t first = pager.AppendPage().value();
  pager.MutablePage(first).value()[0] = 0x01;
  pager.AppendPage().value();
  return first;
}

// (A committed write lands whole and leaves no journal: ACrashAtAnyStepOfACommit..., its run
// without a crash.)
TEST(PagerWrite, RolledBackPagesLeaveNoTraceAndAReadOnlyHandleCannotWrite) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const std::string original = FileBytes(path);
  ASSERT_OK_LET(pager, Pager::Open(path, Pager::Mode::kReadWrite));
  const uint32_t pages_before = pager.value()->page_count();
  ScribbleOnPages(*pager.value());
  // Inside the write, readers of this handle see the new pages; the file does not yet.
  EXPECT_EQ(pager.value()->ReadPage(7).value()[150], 7);
  EXPECT_EQ(FileBytes(path), original);
  pager.value()->Rollback();
  EXPECT_EQ(pager.value()->page_count(), pages_before);
  EXPECT_EQ(pager.value()->ReadPage(7).value()[150], static_cast<uint8_t>(original[7 * 4096 + 150]));
  EXPECT_EQ(FileBytes(path), original);
  // The next write's new pages come right after the old end.
  EXPECT_EQ(ScribbleOnPages(*pager.value()), pages_before);
  pager.value()->Rollback();
  ASSERT_OK_LET(reader, Pager::Open(path));
  EXPECT_FALSE(reader.value()->BeginWrite().ok()) << "a read-only handle must refuse to write";
}

// What was decoded from the pages inside a write may serve the next write through that write's
// own commit, and through a commit that changed nothing. (Anything else that moves the generation
// makes it stale: a change, a rollback, another handle's commit seen at the next write; planted,
// IoFaults, SchemaRandom, IndexNodeCache, EngineSharing and ReadIsolation fail.)
TEST(PagerWrite, ACommitLeavesThePagesAsTheWriteMadeThem) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  ASSERT_OK_LET(pager, Pager::Open(path, Pager::Mode::kReadWrite));
  Pager& p = *pager.value();
  ScribbleOnPages(p);
  const uint64_t written = p.generation();
  ASSERT_TRUE(p.Commit().ok());
  EXPECT_NE(p.generation(), written);
  EXPECT_TRUE(p.PagesUnchangedSince(written)) << "the commit made durable exactly what the write had made";
  // The next write of the same handle starts from those pages, and commits nothing new.
  ASSERT_TRUE(p.BeginWrite().ok());
  EXPECT_TRUE(p.PagesUnchangedSince(written));
  const uint64_t begun = p.generation();
  ASSERT_TRUE(p.Commit().ok());
  EXPECT_TRUE(p.PagesUnchangedSince(begun));
}

// The kernel stamps a write with the time of its last clock tick, so two commits within a tick
// could leave one time, and a reader that knows the file's state by its time would miss the
// second: every commit sets a time of its own, after the moment it began. (This machine's kernel
// mostly gives fine times itself: the test counts the settings too.)
TEST(PagerWrite, EveryCommitSetsATimeAfterItBegan) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  int stamps = 0;
  velloran_test::FaultyOs os([&](velloran_test::DiskCall call) { return stamps += call == velloran_test::DiskCall::kStamp, 0; });
  struct Restore {
    ~Restore() { jet::Os::SetDefaultForTesting(nullptr); }
  } restore;
  jet::Os::SetDefaultForTesting(&os);
  ASSERT_OK_LET(pager, Pager::Open(path, Pager::Mode::kReadWrite));
  const auto ns = [](const timespec& t) { return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec; };
  for (int commit = 1; commit <= 5; ++commit) {
    timespec began{};
    clock_gettime(CLOCK_REALTIME, &began);
    ScribbleOnPages(*pager.value());
    ASSERT_TRUE(pager.value()->Commit().ok());
    struct stat after{};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_GT(ns(after.st_mtim), ns(began)) << "commit " << commit;
    EXPECT_EQ(stamps, commit);
  }
}

int crash_countdown = 0;
void CrashAtStep(const char*) {
  if (--crash_countdown == 0) _exit(0);  // like a power cut: no destructors, no cleanup
}

// Runs a write in a child process that dies at the `step`-th commit step.
void WriteAndDieAtStep(const std::string& path, int step) {
  ASSERT_TRUE(velloran_test::ExitedCleanly(velloran_test::ForkChild([&] {
    crash_countdown = step;
    Pager::SetCommitHookForTesting(&CrashAtStep);
    auto pager = Pager::Open(path, Pager::Mode::kReadWrite);
    if (!pager.ok()) return 2;
    ScribbleOnPages(*pager.value());
    return pager.value()->Commit().ok() ? 0 : 3;
  })));
}

TEST(PagerWrite, ACrashAtAnyStepOfACommitLeavesTheFileAsBeforeOrAsAfterIt) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const std::string original = FileBytes(path);
  // Steps: journal synced, five pages written one by one, pages synced, journal voided. Dying
  // after the pages are synced but before the journal is void is still before the commit point.
  for (int step = 1; step <= 7; ++step) {
    SCOPED_TRACE("crash at commit step " + std::to_string(step));
    WriteAndDieAtStep(path, step);
    EXPECT_TRUE(std::filesystem::exists(jet::JournalPath(path))) << "the crash must leave the journal behind";
    ASSERT_OK_LET(undoes, jet::JournalUndoesAnything(path, 4096));
    EXPECT_TRUE(undoes.value()) << "a journal before the commit point must undo the write";
    // Even a read-only open undoes the cut-short write before reading.
    ASSERT_OK_LET(reader, Pager::Open(path));
    EXPECT_FALSE(std::filesystem::exists(jet::JournalPath(path)));
    EXPECT_EQ(FileBytes(path), original);
  }
  // Dying once the journal is void leaves its file behind, which undoes nothing: the next open
  // deletes it and the write stands.
  WriteAndDieAtStep(path, 8);
  EXPECT_TRUE(std::filesystem::exists(jet::JournalPath(path)));
  // So a reader that may not remove it (no write access) goes on past it.
  ASSERT_OK_LET(void_undoes, jet::JournalUndoesAnything(path, 4096));
  EXPECT_FALSE(void_undoes.value());
  ASSERT_TRUE(Pager::Open(path).ok());
  EXPECT_FALSE(std::filesystem::exists(jet::JournalPath(path)));
  const std::string past_commit_point = FileBytes(path);
  // With no crash, the same write lands whole, byte for byte as the write that died at the end.
  std::ofstream(path, std::ios::binary | std::ios::trunc) << original;
  WriteAndDieAtStep(path, 1000);
  EXPECT_FALSE(std::filesystem::exists(jet::JournalPath(path)));
  EXPECT_TRUE(FileBytes(path) == past_commit_point);
  ASSERT_OK_LET(reader, Pager::Open(path));
  EXPECT_EQ(reader.value()->page_count(), original.size() / 4096 + 2);
  EXPECT_EQ(reader.value()->ReadPage(3).value()[100], 3);
}

// FNV-1a, as journals of version 1 checksummed their header and records.
uint32_t Fnv(const std::string& data, uint32_t h = 2166136261u) {
  for (unsigned char c : data) h = (h ^ c) * 16777619u;
  return h;
}

void Put32(std::string* out, uint32_t v) { for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(v >> (8 * i))); }

// A version 1 journal, byte by byte as that version wrote it, holding `pages` as they were.
std::string JournalOfVersionOne(uint32_t page_count, const std::vector<std::pair<uint32_t, std::string>>& pages) {
  std::string j = "VLRNJRNL";
  for (uint32_t field : {1u, 4096u, page_count}) Put32(&j, field);  // version, page size, page count
  Put32(&j, Fnv(j));
  j.resize(32, '\0');
  for (const auto& [page, bytes] : pages) {
    std::string number;
    Put32(&number, page);
    j += number + bytes;
    Put32(&j, Fnv(bytes, Fnv(number)));
  }
  return j;
}

// Scribbles over pages 3 and 7 of the file and adds a page, as a write cut short after the
// journal was synced would leave it; then lets an open undo that and returns the file.
std::string RecoveredAfterAnUnfinishedWrite(const std::string& path) {
  const std::string junk(4096, '\x5A');
  std::string file = FileBytes(path);
  for (size_t page : {3, 7}) file.replace(page * 4096, 4096, junk);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << file + junk;
  EXPECT_TRUE(Pager::Open(path).ok());
  return FileBytes(path);
}

// Recovery reads the journals this version writes and those of the version before it (with a
// byte-wise checksum), and stops at the first record that does not check out: a torn last record
// is never copied into the database.
TEST(PagerWrite, JournalsOfEitherVersionAreUndoneUpToATornRecord) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const std::string original = FileBytes(path);
  const uint32_t page_count = static_cast<uint32_t>(original.size() / 4096);
  auto page_of = [&](uint32_t n) { return original.substr(n * 4096, 4096); };
  auto write_journal = [&](const std::string& bytes) { std::ofstream(jet::JournalPath(path), std::ios::binary) << bytes; };

  // Written by this version, through the journal writer, which writes the pages from where they
  // are when it syncs.
  {
    ASSERT_OK_LET(journal, jet::JournalWriter::Create(path, 4096, page_count));
    for (uint32_t n : {3u, 7u}) ASSERT_TRUE(journal.value()->Append(n, reinterpret_cast<const uint8_t*>(original.data()) + n * 4096).ok());
    ASSERT_TRUE(journal.value()->Sync().ok());
  }
  const std::string current_journal = FileBytes(jet::JournalPath(path));
  ASSERT_EQ(current_journal.size(), 32u + 2 * (4 + 4096 + 4));
  EXPECT_TRUE(RecoveredAfterAnUnfinishedWrite(path) == original) << "a journal of this version was not undone";
  EXPECT_FALSE(std::filesystem::exists(jet::JournalPath(path)));

  // The same with one byte of the second record's page torn: only page 3 comes back.
  std::string torn = current_journal;
  torn[32 + (4 + 4096 + 4) + 4 + 2000] ^= 0x01;
  write_journal(torn);
  const std::string after = RecoveredAfterAnUnfinishedWrite(path);
  ASSERT_EQ(after.size(), original.size()) << "the file keeps its old length whatever the records";
  EXPECT_TRUE(after.substr(3 * 4096, 4096) == page_of(3));
  EXPECT_EQ(after.substr(7 * 4096, 4096), std::string(4096, '\x5A')) << "a torn record was copied back";

  // A version 1 journal.
  write_journal(JournalOfVersionOne(page_count, {{3, page_of(3)}, {7, page_of(7)}}));
  EXPECT_TRUE(RecoveredAfterAnUnfinishedWrite(path) == original) << "a journal of version 1 was not undone";
}

// (Access lock files, stale and held: EngineSharing.TableSetsRefuseAFileAnotherProgramIsWriting.)
TEST(PagerWrite, OneWriteAtATime) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  auto first = Pager::Open(path, Pager::Mode::kReadWrite);
  auto second = Pager::Open(path, Pager::Mode::kReadWrite);
  ASSERT_TRUE(first.ok() && second.ok()) << "handles may be open side by side";
  second.value()->set_lock_wait_ms(50);
  ASSERT_TRUE(first.value()->BeginWrite().ok());
  first.value()->MutablePage(5).value()[200] = 0xAB;
  ASSERT_TRUE(velloran_test::FailsWith(second.value()->BeginWrite(), jet::ErrorCode::kLocked, {"in use"}));
  ASSERT_TRUE(first.value()->Commit().ok());
  // The second handle's turn: it starts from the first one's committed change, not its old cache.
  ASSERT_TRUE(second.value()->BeginWrite().ok());
  EXPECT_EQ(second.value()->ReadPage(5).value()[200], 0xAB);
  second.value()->Rollback();
  // A reader that read before the commit sees it at its next read.
  ASSERT_OK_LET(reader, Pager::Open(path));
  ASSERT_TRUE(reader.value()->BeginRead().ok());
  uint8_t before = reader.value()->ReadPage(5).value()[201];
  reader.value()->EndRead();
  ASSERT_TRUE(first.value()->BeginWrite().ok());
  first.value()->MutablePage(5).value()[201] = static_cast<uint8_t>(before + 1);
  ASSERT_TRUE(first.value()->Commit().ok());
  ASSERT_TRUE(reader.value()->BeginRead().ok());
  EXPECT_EQ(reader.value()->ReadPage(5).value()[201], static_cast<uint8_t>(before + 1));
  reader.value()->EndRead();
}

// ---------------------------------------------------------------------------------------------
// A database the user may write in a folder the user may not: every change needs its journal
// beside the file, so the file opens for reading only, and the reason given is the folder (named,
// with where the journal must go), not a "read-only file" the user could not find.

namespace fs = std::filesystem;

// Runs `body` as a user without special rights (a child that gives up root when the tests run
// as root) and returns what it wrote to its pipe; "skip: ..." when no such user can be had.
std::string AsOrdinaryUser(const std::function<std::string()>& body) {
  int out[2];
  if (pipe(out) != 0) return "skip: no pipe";
  const pid_t pid = velloran_test::ForkChild([&] {
    close(out[0]);
    std::string said = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0) ? body() : "skip: cannot become nobody";
    return write(out[1], said.data(), said.size()) < 0 ? 1 : 0;
  });
  close(out[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  velloran_test::WaitFor(pid);
  return said;
}

TEST(ReadOnlyFolder, AWritableFileInAFolderThatIsNotSaysTheFolderAndTheJournal) {
  REQUIRE_SHARED_FIXTURES();
  velloran_test::ScratchDir scratch;
  const fs::path folder = fs::path(scratch.path()) / "locked";
  fs::create_directory(folder);
  const std::string path = scratch.CopyOfSongs("locked/songs.mdb");
  fs::permissions(path, fs::perms(0666));  // anyone may write the file, but only read the folder
  fs::permissions(folder, fs::perms(0555));
  fs::permissions(scratch.path(), fs::perms(0755));
  const std::string said = AsOrdinaryUser([&]() -> std::string {
    auto refused = jet::WritableDatabase::Open(path);
    if (refused.ok()) return "the folder was not noticed";
    if (refused.error().code() != jet::ErrorCode::kReadOnly) return "not kReadOnly: " + refused.error().message();
    // Opened to read and write, the file is read, and a write says why it cannot be.
    auto db = jet::Database::Open(path, jet::Pager::Mode::kReadWrite);
    if (!db.ok()) return "not opened for reading: " + db.error().message();
    if (!db.value()->ReadTable("MyList").ok()) return "not readable";
    jet::Status write = db.value()->Write([] { return jet::Status::Ok(); });
    if (write.ok() || write.error().message() != refused.error().message()) return "a write said otherwise";
    return refused.error().message();
  });
  fs::permissions(folder, fs::perms::owner_all);
  if (said.rfind("skip: ", 0) == 0) GTEST_SKIP() << said.substr(6);
  EXPECT_NE(said.find("folder " + folder.string()), std::string::npos) << said;
  EXPECT_NE(said.find(path + "-journal"), std::string::npos) << "where the journal must go: " << said;
  EXPECT_NE(said.find("copy the database to a folder you can write"), std::string::npos) << "what to do: " << said;
}

}  // namespace
