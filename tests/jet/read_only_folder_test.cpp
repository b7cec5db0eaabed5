// A database the user may write in a folder the user may not: every change needs its journal
// beside the file, so the file opens for reading only, and the reason given is the folder (named,
// with where the journal must go), not a "read-only file" the user could not find.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "jet/writable_database.h"
#include "tests/jet/test_support.h"

namespace {

namespace fs = std::filesystem;

// Runs `body` as a user without special rights (a child that gives up root when the tests run
// as root) and returns what it wrote to its pipe; "skip: ..." when no such user can be had.
std::string AsOrdinaryUser(const std::function<std::string()>& body) {
  int out[2];
  if (pipe(out) != 0) return "skip: no pipe";
  const pid_t pid = fork();
  if (pid == 0) {
    close(out[0]);
    std::string said = geteuid() != 0 || (setgid(65534) == 0 && setuid(65534) == 0) ? body() : "skip: cannot become nobody";
    if (write(out[1], said.data(), said.size()) < 0) _exit(1);
    _exit(0);
  }
  close(out[1]);
  std::string said;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  waitpid(pid, nullptr, 0);
  return said;
}

TEST(ReadOnlyFolder, AWritableFileInAFolderThatIsNotSaysTheFolderAndTheJournal) {
  REQUIRE_SHARED_FIXTURES();
  velloran_test::ScratchDir scratch;
  const fs::path folder = fs::path(scratch.path()) / "locked";
  fs::create_directory(folder);
  const std::string path = (folder / "songs.mdb").string();
  fs::copy_file(velloran_test::FixturePath("generated/songsV2000.mdb"), path);
  fs::permissions(path, fs::perms::all & ~(fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec));
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read | fs::perms::group_exec |
                              fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(scratch.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec);
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
