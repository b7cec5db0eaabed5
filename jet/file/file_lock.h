// Locks that keep writers of one database apart and keep readers from seeing a change half made.
//
// The locks are open-file-description byte-range locks on the database file itself, on bytes past
// anything an Access file can hold, so they need no extra file, vanish with a crashed process and
// are per open file (two handles in one process exclude each other like two processes do):
//   writer byte  held exclusively by the handle that is writing, from the start of a write to its
//                commit or rollback (so one write at a time, whichever handle or process);
//   data byte    held shared by a reader while it reads, and exclusively by the writer while it
//                copies a committed change into the file.
//   pending byte taken on the way to the data byte (see AcquireDataLock), so that readers coming
//                and going cannot keep a waiting writer out.
#pragma once

#include <string>

#include "jet/base/status.h"
#include "jet/file/os.h"

namespace jet {

enum class LockKind { kShared, kExclusive };

// Takes the writer lock on `file`, waiting up to `timeout_ms` for another writer to finish;
// kLocked (naming the file) when it does not.
Status AcquireWriterLock(OsFile& file, int timeout_ms);
void ReleaseWriterLock(OsFile& file);
// True when some other handle holds the writer lock (used to tell a live journal from a hot one).
Result<bool> WriterLockHeldElsewhere(OsFile& file);

// Takes the data lock, waiting up to `timeout_ms` for the other side; kLocked on time-out.
Status AcquireDataLock(OsFile& file, LockKind kind, int timeout_ms);
void ReleaseDataLock(OsFile& file);

// An Access lock file beside `database_path` in which some program holds a lock means Access
// (or a program acting like it) has the database open. Returns kLocked then.
Status CheckAccessLockFile(const std::string& database_path);
// Where Access keeps that lock file: beside the database, named like it, ".laccdb" for an
// ".accdb" file and ".ldb" for every other (".mdb" in all letter cases).
std::string AccessLockFilePath(const std::string& database_path);

}  // namespace jet
