// The song book and the favourites key, timed as a host meets them.
//   - the PDF of a 10,000-song book: the flagged songs read, laid out and written (goal < 3 s);
//   - a favourites toggle (CTRL-1) in the real window on Qt's offscreen platform, the durable
//     write and the redraw included (goal: median < 5 ms), beside what one bare flush of a page
//     costs on the same disk: a durable write needs several (journal, file, commit point), and
//     beside the same one-row change made durable by SQLite, in its default rollback journal and in
//     its write-ahead log, on a table of the same size.
// usage: book_bench [RUNS]   (default 21 toggles)
#include <QApplication>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/demo_catalogue.h"
#include "app/qt/program_window.h"
#include "catalogue/engine.h"
#include "platform/scripted_dialog_host.h"
#include "print/book_rows.h"
#include "print/qt/painter_book_surface.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

double Median(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// One page rewritten in place and flushed (fdatasync), as each step of a durable write does.
double BareFlushMillis(const fs::path& folder, int runs) {
  const std::string path = (folder / "flush.bin").string();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  std::vector<char> page(4096, 'x');
  std::vector<double> ms;
  bool ok = ::pwrite(fd, page.data(), page.size(), 0) == static_cast<ssize_t>(page.size()) && ::fsync(fd) == 0;
  for (int i = 0; ok && i < runs; ++i) {
    page[0] = static_cast<char>(i);
    const Clock::time_point t = Clock::now();
    ok = ::pwrite(fd, page.data(), page.size(), 0) == static_cast<ssize_t>(page.size()) && ::fdatasync(fd) == 0;
    ms.push_back(Millis(t));
  }
  ::close(fd);
  fs::remove(path);
  return ok ? Median(ms) : -1;
}

// The favourites flag of one song flipped by SQLite, durably (synchronous=FULL), on a table of
// `songs` rows with the flag indexed as ours is: the peer's cost of the same change on this disk.
double SqliteToggleMillis(const fs::path& folder, const char* journal_mode, int songs, int runs) {
  const std::string path = (folder / (std::string("peer-") + journal_mode + ".sqlite")).string();
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) return -1;
  const std::string setup = std::string("PRAGMA journal_mode=") + journal_mode + "; PRAGMA synchronous=FULL;" +
                            "CREATE TABLE Songs(ID INTEGER PRIMARY KEY, Song TEXT, Artist TEXT, HotlistA INTEGER);"
                            "CREATE INDEX HotlistA ON Songs(HotlistA);"
                            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" + std::to_string(songs) +
                            ") INSERT INTO Songs SELECT i, 'Song ' || i, 'Artist ' || (i % 997), 0 FROM n;";
  bool ok = sqlite3_exec(db, setup.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  std::vector<double> ms;
  for (int i = 0; ok && i <= runs; ++i) {
    const Clock::time_point t = Clock::now();
    ok = sqlite3_exec(db, "UPDATE Songs SET HotlistA = 1 - HotlistA WHERE ID = 3", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (i > 0) ms.push_back(Millis(t));
  }
  sqlite3_close(db);
  return ok ? Median(ms) : -1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
  const fs::path folder = fs::temp_directory_path() / ("book-bench-" + std::to_string(::getpid()));
  fs::create_directories(folder);
  const std::string db = (folder / "songs.mdb").string();
  if (!velloran::BuildDemoCatalogue(db, 10000).ok()) {
    std::fprintf(stderr, "book_bench: could not build the catalogue in %s\n", folder.c_str());
    return 1;
  }
  velloran::Connection::Open(db)->Execute("UPDATE [Songs] SET [PrintYN]=True");

  const velloran::DatabaseEntry entry{db, "Songs", "Artist", "Song", "SongNumber", "DiskID"};
  const Clock::time_point start = Clock::now();
  const std::vector<velloran::BookRow> rows = velloran::ReadBookRows(entry, velloran::BookOrder::kSong);
  int pages = 0;
  const std::string error = velloran::WritePdf((folder / "book.pdf").string(), velloran::DefaultBookLayout(), "bench",
                                               [&](velloran::BookSurface& s) { pages = DrawBook(s, rows, {}); });
  const double pdf_ms = Millis(start);
  if (!error.empty()) std::fprintf(stderr, "book_bench: %s\n", error.c_str());
  std::printf("PDF of %zu songs, %d pages: %.0f ms (goal < 3000 ms)\n", rows.size(), pages, pdf_ms);

  velloran::ScriptedDialogHost dialogs;
  fs::create_directories(folder / "settings");
  velloran::ProgramWindow window((folder / "settings").string(), &dialogs);
  window.Start("velloran", "", db);
  window.logic.form.GetSongs("SELECT * FROM [Songs] WHERE [ID]<=50", "[ID]");
  window.logic.CurrentRow = 3;
  std::vector<double> ms;
  for (int i = 0; i <= runs; ++i) {
    const Clock::time_point t = Clock::now();
    window.logic.Form_KeyDown('1', 2);
    if (i > 0) ms.push_back(Millis(t));  // the first warms the caches
  }
  std::printf("favourites toggle in the window: median %.2f ms over %d (goal < 5 ms)\n", Median(ms), runs);
  std::printf("one bare flush of a page on this disk: median %.2f ms\n", BareFlushMillis(folder, runs));
  std::printf("the same toggle in SQLite, durable: median %.2f ms (rollback journal), %.2f ms (write-ahead log)\n",
              SqliteToggleMillis(folder, "DELETE", 10000, runs), SqliteToggleMillis(folder, "WAL", 10000, runs));
  fs::remove_all(folder);
  return 0;
}
