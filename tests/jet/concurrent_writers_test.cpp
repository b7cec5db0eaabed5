// Several processes on one database at once.
//
// Writers take turns: a write that finds another under way waits for it, and one that waits past
// the lock wait is refused with the "in use" error (kLocked) and leaves nothing. (Two writers
// hammering one file while readers read: ReadIsolation.)
//
// Readers see whole writes only: a reader process taking snapshots (ReadScope) while a writer
// commits batches must always find the row count, the definition's count, every index and the
// batches themselves consistent, never part of a write.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "jet/database.h"
#include "jet/table/index_cursor.h"
#include "jet/check/integrity_check.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/process_support.h"
#include "tests/jet/test_support.h"

namespace {

using jet::Value;
using velloran_test::ReadWholeFile;
using velloran_test::WaitFor;

constexpr int kFixtureRows = 500;

// Child processes that wait for Go() before they start, so that they all start at once; a
// child's exit code is what its body returns.
struct StartingLine {
  int fds[2] = {-1, -1};
  StartingLine() { EXPECT_EQ(pipe(fds), 0); }
  pid_t Fork(const std::function<int()>& body) {
    return velloran_test::ForkChild([&] {
      close(fds[1]);
      for (char byte; read(fds[0], &byte, 1) > 0;) continue;  // until the parent closes its end
      return body();
    });
  }
  void Go() { close(fds[0]), close(fds[1]); }
};

std::vector<Value> SongRow(const jet::TableDef& def, int64_t id, const std::string& song) {
  std::vector<Value> row(def.columns.size());
  for (const auto& [column, v] : std::vector<std::pair<const char*, Value>>{
           {"ID", id}, {"SongNumber", id % 100000}, {"Song", jet::FromUtf8(song)},
           {"Artist", jet::FromUtf8("Writer " + std::to_string(id / 1000000))}, {"PrintYN", false}})
    row[def.FindColumn(column) - def.columns.data()] = v;
  return row;
}

double MillisecondsSince(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t).count();
}

// The monotonic clock is the same in every process, so intervals of different writers compare.
int64_t Microseconds(std::chrono::steady_clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
}

// What a writer process logged: "ok N START END" (microseconds) per write done, when each successful
// Write call ran; any other line is an error.
struct Outcomes { std::vector<std::pair<int64_t, int64_t>> ok_spans; std::vector<std::string> errors; };

Outcomes ReadOutcomes(const std::string& results) {
  Outcomes o;
  std::istringstream lines(ReadWholeFile(results));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string what;
    int n = 0;
    int64_t a = 0, b = 0;
    if (words >> what >> n >> a >> b && what == "ok") o.ok_spans.emplace_back(a, b);
    else o.errors.push_back(line);
  }
  return o;
}

// The IDs in MyList (the fixture has rows without one, which are only counted), once the check
// has found nothing wrong with the file.
std::set<int64_t> IdsIn(const std::string& path, int* rows) {
  std::set<int64_t> ids;
  velloran_test::LoadedTable t = velloran_test::LoadTable(path, "MyList");
  if (!t.db) return ids;
  EXPECT_EQ(jet::CheckDatabase(*t.db), std::vector<std::string>());
  *rows = static_cast<int>(t.rows.size());
  for (const auto& row : t.rows) {
    if (const int64_t* id = std::get_if<int64_t>(&row[0])) {
      EXPECT_TRUE(ids.insert(*id).second) << "ID " << *id << " twice";
    }
  }
  EXPECT_EQ(t.def.row_count, static_cast<uint32_t>(*rows)) << "the definition's row count";
  return ids;
}

TEST(ConcurrentWriters, AWriteThatWaitsTooLongIsRefusedAsInUseAndChangesNothing) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  StartingLine start;
  int holding[2];  // the holder writes a byte once it is inside its write
  ASSERT_EQ(pipe(holding), 0);
  // A writer that keeps its write open longer than the 5 s others wait for their turn.
  pid_t holder = start.Fork([&] {
    auto db = jet::WritableDatabase::Open(path);
    if (!db.ok()) return 1;
    jet::Status s = velloran_test::WithTableWriter(*db.value(), "MyList", [&](jet::TableWriter& writer) -> jet::Status {
      JET_RETURN_IF_ERROR(writer.Insert(SongRow(writer.def(), 7000001, "held")).status());
      if (write(holding[1], "x", 1) != 1) return jet::Error(jet::ErrorCode::kIo, "pipe");
      std::this_thread::sleep_for(std::chrono::milliseconds(5600));
      return jet::Status::Ok();
    });
    return s.ok() ? 0 : 2;
  });
  start.Go();
  char byte;
  ASSERT_EQ(read(holding[0], &byte, 1), 1);
  std::string printed;
  auto started = std::chrono::steady_clock::now();
  int code = velloran_test::RunToEnd({VELLORAN_JET_TOOL, "insert", path, "MyList", "ID=7000002", "Song=waited"},
                                     scratch.path() + "/tool.out", &printed);
  double waited = MillisecondsSince(started);
  EXPECT_EQ(code, 2) << printed;
  EXPECT_NE(printed.find("in use by another program"), std::string::npos) << printed;
  EXPECT_NE(printed.find("try again"), std::string::npos) << "the message says what to do: " << printed;
  EXPECT_GE(waited, 4900) << "the tool gave up before the documented 5 s wait";
  EXPECT_EQ(WaitFor(holder), 0);
  int rows = 0;
  std::set<int64_t> ids = IdsIn(path, &rows);
  EXPECT_EQ(ids.count(7000001), 1u) << "the holder's write";
  EXPECT_EQ(ids.count(7000002), 0u) << "the refused write";
  EXPECT_EQ(rows, kFixtureRows + 1);
}

// ---------------------------------------------------------------------------------------------

// What one snapshot of MyList shows, or a description of what is inconsistent in it.
struct Snapshot { int rows = 0; std::vector<std::string> problems; };

// Inside one read scope: counts rows, compares with the definition's count and every index's
// entries, and counts the rows of each batch ("batch N" in Song): all earlier batches must have
// lost exactly their first row, the last batch must be whole.
Snapshot TakeSnapshot(jet::Database& db, int batch_rows) {
  Snapshot s;
  jet::ReadScope scope(db.pager());
  if (!scope.status().ok()) return {0, {scope.status().error().message()}};
  auto def = db.ReadTable("MyList");
  if (!def.ok()) return {0, {def.error().message()}};
  auto cursor = jet::TableCursor::Open(db.pager(), def.value());
  std::map<int, int> batches;
  size_t song = static_cast<size_t>(def->FindColumn("Song") - def->columns.data());
  while (cursor.ok()) {
    auto more = cursor.value()->Next();
    if (!more.ok()) return {s.rows, {more.error().message()}};
    if (!more.value()) break;
    ++s.rows;
    const Value& v = cursor.value()->values()[song];
    if (int batch = 0; std::holds_alternative<jet::Text>(v) && std::sscanf(jet::ToUtf8(std::get<jet::Text>(v)).c_str(), "batch %d", &batch) == 1)
      ++batches[batch];
  }
  if (def->row_count != static_cast<uint32_t>(s.rows)) s.problems.push_back("definition count " + std::to_string(def->row_count));
  for (const jet::LogicalIndex& li : def->logical_indexes) {
    jet::IndexCursor index(db.pager(), def->page, def->physical_indexes[li.physical_index]);
    int entries = 0;  // a read error ends the count short, which shows as a problem
    for (auto more = index.Next(); more.ok() && more.value(); more = index.Next()) ++entries;
    if (entries != s.rows) s.problems.push_back(li.name + " has " + std::to_string(entries) + " entries");
  }
  int last = batches.empty() ? 0 : batches.rbegin()->first;
  for (const auto& [batch, count] : batches)
    if (count != (batch == last ? batch_rows : batch_rows - 1))
      s.problems.push_back("batch " + std::to_string(batch) + " has " + std::to_string(count) + " rows");
  if (!s.problems.empty()) s.problems.insert(s.problems.begin(), std::to_string(s.rows) + " rows seen");
  return s;
}

// How many snapshots the reader has finished, in memory both children share. The writer waits
// for two more after each of its first commits, so that the reader surely reads between commits
// however the two processes are scheduled; the later writes run flat out against a reader that
// never pauses.
struct SharedProgress {
  std::atomic<int> snapshots{0};
};
constexpr int kPacedWrites = 8;

// Waits (at most five seconds) until the reader has finished `count` snapshots.
void AwaitSnapshots(const SharedProgress& progress, int count) {
  auto started = std::chrono::steady_clock::now();
  while (progress.snapshots.load() < count && std::chrono::steady_clock::now() - started < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Each write adds a batch of rows and deletes the first row of the batch before it, so a reader
// that saw part of a write would find a batch of the wrong size or counts that disagree. Writes
// each outcome to `results` as ReadOutcomes reads it.
int WriteBatches(const std::string& path, int batches, int batch_rows, const std::string& results, const SharedProgress& progress) {
  std::ofstream out(results);
  auto db = jet::WritableDatabase::Open(path);
  if (!db.ok()) return 1;
  std::vector<jet::RowId> first_of_batch;
  for (int b = 1; b <= batches; ++b) {
    auto started = std::chrono::steady_clock::now();
    jet::Status s = velloran_test::WithTableWriter(*db.value(), "MyList", [&](jet::TableWriter& w) -> jet::Status {
      if (!first_of_batch.empty()) JET_RETURN_IF_ERROR(w.Delete(first_of_batch.back()));
      for (int r = 0; r < batch_rows; ++r) {
        JET_ASSIGN_OR_RETURN(jet::RowId id, w.Insert(SongRow(w.def(), 5000000 + b * 100 + r, "batch " + std::to_string(b))));
        if (r == 0) first_of_batch.push_back(id);
      }
      return jet::Status::Ok();
    });
    if (s.ok()) out << "ok " << b << " " << Microseconds(started) << " " << Microseconds(std::chrono::steady_clock::now()) << "\n";
    else out << "error " << b << " " << s.error().message() << "\n";
    out.flush();
    // A snapshot begun before this commit may end after it: the second one began after it.
    if (b <= kPacedWrites) AwaitSnapshots(progress, progress.snapshots.load() + 2);
  }
  return 0;
}

// Takes snapshots until one shows `final_rows` rows (or a minute passes); writes "problem ..." per
// inconsistency and a last line "snapshots N distinct D" (D: how many row counts it saw).
int TakeSnapshots(const std::string& path, int batch_rows, int final_rows, const std::string& results, SharedProgress& progress) {
  std::ofstream out(results);
  auto db = jet::Database::Open(path);
  if (!db.ok()) return 1;
  std::set<int> counts;
  auto started = std::chrono::steady_clock::now();
  int snapshots = 0;
  for (int rows = 0; rows != final_rows && MillisecondsSince(started) < 60000; ++snapshots) {
    Snapshot s = TakeSnapshot(*db.value(), batch_rows);
    rows = s.rows;
    counts.insert(rows);
    for (const std::string& p : s.problems) out << "problem " << p << "\n";
    progress.snapshots.fetch_add(1);
  }
  out << "snapshots " << snapshots << " distinct " << counts.size() << "\n";
  return 0;
}

TEST(ConcurrentWriters, AReaderNeverSeesPartOfAWrite) {
  COPY_FIXTURE_OR_SKIP("generated/songsV2000.mdb", scratch, path);
  const int kBatches = 60, kBatchRows = 7;
  const int kFinalRows = kFixtureRows + kBatches * (kBatchRows - 1) + 1;  // the last batch is whole
  void* shared = mmap(nullptr, sizeof(SharedProgress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(shared, MAP_FAILED);
  auto* progress = new (shared) SharedProgress;
  StartingLine start;
  const std::string writer_results = scratch.path() + "/writer", reader_results = scratch.path() + "/reader";
  pid_t writer = start.Fork([&] { return WriteBatches(path, kBatches, kBatchRows, writer_results, *progress); });
  pid_t reader = start.Fork([&] { return TakeSnapshots(path, kBatchRows, kFinalRows, reader_results, *progress); });
  start.Go();
  ASSERT_EQ(WaitFor(writer), 0);
  ASSERT_EQ(WaitFor(reader), 0);
  munmap(shared, sizeof(SharedProgress));

  // A reader that keeps taking snapshots must not keep the writer from committing: while a writer
  // waits to copy its pages in, new snapshots wait for it, so a write takes at most about one
  // snapshot longer (without that rule it waited for a gap between snapshots, for seconds).
  const Outcomes writes = ReadOutcomes(writer_results);
  EXPECT_EQ(writes.errors, std::vector<std::string>());
  EXPECT_EQ(writes.ok_spans.size(), static_cast<size_t>(kBatches));
  double slowest = 0;
  for (const auto& [start, end] : writes.ok_spans) slowest = std::max(slowest, (end - start) / 1000.0);
  EXPECT_LT(slowest, 1000) << "the slowest write waited too long for the reader";
  std::string read = ReadWholeFile(reader_results);
  EXPECT_EQ(read.find("problem"), std::string::npos) << read;
  int snapshots = 0, distinct = 0;
  ASSERT_NE(read.find("snapshots"), std::string::npos) << read;
  ASSERT_EQ(std::sscanf(read.c_str() + read.find("snapshots"), "snapshots %d distinct %d", &snapshots, &distinct), 2) << read;
  std::cout << "[ reader   ] " << snapshots << " snapshots, " << distinct << " distinct row counts seen while the writer committed;"
            << " slowest write " << slowest << " ms\n";
  // The reader must really have read between commits, not only before and after them: after each
  // paced write at least.
  EXPECT_GE(distinct, kPacedWrites);
  int rows_now = 0;
  IdsIn(path, &rows_now);
  EXPECT_EQ(rows_now, kFinalRows);
}

}  // namespace
