#include "jet/pages/index_page_writer.h"

#include <algorithm>
#include <cstring>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr uint32_t kRowPointerSize = 4;
constexpr uint32_t kChildPointerSize = 4;
constexpr uint32_t kJet4PrevOffset = 12;
constexpr uint32_t kJet4NextOffset = 16;
constexpr uint32_t kJet4TailOffset = 20;
constexpr uint32_t kJet4PrefixOffset = 24;
constexpr uint32_t kMaxMaskWords = 64;  // 512 bytes, more than any format's entry-end mask

// Stores the entry at `out` without its first `skip` key bytes; returns the bytes written.
uint32_t PutEntry(const IndexEntry& entry, bool leaf, uint32_t skip, uint8_t* out) {
  size_t key = entry.key.size() - skip;
  std::memcpy(out, entry.key.data() + skip, key);
  uint8_t* p = out + key;
  Put24BigEndian(p, entry.data_page);
  p[3] = entry.data_row;
  if (!leaf) Put32BigEndian(p + kRowPointerSize, entry.child_page);
  return static_cast<uint32_t>(key) + kRowPointerSize + (leaf ? 0 : kChildPointerSize);
}

// Moves every entry end marked in `mask` above bit `position` (bit k: byte k / 8, bit k % 8) up by
// `shift` bits and marks `position + shift`; `last` is the highest bit set afterwards, and every
// bit above it ends clear. A word at a time over the bits that move: an entry at a time cost more
// than the rest of an insert in place.
// The bits of a word at or below bit `position` % 64.
uint64_t AtOrBelow(uint32_t position) {
  return position % 64 == 63 ? ~uint64_t{0} : (uint64_t{1} << (position % 64 + 1)) - 1;
}

void MoveEndsUp(uint8_t* mask, uint32_t mask_length, uint32_t position, uint32_t shift, uint32_t last) {
  const uint32_t first_word = position / 64, words = last / 64 - first_word + 1;
  auto load = [&](uint32_t word) {
    const uint32_t at = 8 * word;
    if (at + 8 <= mask_length) return Get64(mask + at);
    uint8_t tail[8] = {};
    std::memcpy(tail, mask + at, mask_length - at);
    return Get64(tail);
  };
  uint64_t old[kMaxMaskWords];
  for (uint32_t k = 0; k < words; ++k) old[k] = load(first_word + k);
  const uint64_t kept = AtOrBelow(position);
  const uint64_t first_high = old[0] & ~kept;
  auto high = [&](uint32_t k) { return k == 0 ? first_high : old[k]; };
  const uint32_t skip = shift / 64, bits = shift % 64;
  uint8_t out[8 * kMaxMaskWords];
  for (uint32_t k = 0; k < words; ++k) {
    uint64_t word = k == 0 ? old[0] & kept : 0;
    if (k >= skip) {
      word |= high(k - skip) << bits;
      if (bits != 0 && k > skip) word |= high(k - skip - 1) >> (64 - bits);
    }
    const uint32_t mark = position + shift;
    if (mark / 64 == first_word + k) word |= uint64_t{1} << (mark % 64);
    if (k + 1 == words) word &= AtOrBelow(last);
    Put64(out + 8 * k, word);
  }
  const uint32_t start = 8 * first_word;
  const uint32_t end = std::min(mask_length, start + 8 * words);
  std::memcpy(mask + start, out, end - start);
  std::memset(mask + end, 0, mask_length - end);
}

Status CheckImage(Pager& pager, uint32_t page, const IndexPageImage& image) {
  for (size_t i = 0; i < image.entries.size(); ++i) {
    const IndexEntry& e = image.entries[i];
    if (e.data_page > 0xFFFFFF) {
      return Error(ErrorCode::kInvalidArgument, pager.path() + ": page " + std::to_string(page) +
                                                    ": an index entry names a data page beyond 24 bits");
    }
    if (!image.ordered && i > 0 && image.entries[i - 1].Compare(e) >= 0) {
      return Error(ErrorCode::kInvalidArgument, pager.path() + ": page " + std::to_string(page) +
                                                    ": index entries to write are out of order");
    }
  }
  uint32_t size = EncodedEntriesSize(image.entries, 0, image.entries.size(), image.leaf);
  if (size > IndexPageCapacity(pager.format())) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": page " + std::to_string(page) + ": " +
                                                  std::to_string(size) + " bytes of index entries do not fit a page");
  }
  return Status::Ok();
}

}  // namespace

uint32_t IndexPageCapacity(const Format& format) {
  uint32_t room = format.page_size - format.index_entries_start;
  uint32_t markable = (format.index_entries_start - format.index_entry_mask) * 8 - 1;
  return std::min(room, markable);
}

uint32_t IndexEntrySize(const IndexEntry& entry, bool leaf) {
  return static_cast<uint32_t>(entry.key.size()) + kRowPointerSize + (leaf ? 0 : kChildPointerSize);
}

uint32_t SharedKeyPrefix(const std::vector<IndexEntry>& entries, size_t begin, size_t end) {
  if (end - begin < 2) return 0;
  const std::string& a = entries[begin].key;
  const std::string& b = entries[end - 1].key;
  const size_t n = std::min(a.size(), b.size());
  size_t shared = 0;
  // Eight bytes at a time while they agree (this runs for every insert and every split candidate).
  while (shared + 8 <= n && std::memcmp(a.data() + shared, b.data() + shared, 8) == 0) shared += 8;
  while (shared < n && a[shared] == b[shared]) ++shared;
  return static_cast<uint32_t>(shared);
}

uint32_t EncodedEntriesSize(const std::vector<IndexEntry>& entries, size_t begin, size_t end, bool leaf) {
  if (begin >= end) return 0;
  uint32_t total = 0;
  for (size_t i = begin; i < end; ++i) total += IndexEntrySize(entries[i], leaf);
  return total - static_cast<uint32_t>(end - begin - 1) * SharedKeyPrefix(entries, begin, end);
}

Status InsertIntoLeafPage(Pager& pager, uint32_t page, const std::vector<IndexEntry>& entries, size_t at,
                          uint32_t prefix, uint32_t stored) {
  const Format& format = pager.format();
  const uint32_t added = IndexEntrySize(entries[at], true) - prefix;
  const uint32_t mask_length = format.index_entries_start - format.index_entry_mask;
  if (at == 0 || at >= entries.size() || stored + added > IndexPageCapacity(format) || mask_length > 8 * kMaxMaskWords) {
    return Error(ErrorCode::kInvalidArgument, pager.path() + ": page " + std::to_string(page) +
                                                  ": an index entry cannot be added in place");
  }
  // Where entry `at` goes: where entry at-1 ends, counted from the nearer end of the entries (an
  // entry appended in key order goes at the very end, and adding up every size before it cost
  // more than the rest of the insert).
  uint32_t offset = stored;
  if (at <= entries.size() / 2) {
    offset = IndexEntrySize(entries[0], true);
    for (size_t i = 1; i < at; ++i) offset += IndexEntrySize(entries[i], true) - prefix;
  } else {
    for (size_t i = at + 1; i < entries.size(); ++i) offset -= IndexEntrySize(entries[i], true) - prefix;
  }
  // The page must agree: `stored` bytes of entries, of which one ends at `offset` and the last at
  // `stored`.
  JET_ASSIGN_OR_RETURN(const uint8_t* current, pager.ReadPage(page));
  const uint8_t* mask = current + format.index_entry_mask;
  auto marked = [&](uint32_t bit) { return (mask[bit / 8] >> (bit % 8) & 1) != 0; };
  if (offset > stored || !marked(offset) || !marked(stored) ||
      Get16(current + 2) != format.page_size - format.index_entries_start - stored) {
    return pager.Corrupt(page, "the index page does not hold the entries it was written with");
  }
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  uint8_t* area = data + format.index_entries_start;
  std::memmove(area + offset + added, area + offset, stored - offset);
  PutEntry(entries[at], true, prefix, area + offset);
  MoveEndsUp(data + format.index_entry_mask, mask_length, offset, added, stored + added);
  Put16(data + 2, static_cast<uint16_t>(format.page_size - format.index_entries_start - (stored + added)));
  return Status::Ok();
}

Status WriteIndexPage(Pager& pager, uint32_t page, const IndexPageImage& image) {
  const Format& format = pager.format();
  if (!format.jet4()) {
    return Error(ErrorCode::kUnsupported, pager.path() + ": index pages of Access 97 files are read-only");
  }
  JET_RETURN_IF_ERROR(CheckImage(pager, page, image));
  const uint32_t prefix = SharedKeyPrefix(image.entries, 0, image.entries.size());
  if (prefix > 0xFFFF) return Error(ErrorCode::kInvalidArgument, pager.path() + ": an index key prefix is too long");

  // CheckImage made sure the entries fit, so they are written straight into the page.
  JET_ASSIGN_OR_RETURN(uint8_t* data, pager.MutablePage(page));
  std::memset(data, 0, format.page_size);
  uint32_t stored = 0;
  for (size_t i = 0; i < image.entries.size(); ++i) {
    stored += PutEntry(image.entries[i], image.leaf, i == 0 ? 0 : prefix, data + format.index_entries_start + stored);
    data[format.index_entry_mask + stored / 8] |= static_cast<uint8_t>(1u << (stored % 8));
  }
  data[0] = image.leaf ? kPageIndexLeaf : kPageIndexIntermediate;
  data[1] = 0x01;
  Put16(data + 2, static_cast<uint16_t>(format.page_size - format.index_entries_start - stored));
  Put32(data + 4, image.owner);
  Put32(data + kJet4PrevOffset, image.prev);
  Put32(data + kJet4NextOffset, image.next);
  Put32(data + kJet4TailOffset, image.leaf ? 0 : image.tail);
  Put16(data + kJet4PrefixOffset, static_cast<uint16_t>(prefix));
  return Status::Ok();
}

}  // namespace jet
