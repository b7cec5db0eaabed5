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

}  // namespace

Result<IndexPage> ReadIndexPage(Pager& pager, uint32_t page) {
  JET_ASSIGN_OR_RETURN(const uint8_t* data, pager.ReadPage(page));
  return DecodeIndexPage(pager, page, data);
}

Status IndexEntryReader::Start(Pager& pager, uint32_t page, const uint8_t* data) {
  const Format& format = pager.format();
  if (data[0] != kPageIndexLeaf && data[0] != kPageIndexIntermediate) {
    return pager.Corrupt(page, "expected an index page but found page type " + std::to_string(data[0]));
  }
  // Everything but the key's buffer, which serves the next page too.
  pager_ = &pager;
  data_ = data;
  mask_byte_ = 0;
  entry_start_ = 0;
  first_ = true;
  // An entry and the prefix it omits: at most the page twice over.
  if (key_room_ < size_t{format.page_size} * 2) {
    key_room_ = size_t{format.page_size} * 2;
    key_ = std::make_unique_for_overwrite<char[]>(key_room_);
  }
  const IndexPageHeader layout = HeaderLayout(format);
  page_.number = page;
  page_.type = data[0];
  page_.owner = Get32(data + 4);
  page_.prev = Get32(data + layout.prev_offset);
  page_.next = Get32(data + layout.next_offset);
  page_.tail = Get32(data + layout.tail_offset);
  // Jet 3 keeps the prefix length in one byte (the next holds unrelated flags); Jet 4 in two.
  page_.prefix_length = format.jet4() ? Get16(data + layout.prefix_offset) : data[layout.prefix_offset];
  const uint32_t mask_length = format.index_entries_start - format.index_entry_mask;
  bits_ = mask_length > 0 ? data[format.index_entry_mask] : 0;
  return Status::Ok();
}

size_t IndexEntryReader::marked() const {
  const Format& format = pager_->format();
  const uint32_t mask_length = format.index_entries_start - format.index_entry_mask;
  size_t marked = 0;
  for (uint32_t byte = 0; byte < mask_length; byte += 8) {
    uint8_t word[8] = {};
    std::memcpy(word, data_ + format.index_entry_mask + byte, std::min<uint32_t>(8, mask_length - byte));
    marked += static_cast<size_t>(std::popcount(Get64(word)));
  }
  return marked;
}

Status IndexEntryReader::LeafRows(std::vector<LeafRow>* rows, bool has_before, std::string* key_before) {
  JET_ASSIGN_OR_RETURN(bool plain, PlainLeafRows(rows, has_before, key_before));
  if (plain) return Status::Ok();
  rows->clear();
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, Next());
    if (!more) return Status::Ok();
    const bool same = (has_before || !rows->empty()) && key() == *key_before;
    rows->push_back(LeafRow{data_page_, data_row_, same});
    key_before->assign(key());
  }
}

Result<bool> IndexEntryReader::PlainLeafRows(std::vector<LeafRow>* rows, bool has_before, std::string* key_before) const {
  const Format& format = pager_->format();
  const uint32_t mask_length = format.index_entries_start - format.index_entry_mask;
  const uint32_t room = format.page_size - format.index_entries_start;
  const uint8_t* entries = data_ + format.index_entries_start;
  const size_t prefix = page_.prefix_length;
  rows->clear();
  uint32_t start = 0;
  const uint8_t* last = nullptr;  // the key bytes past the prefix of the entry before
  size_t last_size = 0;
  for (uint32_t byte = 0; byte < mask_length; byte += 8) {
    uint8_t word[8] = {};
    std::memcpy(word, data_ + format.index_entry_mask + byte, std::min<uint32_t>(8, mask_length - byte));
    for (uint64_t bits = Get64(word); bits != 0; bits &= bits - 1) {
      // A set bit marks the offset just past an entry.
      const uint32_t end = byte * 8 + static_cast<uint32_t>(std::countr_zero(bits));
      if (end > room) return pager_->Corrupt(page_.number, "an index entry runs past the end of the page");
      const uint8_t* stored = entries + start;
      const size_t length = end - start;
      start = end;
      const bool first = rows->empty();
      if (first && prefix > length) return pager_->Corrupt(page_.number, "the shared key prefix is longer than the page's first entry");
      const size_t skip = first ? prefix : 0;  // the first entry holds the prefix itself
      if (length < skip + 4) return false;
      const uint8_t* key = stored + skip;
      const size_t key_size = length - skip - 4;
      const bool same = first ? has_before && std::string_view(*key_before) == std::string_view(reinterpret_cast<const char*>(stored), length - 4)
                              : key_size == last_size && std::memcmp(key, last, key_size) == 0;
      rows->push_back(LeafRow{Get24BigEndian(stored + length - 4), stored[length - 1], same});
      last = key;
      last_size = key_size;
    }
  }
  if (!rows->empty()) {
    key_before->assign(reinterpret_cast<const char*>(entries), prefix);
    key_before->append(reinterpret_cast<const char*>(last), last_size);
  }
  return true;
}

Result<bool> IndexEntryReader::Next() {
  const Format& format = pager_->format();
  const uint32_t mask_length = format.index_entries_start - format.index_entry_mask;
  while (bits_ == 0) {
    if (++mask_byte_ >= mask_length) return false;
    bits_ = data_[format.index_entry_mask + mask_byte_];
  }
  // A set bit marks the offset just past an entry.
  const uint32_t entry_end = mask_byte_ * 8 + static_cast<uint32_t>(__builtin_ctz(bits_));
  bits_ &= static_cast<uint8_t>(bits_ - 1);
  const uint32_t page = page_.number;
  if (format.index_entries_start + entry_end > format.page_size) return pager_->Corrupt(page, "an index entry runs past the end of the page");
  const char* stored = reinterpret_cast<const char*>(data_ + format.index_entries_start + entry_start_);
  const size_t length = entry_end - entry_start_;
  entry_start_ = entry_end;
  // The entry's bytes follow the shared prefix, which the first entry put at the buffer's start.
  if (first_ && page_.prefix_length > length) return pager_->Corrupt(page, "the shared key prefix is longer than the page's first entry");
  const size_t prefix = first_ ? 0 : page_.prefix_length;
  first_ = false;
  std::memcpy(key_.get() + prefix, stored, length);
  const size_t size = prefix + length;
  // The pointers end the entry; in damaged or odd pages they reach back into the shared prefix.
  const size_t tail = kRowPointerSize + (page_.leaf() ? 0 : kChildPointerSize);
  if (size < tail) return pager_->Corrupt(page, "an index entry is too short to hold its pointers");
  const uint8_t* p = reinterpret_cast<const uint8_t*>(key_.get()) + size - tail;
  data_page_ = Get24BigEndian(p);
  data_row_ = p[3];
  child_page_ = page_.leaf() ? 0 : Get32BigEndian(p + kRowPointerSize);
  key_size_ = size - tail;
  return true;
}

Result<IndexPage> DecodeIndexPage(Pager& pager, uint32_t page, const uint8_t* data) {
  IndexEntryReader reader;
  JET_RETURN_IF_ERROR(reader.Start(pager, page, data));
  IndexPage result = reader.page();
  // Room for every entry at once, and for some more that a writer keeping the decoded page adds
  // before the page splits: growing the list entry by entry moved each entry several times.
  result.entries.reserve(reader.marked() + reader.marked() / 4 + 4);
  while (true) {
    JET_ASSIGN_OR_RETURN(bool more, reader.Next());
    if (!more) break;
    IndexEntry& entry = result.entries.emplace_back();
    entry.key.assign(reader.key());
    entry.data_page = reader.data_page();
    entry.data_row = reader.data_row();
    entry.child_page = reader.child_page();
  }
  return result;
}

}  // namespace jet
