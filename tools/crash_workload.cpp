// velloran-crash-workload: a long, reproducible mix of writes to be killed at any moment.
//
//   velloran-crash-workload init DIR SEED FIXTURE   DIR/start.mdb and DIR/songs.mdb become copies of
//                                                   FIXTURE (the songs fixture); DIR/ops.log is begun
//   velloran-crash-workload run DIR [COUNT]         goes on from the last logged operation, for COUNT
//                                                   more operations or until killed
//   velloran-crash-workload verify DIR              after a kill: opens both databases (which undoes a
//                                                   cut-short write), runs the integrity check, and
//                                                   compares them with the model rebuilt from the log
//
// The operations (tools/crash_workload_ops.h) are inserts, updates that grow and shrink texts and
// memos, deletes, SQL UPDATEs over dozens of rows, and design changes, on a copy of the songs
// fixture and on a database the workload creates. Operation n is made from (seed, n) and the model
// after operations 0..n-1, so the log only needs to say which operations succeeded: after each
// Write returns OK, "done n ..." is appended to DIR/ops.log and the log is synced.
//
// What a crash at any instant guarantees (and what `verify` holds the files to):
//   - Every operation whose Write returned OK is in the file: the commit removes the journal and
//     syncs the folder before Write returns, so nothing the log names can be lost.
//   - The operation in flight is in the file entirely or not at all. Its pages reach the file only
//     after the journal of their old contents is durable, and the next open (a reader's too) copies
//     the old pages back while that journal exists. So the file holds exactly the logged operations,
//     or those plus the one in flight: it may have committed before its log line was written.
//   - A design change is one write like any other: catalogue rows, definitions, usage maps and
//     index pages change together or not at all.
//   - Creating a database builds it under a temporary name and links it into place when complete:
//     the database is there whole or not at all; a kill can leave the temporary file behind.
//   - The integrity check passes after the open: no page is ever half of one write and half of
//     another.
// A SIGKILL leaves the operating system's cache intact; the same ordering of syncs (journal and its
// folder entry, then pages, then the journal's removal and the folder) is what carries these
// guarantees through a power cut, which this workload cannot show.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/crash_workload_ops.h"

namespace {

using crash_workload::Model;
using crash_workload::Op;

struct Run {
  std::string dir;
  uint64_t seed = 0;
  uint64_t done = 0;  // operations the log names, 0..done-1
  std::string log_path() const { return dir + "/ops.log"; }
  std::string songs() const { return dir + "/songs.mdb"; }
  std::string design() const { return dir + "/design.mdb"; }
  std::string start() const { return dir + "/start.mdb"; }
};

int Fail(const std::string& message) {
  std::cerr << "velloran-crash-workload: " << message << "\n";
  return 2;
}

// Reads DIR/ops.log. A last line without its newline was cut off by a kill while it was being
// written: it is dropped from the file (the operation it names is then the one in flight).
bool ReadLog(const std::string& dir, Run* run, std::string* error) {
  run->dir = dir;
  std::ifstream in(run->log_path(), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  if (!in.good() && !in.eof()) {
    *error = run->log_path() + ": cannot read the log (was `init` run?)";
    return false;
  }
  size_t whole = text.rfind('\n');
  whole = whole == std::string::npos ? 0 : whole + 1;
  if (whole < text.size()) std::filesystem::resize_file(run->log_path(), whole);
  std::istringstream lines(text.substr(0, whole));
  std::string line;
  if (!std::getline(lines, line) || std::sscanf(line.c_str(), "seed %lu", &run->seed) != 1) {
    *error = run->log_path() + ": the log does not start with the run's seed";
    return false;
  }
  while (std::getline(lines, line)) {
    unsigned long number = 0;
    if (std::sscanf(line.c_str(), "done %lu", &number) != 1 || number != run->done) {
      *error = run->log_path() + ": line \"" + line + "\" is not \"done " + std::to_string(run->done) + " ...\"";
      return false;
    }
    ++run->done;
  }
  return true;
}

// Appends one line and makes it durable before returning.
bool AppendLine(const std::string& path, const std::string& line) {
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) return false;
  std::string text = line + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fdatasync(fd) == 0;
  close(fd);
  return ok;
}

// The model after the logged operations.
bool Replay(const Run& run, Model* model, std::string* error) {
  auto initial = crash_workload::InitialModel(run.start());
  if (!initial.ok()) {
    *error = initial.error().message();
    return false;
  }
  *model = std::move(initial).value();
  for (uint64_t n = 0; n < run.done; ++n) crash_workload::Apply(crash_workload::Generate(run.seed, n, *model), model);
  return true;
}

int Init(const std::string& dir, const std::string& seed, const std::string& fixture) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  for (const std::string& to : {dir + "/start.mdb", dir + "/songs.mdb"}) {
    std::filesystem::copy_file(fixture, to, std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return Fail(fixture + ": cannot copy it to " + to + " (" + ec.message() + ")");
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
  }
  std::filesystem::remove(dir + "/design.mdb", ec);
  std::ofstream log(dir + "/ops.log", std::ios::trunc);
  log << "seed " << std::strtoull(seed.c_str(), nullptr, 10) << "\n";
  return log.good() ? 0 : Fail(dir + "/ops.log: cannot write the log");
}

int RunOperations(const std::string& dir, uint64_t count) {
  Run run;
  Model model;
  std::string error;
  if (!ReadLog(dir, &run, &error) || !Replay(run, &model, &error)) return Fail(error);
  crash_workload::Files files(run.songs(), run.design());
  // Whoever kills this process times its kill from here, so that kills land among the writes
  // rather than in the replay, which grows with the log.
  std::cout << "ready after " << run.done << " operations" << std::endl;
  for (uint64_t n = run.done; n < run.done + count; ++n) {
    Op op = crash_workload::Generate(run.seed, n, model);
    jet::Status status = files.Run(op);
    if (!status.ok()) {
      std::cerr << "velloran-crash-workload: operation " << n << " of seed " << run.seed
                << " failed: " << status.error().message() << "\n";
      return 3;
    }
    crash_workload::Apply(op, &model);
    if (!AppendLine(run.log_path(), "done " + std::to_string(n) + " " + op.Describe())) {
      return Fail(run.log_path() + ": cannot append to the log");
    }
  }
  return 0;
}

void Print(const std::vector<std::string>& lines, const char* heading) {
  std::cout << heading << "\n";
  for (const std::string& line : lines) std::cout << "  " << line << "\n";
}

std::vector<std::string> DifferencesFrom(const Run& run, const Model& model) {
  std::vector<std::string> out = crash_workload::Differences(run.songs(), model.songs);
  std::vector<std::string> design = crash_workload::Differences(run.design(), model.design);
  out.insert(out.end(), design.begin(), design.end());
  return out;
}

// Prints one summary line the test reads: "verified operations=N in_flight=undone|committed
// hot_journals=K leftovers=L"; exit 0. On a mismatch prints what differs and exits 1.
int Verify(const std::string& dir) {
  Run run;
  Model model;
  std::string error;
  if (!ReadLog(dir, &run, &error) || !Replay(run, &model, &error)) return Fail(error);
  int hot = 0, leftovers = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::string name = entry.path().filename().string();
    if (name.size() > 8 && name.compare(name.size() - 8, 8, "-journal") == 0 && name.find(".new-") == std::string::npos) ++hot;
    if (name.rfind("design.mdb.new-", 0) == 0 && name.find("-journal") == std::string::npos) ++leftovers;
  }
  // Opening undoes a cut-short write; the check must then find nothing wrong.
  std::vector<std::string> problems = crash_workload::CheckFile(run.songs());
  if (std::filesystem::exists(run.design())) {
    std::vector<std::string> more = crash_workload::CheckFile(run.design());
    problems.insert(problems.end(), more.begin(), more.end());
  }
  if (!problems.empty()) {
    Print(problems, ("the integrity check failed after the kill (seed " + std::to_string(run.seed) + ", " +
                     std::to_string(run.done) + " operations logged):").c_str());
    return 1;
  }
  Op in_flight = crash_workload::Generate(run.seed, run.done, model);
  std::vector<std::string> without = DifferencesFrom(run, model);
  const char* outcome = "undone";
  if (!without.empty()) {
    Model with = model;
    crash_workload::Apply(in_flight, &with);
    std::vector<std::string> with_it = DifferencesFrom(run, with);
    if (!with_it.empty()) {
      std::cout << "seed " << run.seed << ": after " << run.done << " logged operations the files match neither the model"
                << " nor the model plus the operation in flight (" << in_flight.Describe() << ")\n";
      Print(without, "without it:");
      Print(with_it, "with it:");
      return 1;
    }
    // The in-flight operation committed before its line was written: the log says so now, so the
    // next run goes on after it.
    outcome = "committed";
    if (!AppendLine(run.log_path(), "done " + std::to_string(run.done) + " " + in_flight.Describe() +
                                        " [committed; its line was written after the kill]")) {
      return Fail(run.log_path() + ": cannot append to the log");
    }
  }
  std::cout << "verified operations=" << run.done << " in_flight=" << outcome << " hot_journals=" << hot
            << " leftovers=" << leftovers << " seed=" << run.seed << " next=\"" << in_flight.Describe() << "\"\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "init") return Init(args[1], args[2], args[3]);
  if ((args.size() == 2 || args.size() == 3) && args[0] == "run") {
    return RunOperations(args[1], args.size() == 3 ? std::strtoull(args[2].c_str(), nullptr, 10) : UINT64_MAX / 2);
  }
  if (args.size() == 2 && args[0] == "verify") return Verify(args[1]);
  std::cerr << "usage: velloran-crash-workload init DIR SEED FIXTURE | run DIR [COUNT] | verify DIR\n";
  return 2;
}
