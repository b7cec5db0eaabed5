// Index pages: the nodes of an index's B-tree.
//
// Leaf pages (type 4) hold entries = key + row pointer (data page, 3 bytes big-endian; row, 1 byte).
// Intermediate pages (type 3) add the child page (4 bytes big-endian); an intermediate entry carries
// the last entry of its child's subtree, and the "tail" page is one more child after the last
// entry. A bitmask marks where each entry ends; every entry after the first omits the prefix that
// all entries of the page share. Pages of one level are linked through prev/next.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/file/pager.h"
#include "jet/base/status.h"

namespace jet {

struct IndexEntry {
  std::string key;          // the key bytes, without the row pointer
  uint32_t data_page = 0;
  uint8_t data_row = 0;
  uint32_t child_page = 0;  // intermediate pages only

  // Entries order by key bytes, then by row pointer (which is why the pointer is big-endian).
  // Inline: every step of every descent through a tree compares entries.
  int Compare(const std::string& other_key, uint32_t other_page, uint8_t other_row) const;
  int Compare(const IndexEntry& other) const { return Compare(other.key, other.data_page, other.data_row); }
};

struct IndexPage {
  uint32_t number = 0;
  uint8_t type = 0;
  uint32_t owner = 0;  // the table definition's page
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;
  uint16_t prefix_length = 0;
  std::vector<IndexEntry> entries;

  bool leaf() const { return type == kPageIndexLeaf; }
};

// The entries of one index page in order, read straight from its bytes: a walk over many leaves
// assembles each key in one buffer instead of keeping a string per entry.
class IndexEntryReader {
 public:
  // Reads the page's header; fails when `data` is not an index page.
  Status Start(Pager& pager, uint32_t page, const uint8_t* data);
  // Steps to the next entry; false after the last one. Fails when an entry does not fit the page.
  Result<bool> Next();

  // A leaf entry's row pointer, and whether its key is the key of the entry before it.
  struct LeafRow {
    uint32_t data_page;
    uint8_t data_row;
    bool same_key;
  };
  // The entries of a leaf in one pass into *rows, without assembling their keys: every entry
  // after the first keeps its key's bytes past the page's shared prefix, so two keys are equal
  // exactly when those bytes are. `*key_before` is the key of the entry before the page's first
  // (none when `has_before` is false), and becomes the key of the page's last entry. A page
  // where an entry's pointers reach back into the shared prefix is read as it must be (an odd
  // page, entry by entry through Next); fails as Next does on an entry that does not fit.
  // Call it right after Start, in place of Next.
  Status LeafRows(std::vector<LeafRow>* rows, bool has_before, std::string* key_before);

  const IndexPage& page() const { return page_; }  // the header, without entries
  size_t marked() const;                            // how many entries the page holds
  // The current entry's key, valid until the next call of Next.
  std::string_view key() const { return std::string_view(key_.get(), key_size_); }
  uint32_t data_page() const { return data_page_; }
  uint8_t data_row() const { return data_row_; }
  uint32_t child_page() const { return child_page_; }

 private:
  // LeafRows where no entry's pointers reach into the shared prefix; false, with *rows and
  // *key_before as they came, where one does.
  Result<bool> PlainLeafRows(std::vector<LeafRow>* rows, bool has_before, std::string* key_before) const;

  Pager* pager_ = nullptr;
  const uint8_t* data_ = nullptr;
  IndexPage page_;
  uint32_t mask_byte_ = 0;  // the entry mask's byte being read, and its bits still to read
  uint8_t bits_ = 0;
  uint32_t entry_start_ = 0;
  bool first_ = true;
  // The entry's bytes after the shared prefix (the first entry's first bytes, which every later
  // entry omits); its key the first key_size_ of them.
  std::unique_ptr<char[]> key_;
  size_t key_room_ = 0;
  size_t key_size_ = 0;
  uint32_t data_page_ = 0, child_page_ = 0;
  uint8_t data_row_ = 0;
};

// Reads and decodes an index page; fails when the page is not an index page or its entries do
// not fit it.
Result<IndexPage> ReadIndexPage(Pager& pager, uint32_t page);
// The same, from the page's bytes as the caller read them (`pager` gives the format and tells
// what is corrupt).
Result<IndexPage> DecodeIndexPage(Pager& pager, uint32_t page, const uint8_t* data);

// Unsigned lexicographic comparison of key bytes: <0, 0, >0. Eight bytes at a time, inline:
// keys are short, and calling memcmp cost more than comparing them (every step of every descent
// through a tree compares keys).
inline int CompareKeys(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const char* x = a.data();
  const char* y = b.data();
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t u, v;
    std::memcpy(&u, x + i, 8);
    std::memcpy(&v, y + i, 8);
    if (u != v) {
      if constexpr (std::endian::native == std::endian::little) {
        u = __builtin_bswap64(u);
        v = __builtin_bswap64(v);
      }
      return u < v ? -1 : 1;
    }
  }
  for (; i < n; ++i) {
    if (x[i] != y[i]) return static_cast<uint8_t>(x[i]) < static_cast<uint8_t>(y[i]) ? -1 : 1;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

inline int IndexEntry::Compare(const std::string& other_key, uint32_t other_page, uint8_t other_row) const {
  const int c = CompareKeys(key, other_key);
  if (c != 0) return c;
  if (data_page != other_page) return data_page < other_page ? -1 : 1;
  if (data_row != other_row) return data_row < other_row ? -1 : 1;
  return 0;
}

}  // namespace jet
