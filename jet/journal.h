// The rollback journal that makes each write all or nothing.
//
// Before a write changes the database file, the original bytes of every page it is about to
// overwrite, and the file's original length, go to "<database>-journal" and are made durable.
// Only then are the new pages written and synced; deleting the journal is the commit. A crash
// before the deletion leaves a "hot" journal, and the next open copies the original pages back
// (and cuts the file to its old length), so the database is as it was before the write.
//
// Layout: a 32-byte header (magic, format version, page size, original page count, a checksum of
// the header) then records of [page number u32][page bytes][checksum u32]. Records are appended
// before anything in the database changes, so a torn record can only be the last one and a
// recovery that stops at the first bad checksum restores everything that was overwritten.
// Version 1 checksummed records byte by byte (FNV-1a); version 2, written now, eight bytes at a
// time in four lanes, which costs a fraction as much. Recovery reads both.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jet/status.h"

namespace jet {

std::string JournalPath(const std::string& database_path);

class JournalWriter {
 public:
  ~JournalWriter();
  // Creates (replacing any leftover) the journal for a write over a file of `page_count` pages.
  static Result<std::unique_ptr<JournalWriter>> Create(const std::string& database_path, uint32_t page_size,
                                                        uint32_t page_count);
  // Adds the record of `page`; `original` is copied, so it may change once this returns.
  Status Append(uint32_t page, const uint8_t* original);
  // Makes the journal and its directory entry durable.
  Status Sync();

 private:
  JournalWriter(std::string path, int fd, uint32_t page_size) : path_(std::move(path)), fd_(fd), page_size_(page_size) {}
  Status WriteBuffered();

  std::string path_;
  int fd_;
  uint32_t page_size_;
  long long offset_ = 0;  // where the buffered records go
  // Records not yet written: a few hundred kilobytes at a time go to the file in one call, where a
  // call per record cost more than the copying.
  std::vector<uint8_t> buffer_;
};

// Writes `pages` (number, bytes of `page_size`) into the file open on `fd`, in file order, each
// run of consecutive pages in one call (a write's added pages are one run), and calls
// `after_page` once for each page written. Nothing is synced.
Status WritePages(int fd, const std::string& path, std::vector<std::pair<uint32_t, const uint8_t*>> pages,
                  uint32_t page_size, const std::function<void()>& after_page);

// Deletes the journal of a committed write (the commit point) and syncs the directory.
Status RemoveJournal(const std::string& database_path);

// If a journal exists beside the database open on `fd` (opened for writing), restores the
// original pages, truncates the file, syncs and removes the journal. Sets *recovered when it did.
Status RecoverJournal(const std::string& database_path, int fd, uint32_t page_size, bool* recovered);

// Syncs the directory that holds `path`, so that a created or removed name is durable.
Status SyncDirectoryOf(const std::string& path);

}  // namespace jet
