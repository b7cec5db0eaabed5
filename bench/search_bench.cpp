// How long a host waits for a search, against SQLite and mdb-sql on the same songs.
//
// Catalogues of 100,000 and 1,000,000 songs in two word mixes (bench/common/song_catalogue.h:
// "even", and "zipf", whose word frequencies fall with their rank as real titles' do), each made
// with the engine (the program's song table: ID, SongNumber, DiskID, Song, Artist, PrintYN,
// HotlistA with plain indexes PrimaryKey(ID), SongNumber, Song, Artist, HotlistA) and as SQLite
// with the same rows and indexes (Song and Artist compared without regard to case, as Access does).
//
// For each search shape (a common word, a word at the density where an index walk stops paying,
// a rare but present phrase, two words, no match, the empty text, a number) it times one Enter in
// the search box: the whole Frm_Karaoke search (CheckDatabase, opening the database, the query
// with its ORDER BY, copying at most 1,001 rows), warm (the same search again; ours and SQLite's
// two plans in turns, so that the host's busy spells fall on every side alike), cold (the first
// search after another process wrote the file) and first (the first search of a freshly started
// process, timed inside it from opening the catalogue to the end of the search: the median of
// three processes), with nothing kept (the process folds and orders the texts afresh, and keeps
// them in a folder beside the catalogue, <name>-kept, as the program keeps them in its cache
// folder) and with what such a process kept. Before a cold or first search the files are read
// into the system's cache, on either side: this machine gives back the memory of files unread
// for a minute, and a search that then reads the disk measures the disk. A first search's
// process starts with the memory the one before it let go of still at hand; a virtual machine
// that hands idle memory back to its host (this one does, a couple of seconds after it was let
// go) makes a process started after a pause touch each new page at the host's cost:
// SEARCH_BENCH_SETTLE=SECONDS waits that long before each first search, on either side, to
// measure what a program started after a pause meets. SQLite keeps one
// connection with a page cache as large as the engine's share of pages, steps and copies the
// same 1,001 rows, and is
// timed with its default plan and with the plan a one-character hint gives it (ORDER BY +Song,
// which sorts the matches instead of walking the Song index); the better of the two is the one
// compared. Its cold search follows a write by another process too, and its first search is a
// fresh process's on a fresh connection, with the better plan. mdb-sql is a whole process per
// search that prints every match (not 1,001) without sorting: a reference only.
//
// Then the peak memory of a process that opens the catalogue and searches twice (ours and SQLite's,
// each a fresh process of this program; ours with nothing kept and with a kept file); "love" on
// a copy as a host's edits leave a catalogue (every 100th title lengthened, so that most of those
// rows move to another page), ours warm, cold, first and kept; and the density curve: the warm
// time of searches whose texts match from 0.01% to 50% of the songs, with the step from each
// density to the next.
//
// Catalogues are kept in FOLDER (default: bench-data/ in the build folder), so a second run
// starts at once.
//
// usage: search_bench [RUNS [SIZES [FOLDER]]]   (defaults: 15 runs, sizes "100000,1000000")
// Environment: SEARCH_BENCH_MIX=even|zipf (default both); SEARCH_BENCH_CURVE=0 leaves out the
// density curve; SEARCH_BENCH_MDB=0 leaves out mdb-sql; SEARCH_BENCH_ONLY=TEXT times only the
// search for TEXT, ours alone, with the fastest run and the processor time (for profiling), and
// with SEARCH_BENCH_COLD=1 its cold and first-search figures too; SEARCH_BENCH_SETTLE=SECONDS
// (default 0) pauses before each first search, as above.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/common/bench_processes.h"
#include "bench/common/density_texts.h"
#include "bench/common/song_catalogue.h"
#include "catalogue/catalogue_host.h"
#include "catalogue/engine.h"
#include "mainwindow/frm_karaoke.h"
#include "catalogue/search_query.h"
#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/sql/kept_texts.h"
#include "jet/sql/sql_select.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using jet::Value;

using bench::Lower;
using bench::MedianOfProcesses;
using bench::PeakMegabytesOf;
using bench::PrintPeakMemory;
using bench::TextsAtDensities;

double Millis(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "search_bench: %s\n", message.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------------------------
// Making the catalogues.

constexpr const char* kHotlist = "0100000000";

// ---------------------------------------------------------------------------------------------
// Making the catalogues.

jet::TableDesign SongTableDesign() {
  auto column = [](const char* name, jet::ColumnType type, uint16_t size = 255) {
    jet::ColumnDesign c;
    c.name = name;
    c.type = type;
    c.size = size;
    return c;
  };
  auto index = [](const char* name, const char* column) {
    jet::IndexDesign i;
    i.name = name;
    i.columns = {{column}};
    return i;
  };
  using jet::ColumnType;
  return {"MyList",
          {column("ID", ColumnType::kLong), column("SongNumber", ColumnType::kLong), column("DiskID", ColumnType::kText),
           column("Song", ColumnType::kText), column("Artist", ColumnType::kText), column("PrintYN", ColumnType::kBoolean),
           column("HotlistA", ColumnType::kText, 10)},
          {index("PrimaryKey", "ID"), index("SongNumber", "SongNumber"), index("Song", "Song"), index("Artist", "Artist"),
           index("HotlistA", "HotlistA")}};
}

void CheckOk(const jet::Status& s, const std::string& what) {
  if (!s.ok()) Die(what + ": " + s.error().message());
}

void MakeEngineCatalogue(const std::string& path, int64_t songs, bench::WordMix mix) {
  CheckOk(jet::CreateDatabase(path), "creating " + path);
  auto opened = jet::WritableDatabase::Open(path);
  if (!opened.ok()) Die(opened.error().message());
  jet::WritableDatabase& db = *opened.value();
  CheckOk(jet::CreateTable(db, SongTableDesign()), "creating the song table");
  bench::SongMaker maker(mix);
  constexpr int64_t kBatch = 5000;
  for (int64_t done = 0; done < songs; done += kBatch) {
    CheckOk(db.Write([&]() -> jet::Status {
              JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable("MyList"));
              JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
              for (int64_t i = done; i < std::min(songs, done + kBatch); ++i) {
                const bench::Song s = maker.Next();
                std::vector<Value> row = {s.id, s.number, jet::FromUtf8(s.disk), jet::FromUtf8(s.title),
                                          jet::FromUtf8(s.artist), s.print,
                                          s.has_hotlist ? Value(jet::FromUtf8(kHotlist)) : Value(jet::Null{})};
                JET_RETURN_IF_ERROR(writer->Insert(std::move(row)).status());
              }
              return jet::Status::Ok();
            }),
            "adding songs");
  }
}

struct SqliteDb {
  sqlite3* db = nullptr;
  explicit SqliteDb(const std::string& path, int flags) {
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) Die("sqlite: cannot open " + path);
  }
  ~SqliteDb() { sqlite3_close(db); }
  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) Die("sqlite: " + std::string(error) + " in " + sql);
  }
};

void MakeSqliteCatalogue(const std::string& path, int64_t songs, bench::WordMix mix) {
  SqliteDb s(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  s.Exec("CREATE TABLE MyList (ID INTEGER, SongNumber INTEGER, DiskID TEXT, Song TEXT COLLATE NOCASE, "
         "Artist TEXT COLLATE NOCASE, PrintYN INTEGER NOT NULL, HotlistA TEXT); BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(s.db, "INSERT INTO MyList VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
  bench::SongMaker maker(mix);
  for (int64_t i = 0; i < songs; ++i) {
    const bench::Song song = maker.Next();
    sqlite3_bind_int64(insert, 1, song.id);
    sqlite3_bind_int64(insert, 2, song.number);
    sqlite3_bind_text(insert, 3, song.disk.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, song.title.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 5, song.artist.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 6, song.print ? 1 : 0);
    if (song.has_hotlist) sqlite3_bind_text(insert, 7, kHotlist, -1, SQLITE_STATIC);
    else sqlite3_bind_null(insert, 7);
    if (sqlite3_step(insert) != SQLITE_DONE) Die(std::string("sqlite: ") + sqlite3_errmsg(s.db));
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  s.Exec("COMMIT");
  for (const char* column : {"ID", "SongNumber", "Song", "Artist", "HotlistA"}) {
    s.Exec(std::string("CREATE INDEX MyList_") + column + " ON MyList(" + column + ")");
  }
  s.Exec("ANALYZE");
}

// Makes the file unless a finished one is there; a run cut short leaves only a ".part" behind.
void Cached(const fs::path& path, const std::function<void(const std::string&)>& make) {
  if (fs::exists(path)) return;
  const fs::path part = path.string() + ".part";
  fs::remove(part);
  const Clock::time_point start = Clock::now();
  make(part.string());
  fs::rename(part, path);
  std::printf("  made %s in %.1f s\n", path.c_str(), Millis(start) / 1000);
}

// ---------------------------------------------------------------------------------------------
// Timing.

struct Figures {
  double median = 0, p90 = 0, fastest = 0;
  double cpu_median = 0;  // the thread's processor time: steadier than wall time on a busy machine
};

double ThreadCpuMillis() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

Figures Summarize(std::vector<double> ms, std::vector<double> cpu) {
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  const size_t p90 = std::min(ms.size() - 1, static_cast<size_t>(0.9 * static_cast<double>(ms.size())));
  return {ms[ms.size() / 2], ms[p90], ms[0], cpu.empty() ? 0 : cpu[cpu.size() / 2]};
}

// The wall and processor times of the runs timed so far.
struct Timings {
  std::vector<double> ms, cpu;
  void Run(const std::function<void()>& run) {
    const double cpu_start = ThreadCpuMillis();
    const Clock::time_point start = Clock::now();
    run();
    ms.push_back(Millis(start));
    cpu.push_back(ThreadCpuMillis() - cpu_start);
  }
  Figures Summary() { return Summarize(std::move(ms), std::move(cpu)); }
};

// Warm: the run once untimed, then `runs` timed runs. With `before`, each run is timed after
// `before` ran (untimed) instead: cold runs.
Figures Time(int runs, const std::function<void()>& run, const std::function<void()>& before = nullptr) {
  if (!before) run();
  Timings timings;
  for (int i = 0; i < runs; ++i) {
    if (before) before();
    timings.Run(run);
  }
  return timings.Summary();
}

// Warm runs of several sides, taken in turns of three timed runs each, every turn after three
// untimed runs of its own side. The host of this virtual machine takes its processors away in
// spells of tens of milliseconds, longer than a whole block of small searches: timed one block
// after another, one side may fall in a spell and the other not. In turns, a spell falls on every
// side alike. The untimed runs give each turn back the caches the other sides' work emptied, so
// that a turn times the same search again, as the host repeats it, not a search after another
// program's: after SQLite's turn, our 0.11 ms number search takes 0.145, 0.13 and 0.12 ms in its
// second to fourth runs; SQLite's 0.34 ms, after ours, 0.36-0.40 in its second.
std::vector<Figures> TimeInTurns(int runs, const std::vector<std::function<void()>>& sides) {
  constexpr int kRunsPerTurn = 3, kUntimedRunsPerTurn = 3;
  std::vector<Timings> timings(sides.size());
  for (int done = 0; done < runs; done += kRunsPerTurn) {
    for (size_t side = 0; side < sides.size(); ++side) {
      for (int i = 0; i < kUntimedRunsPerTurn; ++i) sides[side]();
      for (int i = 0; i < std::min(kRunsPerTurn, runs - done); ++i) timings[side].Run(sides[side]);
    }
  }
  std::vector<Figures> figures;
  for (Timings& side : timings) figures.push_back(side.Summary());
  return figures;
}

// The program's side: the form, drawing nowhere, with a host that only keeps what it was told.
class SilentHost : public velloran::CatalogueHost {
 public:
  std::vector<std::string> messages;
  velloran::MessageAnswer ShowMessage(const std::string& text, velloran::MessageButtons) override {
    messages.push_back(text);
    return velloran::MessageAnswer::kCancel;
  }
  void ShowTableSelector() override {}
  void SetSelectTableEnabled(bool) override {}
  void EndProgramAtOnce() override { Die("the program would have ended: " + (messages.empty() ? "" : messages.back())); }
};

class BlankSurface : public velloran::KaraokeSurface {
 public:
  void ClearAndPrint(const std::string&) override {}
  void MakeTopMost() override {}
  void ShowSongs() override {}
};

// The main window's logic on one catalogue, checked and ready.
struct Form {
  SilentHost host;
  BlankSurface surface;
  velloran::Frm_Karaoke form{surface, host};
  explicit Form(const std::string& mdb) {
    form.Databases.entries.push_back({mdb, "MyList", "Artist", "Song", "SongNumber", "DiskID"});
    form.Databases.CurrentDB = 1;
    if (!form.CheckDatabase()) Die("the catalogue is not ready: " + (host.messages.empty() ? "" : host.messages.back()));
  }
  int Search(const std::string& text) {
    form.SearchText = text;
    form.BuildWhereClause();
    return form.Results.count();
  }
};

struct Search {
  std::string label;
  std::string text;  // what the host types
};

// The SQLite side of a search: the condition the program builds, in SQLite's words. A number
// searches song numbers from it up; a text is looked for in titles and artists.
struct SqliteQuery {
  std::string where, order_default, order_best;
};

SqliteQuery SqliteQueryFor(const std::string& text) {
  if (!text.empty() && std::isdigit(static_cast<unsigned char>(text[0]))) {
    return {"SongNumber >= " + text, " ORDER BY SongNumber", " ORDER BY SongNumber"};
  }
  std::string pattern;
  for (char c : text) pattern += c == '\'' ? std::string("''") : c == '*' ? std::string("%") : std::string(1, c);
  return {"Song LIKE '%" + pattern + "%' OR Artist LIKE '%" + pattern + "%'", " ORDER BY Song, Artist",
          " ORDER BY +Song, Artist"};
}

std::string SqliteSelect(const SqliteQuery& q, bool best) {
  return "SELECT * FROM MyList WHERE " + q.where + (best ? q.order_best : q.order_default) + " LIMIT 1001";
}

// Rows the SELECT finds through the engine, counted without the form (not timed).
int64_t EngineCount(const std::string& path, const std::string& text) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) Die(db.error().message());
  const velloran::SearchQuery query = velloran::BuildSearchQuery("MyList", text);
  auto cursor = jet::ExecuteSelect(*db.value(), query.sql);
  if (!cursor.ok()) Die(cursor.error().message());
  int64_t n = 0;
  while (true) {
    auto more = cursor.value()->Next();
    if (!more.ok()) Die(more.error().message());
    if (!more.value()) return n;
    ++n;
  }
}

// One SQLite connection kept open, with a page cache as large as the engine's share of pages.
class SqliteSide {
 public:
  explicit SqliteSide(const std::string& path) : db_(path, SQLITE_OPEN_READWRITE) {
    db_.Exec("PRAGMA cache_size = -" + std::to_string(jet::SharedPages::kMaxBytes / 1024));
  }
  // Prepares, steps and copies up to 1,001 rows, as the form does; returns how many.
  int Search(const std::string& sql) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db_.db, sql.c_str(), -1, &query, nullptr) != SQLITE_OK) Die(std::string("sqlite: ") + sqlite3_errmsg(db_.db));
    rows_.clear();
    while (sqlite3_step(query) == SQLITE_ROW) {
      velloran::ResultRow row;
      auto text = [&](int i) {
        const unsigned char* t = sqlite3_column_text(query, i);
        return t == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(t));
      };
      row.ID = sqlite3_column_int(query, 0);
      row.SongNumber = text(1);
      row.DiskID = text(2);
      row.Song = text(3);
      row.Artist = text(4);
      row.PrintYN = sqlite3_column_int(query, 5) != 0;
      rows_.push_back(std::move(row));
    }
    sqlite3_finalize(query);
    return static_cast<int>(rows_.size());
  }
  int64_t Count(const std::string& where) {
    sqlite3_stmt* query = nullptr;
    sqlite3_prepare_v2(db_.db, ("SELECT COUNT(*) FROM MyList WHERE " + where).c_str(), -1, &query, nullptr);
    const int64_t n = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int64(query, 0) : -1;
    sqlite3_finalize(query);
    return n;
  }

 private:
  SqliteDb db_;
  std::vector<velloran::ResultRow> rows_;
};

// Another process writes both catalogues (one song's PrintYN flips), so that the next search
// meets a file changed under it, as after a host's edit in another program.
// `sqlite` empty: the .mdb alone.
void WriteFromAnotherProcess(const std::string& mdb, const std::string& sqlite) {
  static int flips = 0;
  const bool print = ++flips % 2 == 1;
  const pid_t pid = fork();
  if (pid < 0) Die("cannot fork");
  if (pid == 0) {
    velloran::Connection::Open(mdb)->Execute(std::string("UPDATE [MyList] SET [PrintYN] = ") + (print ? "True" : "False") +
                                             " WHERE [ID] = 1");
    if (!sqlite.empty()) {
      SqliteDb s(sqlite, SQLITE_OPEN_READWRITE);
      s.Exec(std::string("UPDATE MyList SET PrintYN = ") + (print ? "1" : "0") + " WHERE ID = 1");
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("the writing process failed");
  // The cold search that follows finds the files in the system's cache, as a host's would.
  bench::ReadIntoSystemCache(sqlite.empty() ? std::vector<fs::path>{mdb} : std::vector<fs::path>{mdb, sqlite});
}

// mdb-sql reading the query from a file, its output thrown away; the whole process is timed.
void MdbSqlSearch(const std::string& mdb, const std::string& query_file) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> args = {"mdb-sql", "-H", "-F", "-P", "-i", query_file, mdb};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, "mdb-sql", &actions, nullptr, argv.data(), environ) != 0) Die("cannot start mdb-sql");
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Die("mdb-sql failed on " + query_file);
}

bool HaveMdbSql() { return std::system("command -v mdb-sql >/dev/null 2>&1") == 0; }

std::string Ratio(double ours, double theirs) {
  if (theirs <= 0) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, ours <= theirs ? "%.1fx faster" : "%.1fx slower", ours <= theirs ? theirs / ours : ours / theirs);
  return buf;
}

// One catalogue in both forms, and what the run measures on it.
struct Bench {
  fs::path folder, mdb, sqlite;
  std::string stem;  // the files' name without extension
  int64_t songs = 0;
  bench::WordMix mix = bench::WordMix::kEven;
  int runs = 0;
  bool mdb_sql = false;
  const char* only = nullptr;  // SEARCH_BENCH_ONLY
};

std::optional<Figures> TimeMdbSql(const Bench& b, const std::string& text) {
  if (!b.mdb_sql) return std::nullopt;
  const fs::path query_file = b.folder / (b.stem + "-query.sql");
  FILE* f = std::fopen(query_file.c_str(), "w");
  if (f == nullptr) Die("cannot write " + query_file.string());
  SqliteQuery q = SqliteQueryFor(text);
  std::string where = q.where;
  for (size_t at; (at = where.find(" LIKE ")) != std::string::npos;) where.replace(at, 6, " ilike ");
  std::fprintf(f, "SELECT * FROM MyList WHERE %s\ngo\n", where.c_str());
  std::fclose(f);
  return Time(std::max(3, b.runs / 5), [&] { MdbSqlSearch(b.mdb.string(), query_file.string()); });
}

struct Measured {
  Figures warm, cold, lite_best, lite_default, lite_cold;
  // The first search of a freshly started process, opening included: with nothing kept (the
  // process builds and keeps what it searches), with what such a process kept, and SQLite's.
  double first = 0, first_kept = 0, lite_first = 0;
};

// The first search in a process of its own, from opening the catalogue to the end of the search
// (the file in the system's cache, read into it just before): ours, and SQLite's on a fresh
// connection with the plan `best` says.
constexpr int kFirstProcesses = 3;

// Ours on `mdb`, keeping in `kept`: with nothing kept, then with what such a process kept (its
// files in the system's cache too).
// The pause before each first search (SEARCH_BENCH_SETTLE), after its files were read into the
// system's cache.
void Settle() {
  static const double seconds = [] {
    const char* settle = std::getenv("SEARCH_BENCH_SETTLE");
    return settle == nullptr ? 0.0 : std::atof(settle);
  }();
  if (seconds > 0) std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::pair<double, double> FirstAndKept(const fs::path& mdb, const std::string& text, const fs::path& kept) {
  const std::vector<std::string> args = {"--first-search", mdb.string(), text, kept.string()};
  const double first = MedianOfProcesses(kFirstProcesses, args, [&] {
    fs::remove_all(kept);
    bench::ReadIntoSystemCache({mdb});
    Settle();
  });
  return {first, MedianOfProcesses(kFirstProcesses, args, [&] {
            bench::ReadIntoSystemCache({mdb, kept});
            Settle();
          })};
}

void TimeFirstSearches(const Bench& b, const Search& search, bool best, Measured& m) {
  std::tie(m.first, m.first_kept) = FirstAndKept(b.mdb, search.text, b.folder / (b.stem + "-kept"));
  m.lite_first = MedianOfProcesses(kFirstProcesses, {"--sqlite-first", b.sqlite.string(), SqliteSelect(SqliteQueryFor(search.text), best)}, [&] {
    bench::ReadIntoSystemCache({b.sqlite});
    Settle();
  });
}

Measured RunSearch(const Bench& b, Form& form, SqliteSide& lite, const Search& search) {
  // The same rows first: the engine must find what SQLite finds.
  const SqliteQuery q = SqliteQueryFor(search.text);
  const int64_t found = EngineCount(b.mdb.string(), search.text);
  const int64_t sqlite_found = lite.Count(q.where);
  if (found != sqlite_found) {
    Die(search.label + ": the engine finds " + std::to_string(found) + " rows, SQLite " + std::to_string(sqlite_found));
  }
  const int expected = static_cast<int>(std::min<int64_t>(found, form.form.MaxResults + 1));
  Measured m;
  const auto ours = [&] {
    if (form.Search(search.text) != expected) Die(search.label + ": the form kept a different number of rows");
  };
  auto sqlite_run = [&](bool best) {
    return [&, best] {
      if (lite.Search(SqliteSelect(q, best)) != expected) Die(search.label + ": SQLite stepped a different number of rows");
    };
  };
  if (b.only != nullptr) {
    m.warm = Time(b.runs, ours);
    std::printf("%-24s %8lld %8.2f /%7.2f (fastest %.2f, processor time %.2f)\n", search.label.c_str(),
                static_cast<long long>(found), m.warm.median, m.warm.p90, m.warm.fastest, m.warm.cpu_median);
    if (std::getenv("SEARCH_BENCH_COLD") != nullptr) {
      m.cold = Time(std::max(3, b.runs / 3), [&] { form.Search(search.text); },
                    [&] { WriteFromAnotherProcess(b.mdb.string(), b.sqlite.string()); });
      std::printf("%-24s cold %8.2f /%7.2f (fastest %.2f, processor time %.2f)\n", search.label.c_str(), m.cold.median,
                  m.cold.p90, m.cold.fastest, m.cold.cpu_median);
      TimeFirstSearches(b, search, true, m);
      std::printf("%-24s first search of a process %8.2f, with what one kept %8.2f (SQLite's, ORDER BY +Song: %.2f)\n",
                  search.label.c_str(), m.first, m.first_kept, m.lite_first);
    }
    return m;
  }
  const int cold_runs = std::max(3, b.runs / 3);
  const auto write = [&] { WriteFromAnotherProcess(b.mdb.string(), b.sqlite.string()); };
  const std::vector<Figures> warm = TimeInTurns(b.runs, {ours, sqlite_run(false), sqlite_run(true)});
  m.warm = warm[0];
  m.lite_default = warm[1];
  m.lite_best = warm[2];
  m.cold = Time(cold_runs, [&] { form.Search(search.text); }, write);
  const bool hint_helps = m.lite_best.median < m.lite_default.median;
  if (!hint_helps) m.lite_best = m.lite_default;
  m.lite_cold = Time(cold_runs, sqlite_run(hint_helps), write);
  TimeFirstSearches(b, search, hint_helps, m);
  const std::optional<Figures> mdb = TimeMdbSql(b, search.text);
  char mdb_text[32] = "-";
  if (mdb) std::snprintf(mdb_text, sizeof mdb_text, "%9.1f", mdb->median);
  std::printf("%-24s %8lld %8.2f %8.2f %8.1f %8.1f %9.2f%s %9.2f %9.2f %8.1f %10s  %s\n", search.label.c_str(),
              static_cast<long long>(found), m.warm.median, m.cold.median, m.first, m.first_kept, m.lite_best.median, hint_helps ? "+" : " ",
              m.lite_default.median, m.lite_cold.median, m.lite_first, mdb_text, Ratio(m.warm.median, m.lite_best.median).c_str());
  std::fflush(stdout);
  return m;
}

// ---------------------------------------------------------------------------------------------
// Search texts by density.

// The songs' titles and artists, lower case, for counting matches of plain ASCII texts (which
// match without regard to case, and no other character folds to an ASCII letter).
std::vector<std::string> SongTexts(const Bench& b) {
  bench::SongMaker maker(b.mix);
  std::vector<std::string> texts;
  texts.reserve(static_cast<size_t>(b.songs) * 2);
  for (int64_t i = 0; i < b.songs; ++i) {
    const bench::Song s = maker.Next();
    texts.push_back(Lower(s.title));
    texts.push_back(Lower(s.artist));
  }
  return texts;
}

void DensityCurve(const Bench& b, Form& form, SqliteSide& lite, const std::vector<std::string>& texts) {
  const std::vector<double> densities = {0.0001, 0.0002, 0.0005, 0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5};
  std::printf("density curve (warm medians, ms; step: this density's time over the one before it)\n");
  std::printf("%-10s %-10s %8s %8s %6s %9s\n", "density", "text", "rows", "ours", "step", "SQLite");
  const std::vector<std::pair<std::string, double>> at = TextsAtDensities(texts, densities);
  // Ours are timed a round at a time, every density once a round: a spell of a busier machine then
  // falls on all densities alike, instead of on one of two neighbours, whose step it would make.
  std::vector<std::vector<double>> ms(at.size()), cpu(at.size());
  for (const auto& [text, density] : at) form.Search(text);
  for (int round = 0; round < b.runs; ++round) {
    for (size_t i = 0; i < at.size(); ++i) {
      const double cpu_start = ThreadCpuMillis();
      const Clock::time_point start = Clock::now();
      form.Search(at[i].first);
      ms[i].push_back(Millis(start));
      cpu[i].push_back(ThreadCpuMillis() - cpu_start);
    }
  }
  double before = 0, worst = 1;
  for (size_t i = 0; i < at.size(); ++i) {
    const auto& [text, density] = at[i];
    const Figures ours = Summarize(ms[i], cpu[i]);
    const SqliteQuery q = SqliteQueryFor(text);
    const Figures a = Time(std::max(3, b.runs / 3), [&] { lite.Search(SqliteSelect(q, true)); });
    const Figures d = Time(std::max(3, b.runs / 3), [&] { lite.Search(SqliteSelect(q, false)); });
    const double step = before > 0 ? std::max(ours.median / before, before / ours.median) : 1;
    worst = std::max(worst, step);
    std::printf("%8.3f%%  %-10s %8lld %8.2f %6.2f %9.2f\n", density * 100, ("\"" + text + "\"").c_str(),
                static_cast<long long>(density * static_cast<double>(b.songs) + 0.5), ours.median, step,
                std::min(a.median, d.median));
    before = ours.median;
  }
  std::printf("largest step between neighbouring densities: %.2fx\n", worst);
}

// A catalogue as a host's edits leave it until it is compacted: every hundredth song's title
// lengthened, so that the rows of those on full pages move to another page.
constexpr int64_t kEditedEvery = 100;
void MakeEditedCatalogue(const fs::path& from, const std::string& path) {
  fs::copy_file(from, path);
  std::vector<std::pair<int64_t, std::string>> titles;
  {
    auto db = jet::Database::Open(path);
    if (!db.ok()) Die(db.error().message());
    auto cursor = jet::ExecuteSelect(*db.value(), "SELECT [ID], [Song] FROM [MyList]");
    if (!cursor.ok()) Die(cursor.error().message());
    for (auto more = cursor.value()->Next(); more.ok() && more.value(); more = cursor.value()->Next()) {
      const int64_t id = std::get<int64_t>(*cursor.value()->Column(0).value());
      if (id % kEditedEvery == 0) titles.emplace_back(id, jet::ToUtf8(std::get<jet::Text>(*cursor.value()->Column(1).value())));
    }
  }
  const std::unique_ptr<velloran::Connection> c = velloran::Connection::Open(path);
  for (auto& [id, title] : titles) {
    for (size_t quote = title.find('\''); quote != std::string::npos; quote = title.find('\'', quote + 2)) title.insert(quote, 1, '\'');
    c->Execute("UPDATE [MyList] SET [Song] = '" + title + " (Recorded Live At The Old Town Hall)' WHERE [ID] = " + std::to_string(id));
  }
}

// "love" on the edited copy of the catalogue: ours warm, cold after another program's write, and
// the first search of a process with nothing kept and with what one kept.
void RunEdited(const Bench& b, Form& unedited) {
  const fs::path edited = b.folder / (b.stem + "-edited.mdb"), kept = b.folder / (b.stem + "-edited-kept");
  Cached(edited, [&](const std::string& p) { MakeEditedCatalogue(b.mdb, p); });
  // A file written a moment ago is read afresh by each search until its change stamp is some clock
  // ticks old (a write could still leave the same stamp): warm means after that.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Form form(edited.string());
  const Figures warm = Time(b.runs, [&] { form.Search("love"); }), before = Time(b.runs, [&] { unedited.Search("love"); });
  const Figures cold = Time(std::max(3, b.runs / 3), [&] { form.Search("love"); }, [&] { WriteFromAnotherProcess(edited.string(), ""); });
  const auto [first, first_kept] = FirstAndKept(edited, "love", kept);
  std::printf("edited by its host (every %lldth title lengthened, most of those rows moved), \"love\": warm %.2f (unedited %.2f), cold %.2f, "
              "first %.1f, kept %.1f\n",
              static_cast<long long>(kEditedEvery), warm.median, before.median, cold.median, first, first_kept);
}

// ---------------------------------------------------------------------------------------------

void RunCatalogue(int64_t songs, bench::WordMix mix, int runs, const fs::path& folder, bool mdb_sql) {
  Bench b;
  b.folder = folder;
  b.songs = songs;
  b.mix = mix;
  b.stem = bench::MixName(mix) + "-" + std::to_string(songs);
  b.mdb = folder / (b.stem + ".mdb");
  b.sqlite = folder / (b.stem + ".sqlite");
  b.runs = runs;
  b.mdb_sql = mdb_sql;
  b.only = std::getenv("SEARCH_BENCH_ONLY");
  Cached(b.mdb, [&](const std::string& p) { MakeEngineCatalogue(p, songs, mix); });
  Cached(b.sqlite, [&](const std::string& p) { MakeSqliteCatalogue(p, songs, mix); });

  Form form(b.mdb.string());
  SqliteSide lite(b.sqlite.string());
  const std::vector<std::string> texts = b.only == nullptr ? SongTexts(b) : std::vector<std::string>{};
  // The density at which walking the Song index for the first rows stops paying: about one
  // song in 256.
  const std::string edge = b.only == nullptr ? TextsAtDensities(texts, {1.0 / 256}).front().first : "";
  const std::vector<Search> searches = {
      {"common word", "love"},   {"common word", "the"},     {"walk/scan edge", edge},
      {"rare, present", "heart of"}, {"two words", "love me"}, {"no match", "zzqx"},
      {"empty", ""},             {"number", "50000"}};

  std::printf("\n%s, %lld songs (%.1f MB .mdb, %.1f MB SQLite), %d runs each (cold: %d); medians in ms\n",
              bench::MixName(mix).c_str(), static_cast<long long>(songs), static_cast<double>(fs::file_size(b.mdb)) / 1e6,
              static_cast<double>(fs::file_size(b.sqlite)) / 1e6, runs, std::max(3, runs / 3));
  if (b.only == nullptr) {
    std::printf("SQLite: one connection kept open; best = with ORDER BY +Song where that is faster (+), else its default "
                "plan. mdb-sql: a whole process printing every match.\n");
    std::printf("first: the first search of a process started afresh, opening included, with nothing kept (ours keeps "
                "its texts and orders in a folder) and with what such a process kept (kept)%s.\n",
                std::getenv("SEARCH_BENCH_SETTLE") != nullptr ? ", each after a pause (SEARCH_BENCH_SETTLE seconds)" : "");
    std::printf("%-24s %8s %8s %8s %8s %8s %10s %9s %9s %8s %10s  %s\n", "search", "rows", "warm", "cold", "first", "kept",
                "SQLite", "default", "cold", "first", "mdb-sql", "warm vs SQLite best");
  }
  std::vector<Search> timed = searches;
  // A text of no shape (one of the density curve's, say) is timed alone all the same.
  if (b.only != nullptr && std::none_of(searches.begin(), searches.end(), [&](const Search& s) { return s.text == b.only; })) {
    timed.push_back({"asked", b.only});
  }
  for (Search& search : timed) {
    if (b.only != nullptr && search.text != b.only) continue;
    search.label += " \"" + search.text + "\"";
    RunSearch(b, form, lite, search);
  }
  if (b.only != nullptr) return;
  // The first process with a folder keeps the texts and order that the second loads.
  const std::vector<std::string> kept_once = {"--search-once", b.mdb.string(), "love", (b.folder / (b.stem + "-kept")).string()};
  fs::remove_all(kept_once.back());
  const double keeping = PeakMegabytesOf(kept_once);
  std::printf("peak memory of a process that opens the catalogue and searches \"love\" twice: ours %.1f MB (keeping its texts"
              " and order: %.1f MB, loading them: %.1f MB), SQLite %.1f MB (an idle process of this program: %.1f MB)\n",
              PeakMegabytesOf({"--search-once", b.mdb.string(), "love", ""}), keeping, PeakMegabytesOf(kept_once),
              PeakMegabytesOf({"--sqlite-once", b.sqlite.string(), SqliteSelect(SqliteQueryFor("love"), true)}),
              PeakMegabytesOf({"--idle"}));
  RunEdited(b, form);
  const char* curve = std::getenv("SEARCH_BENCH_CURVE");
  if (curve == nullptr || std::string(curve) != "0") DensityCurve(b, form, lite, texts);
}

fs::path DefaultFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::temp_directory_path() / "velloran-bench-data";
  return exe.parent_path().parent_path() / "bench-data";  // <build>/bin/search_bench -> <build>/bench-data
}

// The processes whose peak memory is measured.
int RunOnce(int argc, char** argv) {
  const std::string mode = argv[1];
  if (mode == "--search-once" && argc == 5) {
    jet::SetKeptTextsFolder(argv[4]);
    Form form(argv[2]);
    form.Search(argv[3]);
    form.Search(argv[3]);
    PrintPeakMemory();
    return 0;
  }
  if ((mode == "--first-search" && argc == 5) || (mode == "--sqlite-first" && argc == 4)) {
    if (mode == "--first-search") jet::SetKeptTextsFolder(argv[4]);
    // The clock stops once the search has its rows, before the form or connection closes, on
    // either side; a file ours keeps is finished as the process exits.
    const Clock::time_point start = Clock::now();
    double ms = 0;
    if (mode == "--first-search") {
      Form form(argv[2]);
      form.Search(argv[3]);
      ms = Millis(start);
    } else {
      SqliteSide lite(argv[2]);
      lite.Search(argv[3]);
      ms = Millis(start);
    }
    std::printf("%.3f\n", ms);
    return 0;
  }
  if (mode == "--sqlite-once" && argc == 4) {
    SqliteSide lite(argv[2]);
    lite.Search(argv[3]);
    lite.Search(argv[3]);
    PrintPeakMemory();
    return 0;
  }
  if (mode != "--idle") return 2;
  PrintPeakMemory();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0) return RunOnce(argc, argv);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 15;
  std::vector<int64_t> sizes = {100000, 1000000};
  if (argc > 2) {
    sizes.clear();
    std::string list = argv[2];
    for (size_t start = 0; start < list.size();) {
      size_t comma = list.find(',', start);
      if (comma == std::string::npos) comma = list.size();
      sizes.push_back(std::stoll(list.substr(start, comma - start)));
      start = comma + 1;
    }
  }
  const fs::path folder = argc > 3 ? fs::path(argv[3]) : DefaultFolder();
  if (runs < 1 || sizes.empty()) Die("usage: search_bench [RUNS [SIZES [FOLDER]]]");
  fs::create_directories(folder);
  const char* mdb_env = std::getenv("SEARCH_BENCH_MDB");
  const bool mdb_sql = (mdb_env == nullptr || std::string(mdb_env) != "0") && HaveMdbSql();
  if (!mdb_sql) std::printf("mdb-sql left out (not installed, or SEARCH_BENCH_MDB=0): its column stays empty\n");
  std::vector<bench::WordMix> mixes = {bench::WordMix::kEven, bench::WordMix::kZipf};
  if (const char* mix = std::getenv("SEARCH_BENCH_MIX")) {
    mixes = {std::string(mix) == "even" ? bench::WordMix::kEven : bench::WordMix::kZipf};
  }
  std::printf("search_bench: catalogues in %s\n", folder.c_str());
  for (int64_t songs : sizes) {
    for (bench::WordMix mix : mixes) RunCatalogue(songs, mix, runs, folder, mdb_sql);
  }
  return 0;
}
