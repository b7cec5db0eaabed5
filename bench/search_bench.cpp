// How long a host waits for a search, against mdb-sql and SQLite on the same songs.
//
// For catalogues of 100,000 and 1,000,000 songs (made with the engine, the program's song table:
// ID, SongNumber, DiskID, Song, Artist, PrintYN, HotlistA with plain indexes PrimaryKey(ID),
// SongNumber, Song, Artist, HotlistA) it times what one Enter in the search box costs: the whole
// Frm_Karaoke search (CheckDatabase, opening the database, the query with its ORDER BY, copying at
// most 1,001 rows) for a text with many matches ("love"), one with none ("zzqx"), the empty text
// (every song, sorted by title and artist) and a number ("50000"), and CheckDatabase alone.
//
// The peers get the same rows and the same condition, opened afresh each time as the program
// does: SQLite (the same five indexes, Song and Artist compared without regard to case as Access
// does, ORDER BY and LIMIT 1001, stepping and copying every row) and mdb-sql (a whole process
// running the condition with ILIKE, its output thrown away; it has no ORDER BY, and a LIMIT
// without one would not give the same rows, so it only finds them: less work than the others do).
// Before timing, the engine's and SQLite's counts of matching rows must agree.
//
// A second table times the query alone through jet::ExecuteSelect, on a new handle (whose pages
// are read from the file again, as every search of the program does) and on a handle kept open:
// the difference is what reading the pages costs.
//
// Catalogues are kept in FOLDER (default: bench-data/ in the build folder) by size, so a second
// run starts at once.
//
// usage: search_bench [RUNS [SIZES [FOLDER]]]   (defaults: 15 runs, sizes "100000,1000000")
// For profiling, SEARCH_BENCH_ONLY=TEXT leaves out the peers and every search but the one for
// TEXT, and adds the fastest run and the processor time, which a busy machine disturbs less.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "catalogue/catalogue_host.h"
#include "catalogue/frm_karaoke.h"
#include "catalogue/search_query.h"
#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/sql/sql_select.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using jet::Value;

double Millis(Clock::time_point since) { return std::chrono::duration<double, std::milli>(Clock::now() - since).count(); }

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "search_bench: %s\n", message.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------------------------
// The songs: titles of one to five words and artists from lists, some of them holding "love",
// numbered 1..N in the order they are added. The same seed gives the same songs everywhere.

struct Song {
  int64_t id = 0, number = 0;
  std::string disk, title, artist;
  bool print = false;
  bool has_hotlist = false;
};

class SongMaker {
 public:
  Song Next() {
    static const char* kWords[] = {
        "Love", "Night", "Heart", "Dream", "Summer", "Road", "Baby", "Fire", "Rain", "Dance", "Moon", "Crazy",
        "Home", "Blue", "Gold", "Tonight", "Forever", "Kiss", "World", "Girl", "Boy", "Time", "Life", "Sweet",
        "Angel", "River", "Highway", "Stars", "Sky", "Wild", "Heaven", "Tears", "Lonely", "Dancing", "Fever",
        "Midnight", "Shadow", "Rock", "Roll", "Soul", "Rhythm", "Magic", "Paradise", "Sunshine", "Hearts",
        "Money", "Party", "Street", "City", "Train", "Island", "Ocean", "Wind", "Thunder", "Lightning", "Cry",
        "Smile", "Memories", "Yesterday", "Tomorrow", "Always", "Never", "Little", "Big", "Old", "New", "Days",
        "Lovers", "Lovely", "Glove", "Beloved", "Café", "Señor", "Mañana", "Über", "Zoë", "Straße", "Ça va",
        "O'Clock", "Rock-a-bye", "Don't", "Can't", "I'm", "You", "Me", "My", "Your", "The", "A", "In", "On",
        "Of", "Me & You", "Walking", "Running", "Falling", "Burning", "Shining", "Waiting", "Holding", "Sister",
        "Brother", "Mother", "Father", "Country", "Texas", "California", "Memphis", "Georgia", "Hotel", "Radio",
        "Telephone", "Window", "Door", "Wall", "Bridge", "Water", "Wine", "Whiskey", "Sugar", "Honey", "Candy"};
    static const char* kFirst[] = {"Elvis",  "Madonna", "Frank",  "Whitney", "Aretha", "Dolly", "Kenny", "Reba",
                                   "Billy",  "Luis",    "Johnny", "Patsy",   "Willie", "Tina",  "Marvin", "Stevie",
                                   "Celine", "Shania",  "Garth",  "Bonnie",  "Cher",   "Rod",   "Tom",   "Courtney"};
    static const char* kLast[] = {"Smith",  "Jones",   "Presley", "Brooks", "Rogers", "O'Brien", "Springsteen",
                                  "Nelson", "Cash",    "Turner",  "Wonder", "Dion",   "Twain",   "Tyler",
                                  "Jackson", "Houston", "Parton", "Miguel", "Petty",  "Stewart", "Love", "Gómez"};
    static const char* kBands[] = {"The Beatles", "The Lovin' Spoonful", "Earth, Wind & Fire", "Love Affair",
                                   "Los Lobos",   "The Eagles",          "Abba",              "Queen",
                                   "The Rolling Stones", "Fleetwood Mac", "Bee Gees",          "The Supremes"};
    auto pick = [&](auto& list) { return std::string(list[random_() % std::size(list)]); };
    Song s;
    s.id = ++count_;
    s.number = count_;
    char disk[32];
    std::snprintf(disk, sizeof disk, "SC%04u-%02u", static_cast<unsigned>(random_() % 10000),
                  static_cast<unsigned>(1 + random_() % 20));
    s.disk = disk;
    for (int w = 1 + static_cast<int>(random_() % 5); w > 0; --w) {
      if (!s.title.empty()) s.title += ' ';
      s.title += pick(kWords);
    }
    s.artist = random_() % 6 == 0 ? pick(kBands) : pick(kFirst) + " " + pick(kLast);
    s.print = random_() % 4 == 0;
    s.has_hotlist = random_() % 10 == 0;
    return s;
  }

 private:
  std::mt19937_64 random_{20240611};
  int64_t count_ = 0;
};

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

void MakeEngineCatalogue(const std::string& path, int64_t songs) {
  CheckOk(jet::CreateDatabase(path), "creating " + path);
  auto opened = jet::WritableDatabase::Open(path);
  if (!opened.ok()) Die(opened.error().message());
  jet::WritableDatabase& db = *opened.value();
  CheckOk(jet::CreateTable(db, SongTableDesign()), "creating the song table");
  SongMaker maker;
  constexpr int64_t kBatch = 5000;
  for (int64_t done = 0; done < songs; done += kBatch) {
    CheckOk(db.Write([&]() -> jet::Status {
              JET_ASSIGN_OR_RETURN(jet::TableDef def, db.ReadTable("MyList"));
              JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db.pager(), def));
              for (int64_t i = done; i < std::min(songs, done + kBatch); ++i) {
                const Song s = maker.Next();
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

void MakeSqliteCatalogue(const std::string& path, int64_t songs) {
  SqliteDb s(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  s.Exec("CREATE TABLE MyList (ID INTEGER, SongNumber INTEGER, DiskID TEXT, Song TEXT COLLATE NOCASE, "
         "Artist TEXT COLLATE NOCASE, PrintYN INTEGER NOT NULL, HotlistA TEXT); BEGIN");
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(s.db, "INSERT INTO MyList VALUES (?, ?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
  SongMaker maker;
  for (int64_t i = 0; i < songs; ++i) {
    const Song song = maker.Next();
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

Figures Time(int runs, const std::function<void()>& run) {
  run();  // warms caches: the first keypress is not what the host waits for on every other one
  std::vector<double> ms, cpu;
  for (int i = 0; i < runs; ++i) {
    const double cpu_start = ThreadCpuMillis();
    const Clock::time_point start = Clock::now();
    run();
    ms.push_back(Millis(start));
    cpu.push_back(ThreadCpuMillis() - cpu_start);
  }
  std::sort(ms.begin(), ms.end());
  std::sort(cpu.begin(), cpu.end());
  const size_t p90 = std::min(ms.size() - 1, static_cast<size_t>(0.9 * static_cast<double>(ms.size())));
  return {ms[ms.size() / 2], ms[p90], ms[0], cpu[cpu.size() / 2]};
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

struct Search {
  const char* label;
  std::string text;       // what the host types
  std::string sqlite_sql;
  std::string mdb_sql;
};

std::vector<Search> Searches() {
  const std::string all = "SELECT * FROM MyList";
  const std::string love = " WHERE Song LIKE '%love%' OR Artist LIKE '%love%'";
  const std::string none = " WHERE Song LIKE '%zzqx%' OR Artist LIKE '%zzqx%'";
  const std::string empty = " WHERE Song LIKE '%%' OR Artist LIKE '%%'";
  const std::string by_title = " ORDER BY Song, Artist LIMIT 1001";
  return {
      {"\"love\"", "love", all + love + by_title, all + " WHERE Song ilike '%love%' OR Artist ilike '%love%'"},
      {"\"zzqx\"", "zzqx", all + none + by_title, all + " WHERE Song ilike '%zzqx%' OR Artist ilike '%zzqx%'"},
      {"\"\"", "", all + empty + by_title, all + " WHERE Song ilike '%%' OR Artist ilike '%%'"},
      {"\"50000\"", "50000", all + " WHERE SongNumber >= 50000 ORDER BY SongNumber LIMIT 1001",
       all + " WHERE SongNumber >= 50000"},
  };
}

// Rows the SELECT finds through the engine, counted without the form (not timed).
int64_t EngineCount(const std::string& path, const std::string& where) {
  auto db = jet::Database::Open(path);
  if (!db.ok()) Die(db.error().message());
  auto cursor = jet::ExecuteSelect(*db.value(), "SELECT ID FROM MyList WHERE " + where);
  if (!cursor.ok()) Die(cursor.error().message());
  int64_t n = 0;
  while (true) {
    auto more = cursor.value()->Next();
    if (!more.ok()) Die(more.error().message());
    if (!more.value()) return n;
    ++n;
  }
}

// The query alone through the engine, reading up to 1,001 rows: on a handle opened for it (its
// pages read from the file again, as each search of the program does) and on one handle kept
// open (its pages already in memory). The difference is what reading the pages costs.
struct EngineAlone {
  Figures fresh, kept;
};

EngineAlone TimeEngineAlone(const std::string& path, const std::string& sql, int runs) {
  auto fetch = [&](jet::Database& db) {
    auto cursor = jet::ExecuteSelect(db, sql);
    if (!cursor.ok()) Die(cursor.error().message());
    for (int i = 0; i < 1001; ++i) {
      auto more = cursor.value()->Next();
      if (!more.ok()) Die(more.error().message());
      if (!more.value()) break;
    }
  };
  auto open = [&] {
    auto db = jet::Database::Open(path);
    if (!db.ok()) Die(db.error().message());
    return std::move(db).value();
  };
  EngineAlone e;
  e.fresh = Time(runs, [&] { fetch(*open()); });
  std::unique_ptr<jet::Database> kept = open();
  e.kept = Time(runs, [&] { fetch(*kept); });
  return e;
}

// The SQLite side of one search: open, prepare, step and copy up to 1,001 rows, close.
int SqliteSearch(const std::string& path, const std::string& sql) {
  SqliteDb s(path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(s.db, sql.c_str(), -1, &query, nullptr) != SQLITE_OK) Die(std::string("sqlite: ") + sqlite3_errmsg(s.db));
  std::vector<velloran::ResultRow> rows;
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
    rows.push_back(std::move(row));
  }
  sqlite3_finalize(query);
  return static_cast<int>(rows.size());
}

int64_t SqliteCount(const std::string& path, const std::string& where) {
  SqliteDb s(path, SQLITE_OPEN_READONLY);
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(s.db, ("SELECT COUNT(*) FROM MyList WHERE " + where).c_str(), -1, &query, nullptr);
  int64_t n = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int64(query, 0) : -1;
  sqlite3_finalize(query);
  return n;
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

// How many rows mdb-sql prints for a query (not timed): whether it understood the condition. It
// starts its output with an empty line.
int64_t MdbSqlCount(const std::string& mdb, const std::string& query_file) {
  std::string command = "mdb-sql -H -F -P -i '" + query_file + "' '" + mdb + "' | grep -c .";
  FILE* pipe = popen(command.c_str(), "r");
  long long n = -1;
  if (pipe == nullptr || std::fscanf(pipe, "%lld", &n) != 1) n = -1;
  if (pipe != nullptr) pclose(pipe);
  return n;
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
  int runs = 0;
  bool mdb_sql = false;
  const char* only = nullptr;  // SEARCH_BENCH_ONLY
};

// mdb-sql's figures for one search, or nullopt without mdb-sql.
std::optional<Figures> TimeMdbSql(const Bench& b, const Search& search, int64_t found) {
  if (!b.mdb_sql) return std::nullopt;
  const fs::path query_file = b.folder / (b.stem + "-query.sql");
  FILE* f = std::fopen(query_file.c_str(), "w");
  if (f == nullptr) Die("cannot write " + query_file.string());
  std::fprintf(f, "%s\ngo\n", search.mdb_sql.c_str());
  std::fclose(f);
  const int64_t printed = MdbSqlCount(b.mdb.string(), query_file.string());
  if (printed != found) {
    std::printf("  (mdb-sql printed %lld rows for %s, not %lld)\n", static_cast<long long>(printed), search.label,
                static_cast<long long>(found));
  }
  // A process per search: fewer runs, as each reads the whole table.
  return Time(std::max(3, b.runs / 3), [&] { MdbSqlSearch(b.mdb.string(), query_file.string()); });
}

void RunSearch(const Bench& b, velloran::Frm_Karaoke& form, const Search& search) {
  // The same rows first: every engine must find what the others find.
  const size_t where_at = search.sqlite_sql.find("WHERE ") + 6;
  const std::string where = search.sqlite_sql.substr(where_at, search.sqlite_sql.find(" ORDER BY") - where_at);
  std::string jet_where = where;
  std::replace(jet_where.begin(), jet_where.end(), '%', '*');
  const int64_t found = EngineCount(b.mdb.string(), jet_where);
  const int64_t sqlite_found = SqliteCount(b.sqlite.string(), where);
  if (found != sqlite_found) {
    Die(std::string(search.label) + ": the engine finds " + std::to_string(found) + " rows, SQLite " + std::to_string(sqlite_found));
  }
  form.SearchText = search.text;
  const Figures ours = Time(b.runs, [&] { form.BuildWhereClause(); });
  const int expected = static_cast<int>(std::min<int64_t>(found, form.MaxResults + 1));
  if (form.Results.count() != expected) {
    Die(std::string(search.label) + ": the form kept " + std::to_string(form.Results.count()) + " rows, not " +
        std::to_string(expected));
  }
  if (b.only != nullptr) {
    std::printf("%-16s %7lld %8.2f /%7.2f (fastest %.2f, processor time %.2f)\n", search.label, static_cast<long long>(found),
                ours.median, ours.p90, ours.fastest, ours.cpu_median);
    return;
  }
  int sqlite_rows = 0;
  const Figures lite = Time(b.runs, [&] { sqlite_rows = SqliteSearch(b.sqlite.string(), search.sqlite_sql); });
  if (sqlite_rows != expected) Die(std::string(search.label) + ": SQLite stepped " + std::to_string(sqlite_rows) + " rows");
  const std::optional<Figures> mdb = TimeMdbSql(b, search, found);
  char mdb_text[32] = "-";
  if (mdb) std::snprintf(mdb_text, sizeof mdb_text, "%8.1f /%7.1f", mdb->median, mdb->p90);
  std::printf("%-16s %7lld %8.2f /%7.2f %17s %8.2f /%7.2f %14s %14s\n", search.label, static_cast<long long>(found),
              ours.median, ours.p90, mdb_text, lite.median, lite.p90, mdb ? Ratio(ours.median, mdb->median).c_str() : "-",
              Ratio(ours.median, lite.median).c_str());
  std::fflush(stdout);
}

void RunSize(int64_t songs, int runs, const fs::path& folder, bool mdb_sql) {
  Bench b;
  b.folder = folder;
  b.stem = "songs-v1-" + std::to_string(songs);
  b.mdb = folder / (b.stem + ".mdb");
  b.sqlite = folder / (b.stem + ".sqlite");
  b.runs = runs;
  b.mdb_sql = mdb_sql;
  b.only = std::getenv("SEARCH_BENCH_ONLY");
  Cached(b.mdb, [&](const std::string& p) { MakeEngineCatalogue(p, songs); });
  Cached(b.sqlite, [&](const std::string& p) { MakeSqliteCatalogue(p, songs); });

  SilentHost host;
  BlankSurface surface;
  velloran::Frm_Karaoke form(surface, host);
  form.Databases.entries.push_back({b.mdb.string(), "MyList", "Artist", "Song", "SongNumber", "DiskID"});
  form.Databases.CurrentDB = 1;
  if (!form.CheckDatabase()) Die("the catalogue is not ready: " + (host.messages.empty() ? "" : host.messages.back()));

  std::printf("\n%lld songs (%.1f MB .mdb, %.1f MB SQLite), %d runs each; milliseconds, median / p90\n",
              static_cast<long long>(songs), static_cast<double>(fs::file_size(b.mdb)) / 1e6,
              static_cast<double>(fs::file_size(b.sqlite)) / 1e6, runs);
  std::printf("%-16s %7s %17s %17s %17s %14s %14s\n", "search", "rows", "ours", "mdb-sql", "SQLite", "vs mdb-sql",
              "vs SQLite");
  const Figures check = Time(runs, [&] {
    if (!form.CheckDatabase()) Die("CheckDatabase failed");
  });
  std::printf("%-16s %7s %8.2f /%7.2f\n", "CheckDatabase", "", check.median, check.p90);
  for (const Search& search : Searches()) {
    if (b.only == nullptr || search.text == b.only) RunSearch(b, form, search);
  }
  std::printf("the query alone (jet::ExecuteSelect, up to 1,001 rows): new handle / handle kept open, medians\n");
  for (const Search& search : Searches()) {
    if (b.only != nullptr && search.text != b.only) continue;
    const velloran::SearchQuery query = velloran::BuildSearchQuery("MyList", search.text);
    const EngineAlone e = TimeEngineAlone(b.mdb.string(), query.sql + " ORDER BY " + query.sort_list, runs);
    std::printf("%-16s %8.2f / %7.2f\n", search.label, e.fresh.median, e.kept.median);
  }
}

fs::path DefaultFolder() {
  std::error_code error;
  const fs::path exe = fs::read_symlink("/proc/self/exe", error);
  if (error) return fs::temp_directory_path() / "velloran-bench-data";
  return exe.parent_path().parent_path() / "bench-data";  // <build>/bin/search_bench -> <build>/bench-data
}

}  // namespace

int main(int argc, char** argv) {
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
  const bool mdb_sql = HaveMdbSql();
  if (!mdb_sql) std::printf("mdb-sql is not installed (mdbtools): its column stays empty\n");
  std::printf("search_bench: catalogues in %s\n", folder.c_str());
  for (int64_t songs : sizes) RunSize(songs, runs, folder, mdb_sql);
  return 0;
}
