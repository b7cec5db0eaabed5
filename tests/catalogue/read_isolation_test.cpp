// Readers see one committed state of the file from start to end. Two writer processes change the
// song list round after round (a row deleted, one added, songs renamed at both ends of the
// table), each logging the state it commits; meanwhile four reader processes read the whole list
// over and over: the export tool, the SQL tool, a table set walked under a hold of the read lock,
// and the program's own search. Every read must equal one logged state (or the state before the
// first write); the only error allowed is the one that says to try again.
// VELLORAN_ISOLATION_ROUNDS sets the writers' rounds (tools/isolation_soak.sh runs many).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "jet/table/table_writer.h"
#include "jet/writable_database.h"
#include "tests/catalogue/scripted_host.h"
#include "tests/jet/other_readers.h"
#include "tests/jet/process_support.h"

namespace velloran {
namespace {

using velloran_test::LinesOf;
using velloran_test::ScratchDir;

// The rows a reader saw, as "ID|SongNumber|Song" lines sorted by ID, boiled down to one number.
using Rows = std::map<int64_t, std::string>;
uint64_t Digest(const Rows& rows) {
  std::string all;
  for (const auto& [id, rest] : rows) all += std::to_string(id) + "|" + rest + "\n";
  return std::hash<std::string>{}(all);
}
void Add(Rows* rows, int64_t id, const std::string& song_number, const std::string& song) { (*rows)[id] = song_number + "|" + song; }

// Runs a tool and turns its output into rows; "error ..." when it failed.
std::string ToolRead(const std::vector<std::string>& args, const std::string& scratch) {
  std::string out;
  const int code = velloran_test::RunToEnd(args, scratch, &out);
  const std::vector<std::string> lines = LinesOf(scratch);
  if (code != 0 || lines.empty()) return "error " + (lines.empty() ? "" : lines[0]);
  std::vector<std::string> header;
  for (const auto& field : velloran_test::CsvFields(lines[0])) header.push_back(field.text);
  const auto column = [&](const std::string& name) { return std::find(header.begin(), header.end(), name) - header.begin(); };
  const size_t id = column("ID"), number = column("SongNumber"), song = column("Song");
  Rows rows;
  for (size_t i = 1; i < lines.size(); ++i) {
    const auto f = velloran_test::CsvFields(lines[i]);
    if (f.size() != header.size()) return "error malformed line: " + lines[i];
    Add(&rows, std::atoll(f[id].text.c_str()), f[number].text, f[song].text);
  }
  return "ok " + std::to_string(Digest(rows));
}

// A table set on the song list, walked from first to last under a hold of the read lock.
std::string TableSetRead(const std::string& path) {
  std::unique_ptr<Connection> db = Connection::OpenHoldingReads(path);
  std::unique_ptr<Recordset> set = db->OpenRecordset("MyList");
  Rows rows;
  for (; !set->AtEnd(); set->MoveNext()) Add(&rows, set->Field("ID").ToInteger(), set->Field("SongNumber").ToText(), set->Field("Song").ToText());
  set->Close();
  db->Close();
  return "ok " + std::to_string(Digest(rows));
}

// The program's search for song numbers from 1 up: every song.
std::string ProgramSearchRead(const std::string& path) {
  velloran_test::KaraokeWindow w;
  w.Use(path);
  w.Search("1");
  if (!w.host.messages.empty()) return "error " + w.host.messages.front();
  Rows rows;
  for (int i = 1; i <= w.form.Results.count(); ++i) Add(&rows, w.form.Results[i].ID, w.form.Results[i].SongNumber, w.form.Results[i].Song);
  return "ok " + std::to_string(Digest(rows));
}

size_t Column(const jet::TableDef& def, const char* name) { return def.FindColumn(name) - def.columns.data(); }

// The song list as a write has made it (read inside the write).
uint64_t StateInWrite(jet::Pager& pager, const jet::TableDef& def) {
  const size_t id = Column(def, "ID"), number = Column(def, "SongNumber"), song = Column(def, "Song");
  Rows rows;
  for (const std::vector<jet::Value>& v : velloran_test::ReadRows(pager, def)) {
    const auto* n = std::get_if<int64_t>(&v[number]);
    const auto* text = std::get_if<jet::Text>(&v[song]);
    Add(&rows, std::get<int64_t>(v[id]), n != nullptr ? std::to_string(*n) : "", text != nullptr ? jet::ToUtf8(*text) : "");
  }
  return Digest(rows);
}

// One writer: `rounds` writes, each deleting a row, adding one and renaming the first and last
// songs in storage order. Logs "state DIGEST" for each commit, "locked" for a write refused as
// in use, "error ..." for anything else.
int WriteRounds(const std::string& path, int writer, int rounds, const std::string& log) {
  std::ofstream out(log);
  auto db = jet::WritableDatabase::Open(path);
  if (!db.ok()) return out << "error " << db.error().message() << "\n", 1;
  std::mt19937 random(static_cast<unsigned>(writer * 7919 + 1));
  for (int round = 0; round < rounds; ++round) {
    uint64_t state = 0;
    jet::Status s = db.value()->Write([&]() -> jet::Status {
      jet::Pager& pager = db.value()->pager();
      JET_ASSIGN_OR_RETURN(jet::TableDef def, db.value()->ReadTable("MyList"));
      JET_ASSIGN_OR_RETURN(auto rows, jet::TableWriter::Open(pager, def));
      std::vector<jet::RowId> ids;
      velloran_test::ReadRows(pager, def, &ids);
      const std::string tag = "w" + std::to_string(writer) + "r" + std::to_string(round);
      for (const jet::RowId& at : {ids.front(), ids.back()}) {
        JET_ASSIGN_OR_RETURN(std::vector<jet::Value> row, rows->Read(at));
        row[Column(def, "Song")] = jet::FromUtf8("Renamed " + tag);
        JET_RETURN_IF_ERROR(rows->Update(at, std::move(row)));
      }
      JET_RETURN_IF_ERROR(rows->Delete(ids[1 + random() % (ids.size() - 2)]));
      std::vector<jet::Value> added(def.columns.size());
      added[Column(def, "ID")] = int64_t{1000000 * (writer + 1) + round};
      added[Column(def, "SongNumber")] = int64_t{2000} + round;
      added[Column(def, "Song")] = jet::FromUtf8("Added " + tag + std::string(100, '*'));
      added[Column(def, "PrintYN")] = false;
      JET_RETURN_IF_ERROR(rows->Insert(std::move(added)).status());
      state = StateInWrite(pager, def);
      return jet::Status::Ok();
    });
    if (s.ok()) out << "state " << state << "\n";
    else if (s.error().code() == jet::ErrorCode::kLocked) out << "locked\n";
    else out << "error " << s.error().message() << "\n";
    out.flush();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
  }
  return 0;
}

// Reads with `read` until the file `writers_done` appears; logs what each read returned.
int ReadUntilDone(const std::function<std::string()>& read, const std::string& writers_done, const std::string& log) {
  std::ofstream out(log);
  while (!std::filesystem::exists(writers_done)) {
    std::string result;
    try {
      result = read();
    } catch (const std::exception& e) {
      result = std::string("error ") + e.what();
    }
    out << result << "\n";
    out.flush();
  }
  return 0;
}

TEST(ReadIsolation, EveryReadIsOneCommittedStateWhileOtherProcessesWrite) {
  REQUIRE_SHARED_FIXTURES();
  const int rounds = static_cast<int>(velloran_test::NumberFromEnvironment("VELLORAN_ISOLATION_ROUNDS", 25));
  ScratchDir folder;
  const std::string path = folder.CopyOfSongs();
  // The first search numbers the songs without an ID: the program's own write, before the test's.
  const std::string before = ProgramSearchRead(path);
  ASSERT_EQ(before.rfind("ok ", 0), 0u) << before;
  ASSERT_EQ(TableSetRead(path), before) << "the program's search and a table set read the same rows";

  const std::string writers_done = folder.File("writers done");
  const std::map<std::string, std::function<std::string()>> readers = {
      {"export", [&] { return ToolRead({VELLORAN_JET_TOOL, "export", path, "MyList"}, folder.File("export.out")); }},
      {"sql", [&] { return ToolRead({VELLORAN_JET_TOOL, "sql", path, "SELECT ID, SongNumber, Song FROM MyList"}, folder.File("sql.out")); }},
      {"table set", [&] { return TableSetRead(path); }},
      {"program search", [&] { return ProgramSearchRead(path); }},
  };
  std::vector<pid_t> reader_pids, writer_pids;
  for (const auto& [name, read] : readers)
    reader_pids.push_back(velloran_test::ForkChild([&] { return ReadUntilDone(read, writers_done, folder.File(name + ".log")); }));
  for (int w = 0; w < 2; ++w)
    writer_pids.push_back(velloran_test::ForkChild([&] { return WriteRounds(path, w, rounds, folder.File("writer" + std::to_string(w) + ".log")); }));
  for (pid_t pid : writer_pids) EXPECT_TRUE(velloran_test::ExitedCleanly(pid)) << "a writer failed";
  std::ofstream{writers_done};
  for (pid_t pid : reader_pids) EXPECT_TRUE(velloran_test::ExitedCleanly(pid)) << "a reader failed";

  std::set<std::string> committed = {before};
  int commits = 0;
  for (int w = 0; w < 2; ++w)
    for (const std::string& line : LinesOf(folder.File("writer" + std::to_string(w) + ".log"))) {
      EXPECT_TRUE(line.rfind("state ", 0) == 0 || line == "locked") << "writer " << w << ": " << line;
      if (line.rfind("state ", 0) == 0) committed.insert("ok " + line.substr(6)), ++commits;
    }
  EXPECT_GE(commits, rounds) << "the writers hardly wrote";
  for (const auto& [name, read] : readers) {
    SCOPED_TRACE(name);
    const std::vector<std::string> reads = LinesOf(folder.File(name + ".log"));
    for (const std::string& result : reads) {
      if (result.rfind("ok ", 0) == 0) EXPECT_EQ(committed.count(result), 1u) << "a read returned rows of no committed state";
      else EXPECT_NE(result.find("try again"), std::string::npos) << "not the clear retry error: " << result;
    }
    EXPECT_GE(reads.size(), 3u) << "the reader hardly read while the writers wrote";
  }
}

}  // namespace
}  // namespace velloran
