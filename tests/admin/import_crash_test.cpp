// The folder import killed at random moments: after every kill the database passes the engine's
// check and every file that was given a song number as its name has the row with that number.
#include <signal.h>

#include <chrono>
#include <random>
#include <thread>

#include "admin/folder_import.h"
#include "tests/admin/admin_support.h"

namespace velloran_test {
namespace {

using Clock = std::chrono::steady_clock;

struct Library {
  ScratchDir dir;
  std::string db = dir.File("songs.mdb"), tracks = dir.File("tracks");

  explicit Library(int n) {
    MakeSongTable(db, "Songs", {100});
    ScriptedHost host;  // the fields the import adds, there before any kill, for the rows' read-back
    AddImportFields(*Connection::Open(db), "Songs", host);
    for (int i = 0; i < n; ++i) Touch(tracks, {"Artist " + std::to_string(i) + " - Title.mp3"});
    for (int i = 0; i < n; i += 2) Touch(tracks, {"Artist " + std::to_string(i) + " - Title.cdg"});
  }
  pid_t Start() const {
    return Spawn({VELLORAN_PROGRAM, "import", db, "Songs", tracks, "--rename", "--batch-rows", "20"},
                 dir.File("out.txt"));
  }
};

TEST(ImportCrash, EveryRenamedFileHasItsRowAfterAKill) {
  const int kills = static_cast<int>(NumberFromEnvironment("VELLORAN_IMPORT_KILLS", 20));
  // How long an import runs to its end, to spread the kills over it.
  const Library whole(300);
  const Clock::time_point start = Clock::now();
  const int status = WaitFor(whole.Start());
  const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadWholeFile(whole.dir.File("out.txt"));
  std::mt19937 random(20261206);
  std::uniform_int_distribution<int64_t> moment(0, micros);
  int renamed_seen = 0;
  for (int k = 0; k < kills; ++k) {
    SCOPED_TRACE("kill " + std::to_string(k));
    Library lib(300);
    pid_t pid = lib.Start();
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    WaitFor(pid);
    ASSERT_TRUE(PassesJetCheck(lib.db));
    std::set<std::string> numbers;
    for (const std::string& row : SongRows(lib.db, "Songs")) numbers.insert(row.substr(0, row.find('|')));
    for (const std::string& name : NamesIn(lib.tracks)) {
      if (name.rfind("Artist ", 0) == 0) continue;
      ++renamed_seen;
      EXPECT_TRUE(numbers.count(name.substr(0, name.find('.')))) << name << " was renamed without its row";
    }
  }
  // The kills are spread over the whole run: some of them must have found files renamed.
  EXPECT_GT(renamed_seen, 0);
}

}  // namespace
}  // namespace velloran_test
