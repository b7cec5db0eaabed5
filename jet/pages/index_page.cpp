#include "jet/pages/index_page.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr uint32_t kRowPointerSize = 4;
constexpr uint32_t kChildPointerSize = 4;

struct IndexPageHeader {
  uint32_t prev_offset, next_offset, tail_offset, prefix_offset;
};

IndexPageHeader HeaderLayout(const Format& format) {
  if (format.jet4()) return {12, 16, 20, 24};
  return {8, 12, 16, 20};
}

// Builds one entry from its stored bytes: the page's shared prefix (`prefix`, empty for the first
// entry) followed by `stored` (`length` bytes), whose last bytes are the pointers.
Status SplitEntry(Pager& pager, uint32_t page, bool leaf, std::string_view prefix, const uint8_t* stored, size_t length,
                  IndexEntry* entry) {
  uint32_t tail = kRowPointerSize + (leaf ? 0 : kChildPointerSize);
  if (prefix.size() + length < tail) return pager.Corrupt(page, "an index entry is too short to hold its pointers");
  const uint8_t* p = stored + length - tail;
  if (length >= tail) {
    entry->key.reserve(prefix.size() + length - tail);
    entry->key.assign(prefix);
    entry->key.append(reinterpret_cast<const char*>(stored), length - tail);
  } else {
    // The pointers reach back into the shared prefix (only in damaged or odd pages).
    std::string whole = std::string(prefix) + std::string(reinterpret_cast<const char*>(stored), length);
    return SplitEntry(pager, page, leaf, std::string_view(), reinterpret_cast<const uint8_t*>(whole.data()), whole.size(), entry);
  }
  entry->data_page = Get24BigEndian(p);
  entry->data_row = p[3];
  if (!leaf) entry->child_page = Get32BigEndian(p + kRowPointerSize);
  return Status::Ok();
}

}  // namespace

Result<IndexPage> ReadIndexPage(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
  return DecodeIndexPage(pager, page, data);
}

Result<IndexPage> DecodeIndexPage(Pager& pager, uint32_t page, const uint8_t* data) {
  const Format& format = pager.format();
  if (data[0] != kPageIndexLeaf && data[0] != kPageIndexIntermediate) {
    return pager.Corrupt(page, "expected an index page but found page type " + std::to_string(data[0]));
  }
  IndexPageHeader layout = HeaderLayout(format);
  IndexPage result;
  result.number = page;
  result.type = data[0];
  result.owner = Get32(data + 4);
  result.prev = Get32(data + layout.prev_offset);
  result.next = Get32(data + layout.next_offset);
  result.tail = Get32(data + layout.tail_offset);
  // Jet 3 keeps the prefix length in one byte (the next holds unrelated flags); Jet 4 in two.
  result.prefix_length = format.jet4() ? Get16(data + layout.prefix_offset) : data[layout.prefix_offset];
  const uint32_t start = format.index_entries_start;
  const uint32_t mask_length = start - format.index_entry_mask;
  // Room for every entry at once (one per set bit), and for some more that a writer keeping the
  // decoded page adds before the page splits: growing the list entry by entry moved each entry
  // several times.
  size_t marked = 0;
  for (uint32_t byte = 0; byte < mask_length; byte += 8) {
    uint8_t word[8] = {};
    std::memcpy(word, data + format.index_entry_mask + byte, std::min<uint32_t>(8, mask_length - byte));
    marked += static_cast<size_t>(std::popcount(Get64(word)));
  }
  result.entries.reserve(marked + marked / 4 + 4);
  std::string_view prefix;  // of the first entry's bytes, which every later entry omits
  uint32_t entry_start = 0;
  for (uint32_t byte = 0; byte < mask_length; ++byte) {
    uint8_t bits = data[format.index_entry_mask + byte];
    for (; bits != 0; bits &= static_cast<uint8_t>(bits - 1)) {
      uint32_t entry_end = byte * 8 + static_cast<uint32_t>(__builtin_ctz(bits));  // a set bit marks the offset just past an entry
      if (start + entry_end > format.page_size) return pager.Corrupt(page, "an index entry runs past the end of the page");
      const uint8_t* stored = data + start + entry_start;
      size_t length = entry_end - entry_start;
      IndexEntry entry;
      if (result.entries.empty()) {
        if (result.prefix_length > length) return pager.Corrupt(page, "the shared key prefix is longer than the page's first entry");
        JET_RETURN_IF_ERROR(SplitEntry(pager, page, result.leaf(), std::string_view(), stored, length, &entry));
        prefix = std::string_view(reinterpret_cast<const char*>(stored), result.prefix_length);
      } else {
        JET_RETURN_IF_ERROR(SplitEntry(pager, page, result.leaf(), prefix, stored, length, &entry));
      }
      result.entries.push_back(std::move(entry));
      entry_start = entry_end;
    }
  }
  return result;
}

}  // namespace jet
