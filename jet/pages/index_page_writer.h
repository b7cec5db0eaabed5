// Encoding one index page (Jet 4) from its entries: the inverse of ReadIndexPage.
//
// Layout written: type @0, 0x01 @1, free space @2 (bytes left after the entries), owning table
// definition @4, zero @8, previous @12, next @16, tail child @20, shared prefix length @24 (u16),
// zero @26, entry-end bitmask @27, entries from 0x1E0, zeros to the end of the page.
//
// The shared prefix is the longest run of leading KEY bytes common to every entry (never reaching
// into the row pointers); a page with fewer than two entries has none. The first entry is stored
// whole, every later one without the prefix. A set mask bit k marks an entry ending k bytes after
// 0x1E0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/pages/index_page.h"
#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

struct IndexPageImage {
  bool leaf = true;
  uint32_t owner = 0;  // the table definition's page
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;   // intermediate pages: the child after the last entry, or 0
  // Strictly increasing (key, row pointer). Intermediate entries carry child_page.
  std::vector<IndexEntry> entries;
  // The caller already knows the entries to be in order (the index writer keeps track), so they
  // are not compared again.
  bool ordered = false;
};

// Bytes of entry data an index page can hold: the room after 0x1E0, bounded by what the mask
// can mark.
uint32_t IndexPageCapacity(const Format& format);

// Stored size of an entry without any prefix: key, row pointer and (intermediate) child pointer.
uint32_t IndexEntrySize(const IndexEntry& entry, bool leaf);

// The shared key prefix of entries [begin, end): 0 for fewer than two. Entries must be sorted,
// so the prefix of the first and last key is the prefix of all.
uint32_t SharedKeyPrefix(const std::vector<IndexEntry>& entries, size_t begin, size_t end);

// Bytes entries [begin, end) take on a page of their own, prefix compression included.
uint32_t EncodedEntriesSize(const std::vector<IndexEntry>& entries, size_t begin, size_t end, bool leaf);

// Adds entries[at] to a leaf page that holds exactly what WriteIndexPage wrote for the other
// entries, `stored` bytes of them with `prefix` shared: the entries after it move up and the
// mask and free space follow, which leaves the page as WriteIndexPage would write all of them.
// The caller has checked that the entries are in order, that `at` is not the first (whose bytes
// every other entry's depend on), that the shared prefix stays `prefix` and that all fits.
Status InsertIntoLeafPage(Pager& pager, uint32_t page, const std::vector<IndexEntry>& entries, size_t at,
                          uint32_t prefix, uint32_t stored);

// Writes `image` over `page` inside the current write. Fails with kInvalidArgument, changing
// nothing, when the entries are out of order (unless image.ordered) or do not fit, and with
// kUnsupported for Jet 3.
Status WriteIndexPage(Pager& pager, uint32_t page, const IndexPageImage& image);

}  // namespace jet
