// The rollback journal that makes each write all or nothing.
//
// Before a write changes the database file, the original bytes of every page it is about to
// overwrite, and the file's original length, go to "<database>-journal" and are made durable
// (with the folder, so that the journal's name survives a power cut). Only then are the new pages
// written and synced. Then the journal's header is overwritten with zeros and synced: that is the
// commit point, as a journal without a valid header undoes nothing. Last the journal is deleted.
// A crash before the commit point leaves a "hot" journal, and the next open copies the original
// pages back (and cuts the file to its old length), so the database is as it was before the write;
// a crash after it leaves at most a void journal, which the next open deletes. A write that fails
// short of the commit point (a full disk, a failed sync) is undone from its journal at once by
// the writer itself, so that the failure it reports is the state of the file.
//
// The deletion is not synced (a folder sync, on a journaling file system a commit of its own, cost
// each write more than the zeros): should a power cut bring the journal's name back, what comes
// back is the void journal, its zeros durable before the deletion. The next write's journal is a
// new file whose name is synced before any database page changes, so by then the old name is gone
// for good.
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

#include "jet/base/status.h"
#include "jet/file/os.h"

namespace jet {

std::string JournalPath(const std::string& database_path);

class JournalWriter {
 public:
  ~JournalWriter();
  // Creates (replacing any leftover) the journal for a write over a file of `page_count` pages.
  static Result<std::unique_ptr<JournalWriter>> Create(const std::string& database_path, uint32_t page_size,
                                                        uint32_t page_count, Os& os = Os::Default());
  // Adds the record of `page`. `original` is not copied: its bytes must stay as they are until
  // Sync returns (the pager's committed pages never change in place).
  Status Append(uint32_t page, const uint8_t* original);
  // Writes the header and every record, and makes the journal and its directory entry durable.
  Status Sync();
  // The commit point, once every page of the write is durable in the database: voids the header,
  // durably (see the file comment). When the zeros may not be durable, the header is put back
  // before the error returns, so that the write is undone rather than left half known.
  Status Void();
  // Then deletes the void journal, without syncing its folder.
  Status Delete();

 private:
  JournalWriter(Os& os, std::unique_ptr<OsFile> file, uint32_t page_size, uint32_t page_count)
      : os_(os), file_(std::move(file)), page_size_(page_size), page_count_(page_count) {}

  Os& os_;
  std::unique_ptr<OsFile> file_;
  uint8_t header_[32] = {};
  uint32_t page_size_;
  uint32_t page_count_;
  // The records go to the file straight from the pages, a few hundred per call: copying each page
  // into a buffer first cost as much as checksumming it. Each record's page number and checksum
  // are kept here (8 bytes a record) to frame its page.
  std::vector<const uint8_t*> originals_;
  std::vector<uint8_t> frames_;
};

// Writes `pages` (number, bytes of `page_size`) into `file`, in file order, each run of
// consecutive pages in one call (a write's added pages are one run), and calls `after_page` once
// for each page written. Nothing is synced.
Status WritePages(OsFile& file, std::vector<std::pair<uint32_t, const uint8_t*>> pages, uint32_t page_size,
                  const std::function<void()>& after_page);

// Whether a journal beside the database would undo anything: false when there is none, or its
// header is void or was never written whole.
Result<bool> JournalUndoesAnything(const std::string& database_path, uint32_t page_size, Os& os = Os::Default());

// If a journal exists beside the database `file` (opened for writing), restores the original
// pages, truncates the file, syncs it and removes the journal (and makes its removal durable).
// Sets *recovered when it restored anything.
Status RecoverJournal(Os& os, OsFile& file, uint32_t page_size, bool* recovered);

}  // namespace jet
