// A database opened for changing: the writer's entry point.
//
// Opening undoes an unfinished change left by a crash; it takes no lock. Each Write takes the
// writer lock for its own duration (one write at a time across handles and processes; a file
// Access holds is refused) and runs an operation as one all-or-nothing change: either every page
// it changed becomes durable at once, or none does.
//
// This is a Database opened read-write that refuses, rather than falls back to reading, a file it
// cannot change; everything else (ReadTable, Write, pager) is Database's.
#pragma once

#include <memory>
#include <string>

#include "jet/database.h"
#include "jet/base/status.h"

namespace jet {

class WritableDatabase : public Database {
 public:
  // Opens `path` for writing. Access 97 files and files that cannot be written are refused
  // (kReadOnly) with a message that says so.
  static Result<std::unique_ptr<WritableDatabase>> Open(const std::string& path);

 private:
  explicit WritableDatabase(std::unique_ptr<Pager> pager) : Database(std::move(pager)) {}
};

}  // namespace jet
