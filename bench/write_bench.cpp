// Write throughput and latency of the engine against SQLite doing the same work.
//
// Into a copy of the songs fixture (MyList: ID, SongNumber, DiskID, Song, Artist, PrintYN,
// HotlistA; indexes on ID, SongNumber, Song, Artist, HotlistA):
//   1. bulk import: ROWS songs, one write per 1,000 rows, as a host imports a song book;
//   2. single-row writes: SINGLE songs, one write each;
//   3. toggles: PrintYN of TOGGLES random songs flipped, each found by seeking the PrimaryKey index
//      and written as its own durable write, timed one by one.
// SQLite gets the same rows (the fixture's 500 first), the same indexes (on the same five
// columns), the same batching and the same toggles, with synchronous=FULL and the default
// rollback journal (DELETE), so each commit of either is durable when it returns.
//
// On a shared machine the disk is slower at some moments than at others, and whichever side runs
// first meets different traffic than the other. Each side therefore runs ROUNDS times on fresh
// copies, in the order engine, sqlite, then sqlite, engine, and so on, so that neither always
// goes first; every run is printed, and the table compares the medians.
//
// usage: write_bench [ROWS [SINGLE [TOGGLES [FOLDER [ROUNDS]]]]]
//        (defaults 100000 2000 1000, a folder under /tmp, 4 rounds: one run of either side can
//        be a fifth slower or faster than the next on a shared machine, and the median of four holds)
//        write_bench growth [ROWS [FOLDER]]
//        (loads ROWS songs, default 1,000,000, in writes of 1,000 and prints the time of each tenth:
//        a load whose later writes cost more than its first grows worse than linearly; the engine
//        first, then SQLite)
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/table/index_cursor.h"
#include "jet/pages/index_key.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"

namespace {

using Clock = std::chrono::steady_clock;
using jet::Value;

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// User and system time of this process so far: unlike the wall clock, not stretched by other
// programs' disk traffic, which on a shared machine can make each sync take many times longer.
double CpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Song {
  int64_t id = 0, number = 0;
  std::string disk, title, artist, hotlist;
};

Song MakeSong(int64_t id, std::mt19937& random) {
  static const char* kWords[] = {"Love", "Night", "Heart", "Dream", "Summer", "Road", "Baby", "Fire", "Rain", "Dance",
                                 "Moon", "Crazy", "Home", "Blue", "Gold", "Tonight", "Forever", "Señor", "Kiss", "World"};
  static const char* kFirst[] = {"Elvis", "Madonna", "Frank", "Whitney", "Aretha", "Dolly", "Kenny", "Reba", "Billy", "Luis"};
  static const char* kLast[] = {"Smith", "Jones", "Presley", "Brooks", "Rogers", "O'Brien", "Springsteen", "Señor"};
  auto pick = [&](auto& list) { return std::string(list[random() % std::size(list)]); };
  Song s;
  s.id = id;
  s.number = 100000 + id;
  char disk[32];
  std::snprintf(disk, sizeof disk, "SC%04u-%02u", static_cast<unsigned>(random() % 10000), static_cast<unsigned>(random() % 20));
  s.disk = disk;
  for (int w = 1 + static_cast<int>(random() % 4); w > 0; --w) {
    if (!s.title.empty()) s.title += ' ';
    s.title += pick(kWords);
  }
  s.artist = pick(kFirst) + " " + pick(kLast);
  s.hotlist = "0000000000";
  return s;
}

struct Figures {
  double bulk_rows_per_s = 0, single_rows_per_s = 0, toggle_median_ms = 0, toggle_p90_ms = 0;
  double bulk_commit_share = 0;  // of the bulk import's time, the part spent committing
  double bulk_cpu_rows_per_s = 0;  // rows per second of processor time
  uint64_t rows = 0, printed = 0;  // at the end: rows, and rows with PrintYN set
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * static_cast<double>(v.size() - 1))];
}

int Die(const std::string& message) {
  std::fprintf(stderr, "write_bench: %s\n", message.c_str());
  std::exit(1);
}

// ---------------------------------------------------------------------------------------------
// The engine.

struct Engine {
  std::unique_ptr<jet::WritableDatabase> db;
  std::vector<size_t> at;  // column positions: ID SongNumber DiskID Song Artist PrintYN HotlistA

  explicit Engine(const std::string& path) {
    auto opened = jet::WritableDatabase::Open(path);
    if (!opened.ok()) Die(opened.error().message());
    db = std::move(opened).value();
    auto def = db->ReadTable("MyList");
    if (!def.ok()) Die(def.error().message());
    for (const char* name : {"ID", "SongNumber", "DiskID", "Song", "Artist", "PrintYN", "HotlistA"}) {
      const jet::ColumnDef* c = def->FindColumn(name);
      if (c == nullptr) Die(std::string("MyList has no column ") + name);
      at.push_back(static_cast<size_t>(c - def->columns.data()));
    }
  }

  std::vector<Value> Row(const jet::TableDef& def, const Song& s) const {
    std::vector<Value> row(def.columns.size());
    row[at[0]] = s.id;
    row[at[1]] = s.number;
    row[at[2]] = jet::FromUtf8(s.disk);
    row[at[3]] = jet::FromUtf8(s.title);
    row[at[4]] = jet::FromUtf8(s.artist);
    row[at[5]] = false;
    row[at[6]] = jet::FromUtf8(s.hotlist);
    return row;
  }

  // One write inserting `songs`; adds the time spent committing to *commit_seconds.
  void Insert(const std::vector<Song>& songs, double* commit_seconds) {
    Clock::time_point body_done;
    jet::Status s = db->Write([&]() -> jet::Status {
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db->ReadTable("MyList"));
      JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db->pager(), def));
      for (const Song& song : songs) JET_RETURN_IF_ERROR(writer->Insert(Row(def, song)).status());
      body_done = Clock::now();
      return jet::Status::Ok();
    });
    if (!s.ok()) Die(s.error().message());
    if (commit_seconds != nullptr) *commit_seconds += Seconds(body_done);
  }

  // Finds the song by the PrimaryKey index and flips its PrintYN, in one write.
  void Toggle(int64_t id) {
    jet::Status s = db->Write([&]() -> jet::Status {
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db->ReadTable("MyList"));
      const jet::PhysicalIndex& pk = def.physical_indexes[def.FindIndex("PrimaryKey")->physical_index];
      JET_ASSIGN_OR_RETURN(std::string key, jet::EncodeIndexKey(jet::JetVersion::kJet4, {{jet::ColumnType::kLong, true}}, {Value(id)}));
      jet::IndexCursor cursor(db->pager(), def.page, pk);
      JET_ASSIGN_OR_RETURN(bool found, cursor.SeekEqual(key));
      if (!found) return jet::Error(jet::ErrorCode::kNotFound, "no song " + std::to_string(id));
      JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db->pager(), def));
      JET_ASSIGN_OR_RETURN(std::vector<Value> row, writer->Read(cursor.row()));
      row[at[5]] = !std::get<bool>(row[at[5]]);
      return writer->Update(cursor.row(), std::move(row));
    });
    if (!s.ok()) Die(s.error().message());
  }

  void Count(Figures* f) {
    auto def = db->ReadTable("MyList");
    auto cursor = jet::TableCursor::Open(db->pager(), def.value());
    while (cursor.value()->Next().value()) {
      ++f->rows;
      f->printed += std::get<bool>(cursor.value()->values()[at[5]]) ? 1 : 0;
    }
  }
};

// ---------------------------------------------------------------------------------------------
// SQLite.

struct Sqlite {
  sqlite3* db = nullptr;
  sqlite3_stmt* insert = nullptr;
  sqlite3_stmt* toggle = nullptr;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) Die("sqlite: " + std::string(error) + " in " + sql);
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) != SQLITE_OK) Die(std::string("sqlite: ") + sqlite3_errmsg(db));
    return s;
  }
  void Step(sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) Die(std::string("sqlite: ") + sqlite3_errmsg(db));
    sqlite3_reset(s);
  }

  explicit Sqlite(const std::string& path) {
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) Die("sqlite: cannot open " + path);
    Exec("PRAGMA synchronous=FULL; PRAGMA journal_mode=DELETE");
    Exec("CREATE TABLE MyList (ID INTEGER, SongNumber INTEGER, DiskID TEXT, Song TEXT, Artist TEXT, "
         "PrintYN INTEGER NOT NULL, HotlistA TEXT)");
    for (const char* column : {"ID", "SongNumber", "Song", "Artist", "HotlistA"}) {
      Exec(std::string("CREATE INDEX MyList_") + column + " ON MyList(" + column + ")");
    }
    insert = Prepare("INSERT INTO MyList VALUES (?, ?, ?, ?, ?, ?, ?)");
    toggle = Prepare("UPDATE MyList SET PrintYN = 1 - PrintYN WHERE ID = ?");
  }
  ~Sqlite() {
    sqlite3_finalize(insert);
    sqlite3_finalize(toggle);
    sqlite3_close(db);
  }

  void Bind(int i, const Value& v) {
    if (jet::IsNull(v)) sqlite3_bind_null(insert, i);
    else if (const int64_t* n = std::get_if<int64_t>(&v)) sqlite3_bind_int64(insert, i, *n);
    else if (const bool* b = std::get_if<bool>(&v)) sqlite3_bind_int(insert, i, *b ? 1 : 0);
    else sqlite3_bind_text(insert, i, jet::ToUtf8(std::get<jet::Text>(v)).c_str(), -1, SQLITE_TRANSIENT);
  }

  // The fixture's rows, as they are, in one transaction.
  void Load(const std::string& fixture) {
    auto source = jet::Database::Open(fixture);
    auto def = source.value()->ReadTable("MyList");
    auto cursor = jet::TableCursor::Open(source.value()->pager(), def.value());
    Exec("BEGIN");
    while (cursor.value()->Next().value()) {
      for (int i = 0; i < 7; ++i) Bind(i + 1, cursor.value()->values()[static_cast<size_t>(i)]);
      Step(insert);
    }
    Exec("COMMIT");
  }

  void Insert(const std::vector<Song>& songs) {
    bool batch = songs.size() > 1;
    if (batch) Exec("BEGIN");
    for (const Song& s : songs) {
      sqlite3_bind_int64(insert, 1, s.id);
      sqlite3_bind_int64(insert, 2, s.number);
      sqlite3_bind_text(insert, 3, s.disk.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 4, s.title.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(insert, 5, s.artist.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_int(insert, 6, 0);
      sqlite3_bind_text(insert, 7, s.hotlist.c_str(), -1, SQLITE_STATIC);
      Step(insert);
    }
    if (batch) Exec("COMMIT");
  }

  void Toggle(int64_t id) {
    sqlite3_bind_int64(toggle, 1, id);
    Step(toggle);
    if (sqlite3_changes(db) != 1) Die("sqlite: no song " + std::to_string(id));
  }

  void Count(Figures* f) {
    sqlite3_stmt* s = Prepare("SELECT COUNT(*), SUM(PrintYN) FROM MyList");
    sqlite3_step(s);
    f->rows = static_cast<uint64_t>(sqlite3_column_int64(s, 0));
    f->printed = static_cast<uint64_t>(sqlite3_column_int64(s, 1));
    sqlite3_finalize(s);
  }
};

// ---------------------------------------------------------------------------------------------

struct Work {
  std::vector<std::vector<Song>> batches;  // the bulk import
  std::vector<Song> singles;
  std::vector<int64_t> toggles;
};

Work MakeWork(int rows, int singles, int toggles) {
  Work w;
  std::mt19937 random(2024);
  const int64_t first = 100000;
  for (int i = 0; i < rows; ++i) {
    if (i % 1000 == 0) w.batches.emplace_back();
    w.batches.back().push_back(MakeSong(first + i, random));
  }
  for (int i = 0; i < singles; ++i) w.singles.push_back(MakeSong(first + rows + i, random));
  for (int i = 0; i < toggles; ++i) w.toggles.push_back(first + static_cast<int64_t>(random() % static_cast<unsigned>(rows + singles)));
  return w;
}

// Runs the three stages with `insert(songs, commit_seconds)` and `toggle(id)`.
template <typename Target>
Figures Measure(Target& target, const Work& w, const char* name) {
  Figures f;
  double commit = 0;
  size_t rows = 0;
  auto start = Clock::now();
  double cpu = CpuSeconds();
  for (const auto& batch : w.batches) {
    target.Insert(batch, &commit);
    rows += batch.size();
  }
  double bulk = Seconds(start);
  f.bulk_rows_per_s = static_cast<double>(rows) / bulk;
  f.bulk_cpu_rows_per_s = static_cast<double>(rows) / (CpuSeconds() - cpu);
  f.bulk_commit_share = commit / bulk;
  std::printf("  %-7s bulk import: %zu rows in %.2f s\n", name, rows, bulk);
  start = Clock::now();
  for (const Song& s : w.singles) target.Insert({s}, nullptr);
  double single = Seconds(start);
  f.single_rows_per_s = static_cast<double>(w.singles.size()) / single;
  std::vector<double> latencies;
  for (int64_t id : w.toggles) {
    auto t = Clock::now();
    target.Toggle(id);
    latencies.push_back(Seconds(t) * 1000);
  }
  f.toggle_median_ms = Percentile(latencies, 0.5);
  f.toggle_p90_ms = Percentile(latencies, 0.9);
  target.Count(&f);
  return f;
}

struct SqliteTarget {
  Sqlite s;
  explicit SqliteTarget(const std::string& path) : s(path) {}
  void Insert(const std::vector<Song>& songs, double*) { s.Insert(songs); }
  void Toggle(int64_t id) { s.Toggle(id); }
  void Count(Figures* f) { s.Count(f); }
};

// The median of one figure over the runs of a side.
double Median(const std::vector<Figures>& runs, double Figures::*field) {
  std::vector<double> v;
  for (const Figures& f : runs) v.push_back(f.*field);
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void PrintRun(const char* name, int round, const Figures& f) {
  std::printf("  %-7s run %d: bulk %.0f rows/s (%.0f rows/CPU s, %.0f%% in commits), single %.1f rows/s, "
              "toggle median %.2f ms, 90th %.2f ms\n",
              name, round + 1, f.bulk_rows_per_s, f.bulk_cpu_rows_per_s, f.bulk_commit_share * 100, f.single_rows_per_s,
              f.toggle_median_ms, f.toggle_p90_ms);
}

// Loads `rows` songs in writes of 1,000 through `insert(songs)` and prints the wall and processor
// time of each tenth; returns the processor time of the last tenth over that of the first.
template <typename Insert>
double GrowthRun(const char* name, int rows, Insert insert) {
  // The songs are made a write at a time, as MakeWork makes them, so that the figure of memory is
  // the writer's rather than the list's.
  std::mt19937 random(2024);
  const size_t batches = (static_cast<size_t>(rows) + 999) / 1000;
  const size_t tenth = std::max<size_t>(1, batches / 10);
  std::vector<double> cpu_times;
  auto start = Clock::now();
  double cpu = CpuSeconds();
  size_t done = 0;
  std::vector<Song> batch;
  for (size_t b = 0; b < batches; ++b) {
    batch.clear();
    for (size_t i = b * 1000; i < std::min<size_t>(static_cast<size_t>(rows), (b + 1) * 1000); ++i) {
      batch.push_back(MakeSong(100000 + static_cast<int64_t>(i), random));
    }
    insert(batch);
    done += batch.size();
    if ((b + 1) % tenth != 0 && b + 1 != batches) continue;
    const double now_cpu = CpuSeconds();
    cpu_times.push_back(now_cpu - cpu);
    std::printf("  %-7s rows %8zu: %.2f s wall, %.2f s CPU\n", name, done, Seconds(start), now_cpu - cpu);
    std::fflush(stdout);
    start = Clock::now();
    cpu = now_cpu;
  }
  return cpu_times.back() / cpu_times.front();
}

// The engine's load, then SQLite's (same rows, indexes and batching) for comparison; peak memory
// is the engine's alone, measured before SQLite starts.
int Growth(int rows, const std::string& folder, const std::string& fixture) {
  const std::string mdb = folder + "/growth.mdb", sqlite_path = folder + "/growth.sqlite";
  std::filesystem::remove(mdb);
  std::filesystem::copy_file(fixture, mdb);
  std::filesystem::permissions(mdb, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  std::printf("growth: %d rows in writes of 1,000 into %s\n", rows, mdb.c_str());
  Engine engine(mdb);
  Figures before, after;
  engine.Count(&before);
  const double ours = GrowthRun("engine", rows, [&](const std::vector<Song>& songs) { engine.Insert(songs, nullptr); });
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  engine.Count(&after);
  if (after.rows != before.rows + static_cast<uint64_t>(rows)) {
    std::fprintf(stderr, "write_bench: the table ends with %lu rows\n", static_cast<unsigned long>(after.rows));
    return 1;
  }
  std::filesystem::remove(sqlite_path);
  SqliteTarget sqlite(sqlite_path);
  sqlite.s.Load(fixture);
  const double theirs = GrowthRun("sqlite", rows, [&](const std::vector<Song>& songs) { sqlite.s.Insert(songs); });
  std::printf("last tenth / first tenth, CPU: engine %.2fx, sqlite %.2fx; engine peak memory %.0f MB\n", ours, theirs,
              static_cast<double>(usage.ru_maxrss) / 1024);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "growth") {
    const int rows = argc > 2 ? std::atoi(argv[2]) : 1000000;
    const std::string folder = argc > 3 ? argv[3] : std::filesystem::temp_directory_path().string();
    const std::string fixture = std::string(VELLORAN_SHARED_DIR) + "/fixtures/generated/songsV2000.mdb";
    if (rows < 1) return Die("ROWS must be at least 1");
    if (!std::filesystem::exists(fixture)) return Die("the songs fixture is not there: " + fixture);
    std::filesystem::create_directories(folder);
    return Growth(rows, folder, fixture);
  }
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int singles = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int toggles = argc > 3 ? std::atoi(argv[3]) : 1000;
  const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 4;
  if (rows < 1 || singles < 1 || toggles < 1) return Die("ROWS, SINGLE and TOGGLES must each be at least 1");
  std::string folder;
  if (argc > 4) {
    folder = argv[4];
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    if (made) return Die("cannot make the folder " + folder + ": " + made.message());
  } else {
    std::string pattern = (std::filesystem::temp_directory_path() / "write-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return Die("cannot make a scratch folder");
    folder = pattern;
  }
  const std::string fixture = std::string(VELLORAN_SHARED_DIR) + "/fixtures/generated/songsV2000.mdb";
  if (!std::filesystem::exists(fixture)) return Die("the songs fixture is not there: " + fixture);
  const std::string mdb = folder + "/songs.mdb", sqlite_path = folder + "/songs.sqlite";
  Work work = MakeWork(rows, singles, toggles);
  std::printf("write bench: %d rows in writes of 1,000, %d single-row writes, %d toggles (one durable write each), "
              "%d rounds, in %s\n",
              rows, singles, toggles, rounds, folder.c_str());

  // Each run starts from a fresh copy of its side's file.
  auto run_engine = [&]() {
    std::filesystem::remove(mdb);
    std::filesystem::copy_file(fixture, mdb);
    std::filesystem::permissions(mdb, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    Engine engine(mdb);
    return Measure(engine, work, "engine");
  };
  auto run_sqlite = [&]() {
    std::filesystem::remove(sqlite_path);
    SqliteTarget sqlite(sqlite_path);
    sqlite.s.Load(fixture);
    return Measure(sqlite, work, "sqlite");
  };
  std::vector<Figures> ours, theirs;
  for (int round = 0; round < rounds; ++round) {
    if (round % 2 == 0) {
      ours.push_back(run_engine());
      theirs.push_back(run_sqlite());
    } else {
      theirs.push_back(run_sqlite());
      ours.push_back(run_engine());
    }
  }
  std::printf("\n");
  for (int round = 0; round < rounds; ++round) PrintRun("engine", round, ours[static_cast<size_t>(round)]);
  for (int round = 0; round < rounds; ++round) PrintRun("sqlite", round, theirs[static_cast<size_t>(round)]);

  std::printf("\n%-28s %12s %12s %14s   (medians of %d runs)\n", "", "engine", "sqlite", "engine/sqlite", rounds);
  auto line = [&](const char* what, double Figures::*field, const char* format) {
    double a = Median(ours, field), b = Median(theirs, field);
    char x[32], y[32];
    std::snprintf(x, sizeof x, format, a);
    std::snprintf(y, sizeof y, format, b);
    std::printf("%-28s %12s %12s %13.2fx\n", what, x, y, a / b);
  };
  line("bulk insert, rows/s", &Figures::bulk_rows_per_s, "%.0f");
  line("bulk insert, rows/CPU s", &Figures::bulk_cpu_rows_per_s, "%.0f");
  line("single-row writes, rows/s", &Figures::single_rows_per_s, "%.1f");
  line("toggle, median ms", &Figures::toggle_median_ms, "%.2f");
  line("toggle, 90th percentile ms", &Figures::toggle_p90_ms, "%.2f");
  std::printf("engine bulk import: %.0f%% of its time in commits\n", Median(ours, &Figures::bulk_commit_share) * 100);
  std::printf("file sizes: engine %.1f MB, sqlite %.1f MB\n", std::filesystem::file_size(mdb) / 1e6,
              std::filesystem::file_size(sqlite_path) / 1e6);
  // Both must have done the same work, in every run.
  for (int round = 0; round < rounds; ++round) {
    const Figures& a = ours[static_cast<size_t>(round)];
    const Figures& b = theirs[static_cast<size_t>(round)];
    if (a.rows != b.rows || a.printed != b.printed) {
      std::fprintf(stderr, "write_bench: run %d: the engine ends with %lu rows (%lu printed), sqlite with %lu (%lu)\n",
                   round + 1, static_cast<unsigned long>(a.rows), static_cast<unsigned long>(a.printed),
                   static_cast<unsigned long>(b.rows), static_cast<unsigned long>(b.printed));
      return 1;
    }
  }
  if (argc <= 4) std::filesystem::remove_all(folder);
  return 0;
}
