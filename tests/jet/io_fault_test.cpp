// Disk faults at every call of a write that changes the disk: a full disk, an I/O error on a write
// or a sync, a short write, a refused creation, rename or deletion. Whichever call fails, the
// write reports an error that names the file and says what to do, or (failing after its commit
// point) reports done; the next open finds a sound database holding what the report says (the
// rows before the write, or after it); and the same handle's retry, once the disk behaves,
// succeeds.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "jet/check/csv_export.h"
#include "jet/check/integrity_check.h"
#include "jet/file/journal.h"
#include "jet/schema/create_database.h"
#include "jet/schema_editor.h"
#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/jet/faulty_os.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/schema_test_support.h"
#include "tests/jet/test_support.h"

namespace {

using schema_test::Column;
using schema_test::Index;
using jet::ColumnType;

using Call = velloran_test::DiskCall;
enum class Fault { kDiskFull, kWriteError, kShortWrite, kSyncError, kRefused };

std::vector<Fault> FaultsFor(Call call) {
  if (call == Call::kWrite) return {Fault::kDiskFull, Fault::kWriteError, Fault::kShortWrite};
  if (call == Call::kSync) return {Fault::kSyncError};
  return {call == Call::kTruncate || call == Call::kStamp ? Fault::kWriteError : Fault::kRefused};
}

int ErrnoOf(Fault fault) {
  if (fault == Fault::kWriteError || fault == Fault::kSyncError) return EIO;
  return fault == Fault::kRefused ? EACCES : ENOSPC;
}

// The operating system with one fault: counts, once armed, every call that changes the disk and
// fails call number `fail_at` with `fault`. A short write writes half of what it was given; the
// disk is then full, so the next write fails.
struct OneFault {
  OneFault(int fail_at, Fault fault, bool no_links)
      : os([this](Call call) { return Decide(call); }, no_links), fail_at_(fail_at), fault_(fault) {}

  velloran_test::FaultyOs os;
  std::vector<Call> calls;
  bool armed = false;
  int failed_with = 0;  // the errno the chosen call failed with, once it has

  int Decide(Call call) {
    if (!armed) return 0;
    const bool chosen = static_cast<int>(calls.size()) == fail_at_;
    calls.push_back(call);
    if (call == Call::kWrite && disk_full_) return disk_full_ = false, ENOSPC;
    if (!chosen) return 0;
    failed_with = ErrnoOf(fault_);
    return fault_ != Fault::kShortWrite ? failed_with : (disk_full_ = true, -1);
  }

 private:
  int fail_at_;
  Fault fault_;
  bool disk_full_ = false;
};

// What a user can see of the database: whether it is there, and the table's columns, indexes and
// rows as our export writes them. The database must pass the integrity check and leave no journal.
std::string Visible(const std::string& path, const std::string& table) {
  if (!std::filesystem::exists(path)) return "(no database)";
  auto db = jet::Database::Open(path);
  if (!db.ok()) return "cannot open: " + db.error().message();
  EXPECT_EQ(jet::CheckDatabase(*db.value()), std::vector<std::string>()) << path;
  EXPECT_FALSE(std::filesystem::exists(jet::JournalPath(path))) << "a journal is left beside " << path;
  std::ostringstream out;
  auto def = db.value()->ReadTable(table);
  if (!def.ok()) return "cannot read the table: " + def.error().message();
  for (const jet::LogicalIndex& index : def.value().logical_indexes) out << "index " << index.name << "\n";
  if (!jet::ExportTableCsv(*db.value(), table, out).ok()) return "cannot export the table";
  return out.str();
}

// The files beside the database (removed, once named): only a refused deletion may leave one.
std::vector<std::string> Leftovers(const std::string& folder, const std::string& path) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path() == path) continue;
    names.push_back(entry.path().filename().string());
    std::filesystem::remove(entry.path());
  }
  return names;
}

// Which of the two states `state` is.
std::string Which(const std::string& state, const std::string& before, const std::string& after) {
  if (state == before) return "as before the write";
  if (state == after) return "as after the write";
  return "neither as before nor as after the write: " + state.substr(0, 300);
}

// `creates`: the write makes the database (none before it); `no_links`: files cannot have two names.
struct Scenario {
  const char* name;
  bool creates, no_links;
  const char* table;
  std::function<jet::Status(const std::string& path, jet::WritableDatabase* db)> write;
};

std::vector<std::vector<jet::Value>> NewSongs() {
  std::vector<std::vector<jet::Value>> rows;
  for (int i = 0; i < 150; ++i)
    rows.push_back({int64_t{100000 + i}, int64_t{900000 + i}, jet::FromUtf8("FAULT" + std::to_string(i % 7)),
                    jet::FromUtf8("A song written while the disk fails, number " + std::to_string(i)), jet::FromUtf8("The Faulty Sectors"),
                    i % 2 == 0, jet::FromUtf8("F")});
  return rows;
}

jet::Status NewDatabase(const std::string& path, jet::WritableDatabase*) { return jet::CreateDatabase(path, {.creation_date = 46000.25}); }

const Scenario kScenarios[] = {
    {"rows inserted and one updated", false, false, "MyList",
     [](const std::string&, jet::WritableDatabase* db) {
       return db->Write([&]() -> jet::Status {
         jet::TableDef def = schema_test::TableNamed(db->pager(), "MyList");
         JET_RETURN_IF_ERROR(jet::InsertRows(db->pager(), def, NewSongs()));
         JET_ASSIGN_OR_RETURN(auto writer, jet::TableWriter::Open(db->pager(), def));
         std::vector<jet::RowId> ids;
         std::vector<jet::Value> row = velloran_test::ReadRows(db->pager(), def, &ids).at(0);
         row[3] = jet::FromUtf8("Renamed while the disk fails");
         return writer->Update(ids[0], std::move(row));
       });
     }},
    {"a new database", true, false, "MSysObjects", NewDatabase},
    {"a new database where files cannot have two names", true, true, "MSysObjects", NewDatabase},
    {"a column added", false, false, "MyList",
     [](const std::string&, jet::WritableDatabase* db) { return jet::AddColumn(*db, "MyList", Column("Genre", ColumnType::kText, 50)); }},
    {"an index added", false, false, "MyList",
     [](const std::string&, jet::WritableDatabase* db) { return jet::AddIndex(*db, "MyList", Index("ByDisk", {{"DiskID"}})); }},
};

// Runs the scenario's write on a fresh copy under `os` (armed for the write alone); returns what
// it reported. `db` keeps the handle, opened under `os`, for a retry.
jet::Status RunUnder(const Scenario& s, const std::string& path, OneFault& os, std::unique_ptr<jet::WritableDatabase>* db) {
  std::filesystem::remove(path);
  std::filesystem::remove(jet::JournalPath(path));
  if (!s.creates) {
    std::filesystem::copy_file(velloran_test::FixturePath("generated/songsV2000.mdb"), path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  }
  jet::Os::SetDefaultForTesting(&os.os);
  if (!s.creates) {
    EXPECT_OK_LET(opened, jet::WritableDatabase::Open(path));
    if (opened.ok()) *db = std::move(opened).value();
  }
  os.armed = true;
  jet::Status status = s.creates || *db != nullptr ? s.write(path, db->get()) : jet::Status(jet::Error(jet::ErrorCode::kIo, "not opened"));
  os.armed = false;
  jet::Os::SetDefaultForTesting(nullptr);
  return status;
}

TEST(IoFaults, EveryCallOfAWriteFailsInTurnAndTheDatabaseKeepsWhatWasReported) {
  REQUIRE_SHARED_FIXTURES();
  const bool mdbtools = velloran_test::Have("mdb-export");
  if (!mdbtools) std::cout << "[ note     ] mdbtools is not installed: mdb-export is not asked to read the results\n";
  velloran_test::ScratchDir scratch;
  const std::string path = scratch.path() + "/songs.mdb";
  for (const Scenario& s : kScenarios) {
    SCOPED_TRACE(s.name);
    // A write that meets no fault: the state before and after it, and the calls it makes.
    OneFault counting(-1, Fault::kDiskFull, s.no_links);
    std::unique_ptr<jet::WritableDatabase> db;
    std::filesystem::remove(path);
    if (!s.creates) std::filesystem::copy_file(velloran_test::FixturePath("generated/songsV2000.mdb"), path);
    const std::string before = Visible(path, s.table);
    ASSERT_TRUE(RunUnder(s, path, counting, &db).ok());
    db.reset();
    const std::string after = Visible(path, s.table);
    ASSERT_NE(before, after);
    ASSERT_FALSE(counting.calls.empty());
    for (size_t at = 0; at < counting.calls.size(); ++at) {
      for (Fault fault : FaultsFor(counting.calls[at])) {
        SCOPED_TRACE("call " + std::to_string(at) + " of " + std::to_string(counting.calls.size()) + ", fault " +
                     std::to_string(static_cast<int>(fault)));
        OneFault faulty(static_cast<int>(at), fault, s.no_links);
        jet::Status reported = RunUnder(s, path, faulty, &db);
        ASSERT_NE(faulty.failed_with, 0) << "the fault was never met: the write's calls changed";
        if (!reported.ok()) {
          const std::string& message = reported.error().message();
          EXPECT_NE(message.find(scratch.path()), std::string::npos) << message;
          EXPECT_NE(message.find(std::strerror(faulty.failed_with)), std::string::npos) << message;
          EXPECT_NE(message.find(s.creates ? "was not made" : "was not saved"), std::string::npos) << message;
        }
        // What the report says is what the file holds, before the handle does anything more.
        ASSERT_EQ(Which(Visible(path, s.table), before, after), reported.ok() ? "as after the write" : "as before the write")
            << (reported.ok() ? "reported done" : reported.error().message());
        if (mdbtools && !s.creates) velloran_test::ExpectMdbExportAgrees(path, s.table);
        const std::vector<std::string> left = Leftovers(scratch.path(), path);
        if (counting.calls[at] != Call::kDelete) {
          EXPECT_EQ(left, std::vector<std::string>());
        }
        if (reported.ok()) continue;
        // The disk behaves again: the same handle's retry goes through.
        ASSERT_OK_LET(retried, s.write(path, db.get()));
        db.reset();
        ASSERT_EQ(Which(Visible(path, s.table), before, after), "as after the write");
      }
    }
    db.reset();
  }
}

}  // namespace
