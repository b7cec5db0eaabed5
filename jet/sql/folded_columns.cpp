#include "jet/sql/folded_columns.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <span>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/index_key.h"
#include "jet/pages/usage_map.h"
#include "jet/sql/byte_folder.h"
#include "jet/sql/chunk_arena.h"
#include "jet/sql/kept_texts.h"
#include "jet/sql/page_digest.h"
#include "jet/sql/sorted_rows.h"
#include "jet/sql/sql_rows.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_fold.h"

namespace jet {

void AppendFoldedBytes(std::u16string_view folded, std::string* out) {
  // Room for the most a unit takes, then cut to what was written.
  const size_t at = out->size();
  out->resize(at + folded.size() * 3);
  char* p = out->data() + at;
  for (const char16_t u : folded) p = PutFoldedUnit(u, p);
  out->resize(static_cast<size_t>(p - out->data()));
}

void FoldedUnitsOf(std::string_view bytes, std::u16string* out) {
  out->clear();
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t b = static_cast<uint8_t>(bytes[i]);
    const auto next = [&](size_t k) { return static_cast<char16_t>(static_cast<uint8_t>(bytes[i + k]) & 0x3F); };
    if (b < 0x80) {
      out->push_back(b);
      i += 1;
    } else if (b < 0xE0) {
      out->push_back(static_cast<char16_t>((b & 0x1F) << 6 | next(1)));
      i += 2;
    } else {
      out->push_back(static_cast<char16_t>((b & 0x0F) << 12 | next(1) << 6 | next(2)));
      i += 3;
    }
  }
}

Status AppendFoldedKeyColumn(JetVersion version, const FoldedColumns& folded, size_t row, size_t k, bool ascending, Value* units,
                             std::string* key) {
  const KeyColumn column{ColumnType::kText, ascending};
  if (folded.Null(row, k)) return AppendKeyColumn(version, column, Null{}, key);
  if (AppendUtf8KeyColumn(version, ascending, folded.Text(row, k), key)) return Status::Ok();
  if (!std::holds_alternative<Text>(*units)) *units = Text();
  FoldedUnitsOf(folded.Text(row, k), &std::get<Text>(*units));
  return AppendKeyColumn(version, column, *units, key);
}

void FoldedColumns::ChunkFree::operator()(char* chunk) const {
  if (mapped == 0) {
    delete[] chunk;
    return;
  }
  // Only the pages wholly inside the chunk: its neighbours may still be in use.
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(chunk) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(chunk) + mapped) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

uint32_t FoldedColumns::HeaderOf(size_t row) const {
  const auto header = std::lower_bound(headers.begin(), headers.end(), std::make_pair(static_cast<uint32_t>(row), uint32_t{0}));
  return header != headers.end() && header->first == row ? header->second : places[row];
}

size_t FoldedColumns::MemoryBytes() const {
  return chunks.size() * kChunkBytes + starts.capacity() * sizeof(uint32_t) + nulls.capacity() +
         places.capacity() * sizeof(uint32_t);
}

namespace {

// Whether a stored text is a Jet 4 text kept one byte a character without a switch to two-byte
// runs (most of them): those are folded straight from their bytes.
bool OneByteUnits(JetVersion version, const StoredText& stored) {
  const uint8_t* b = stored.bytes;
  return version == JetVersion::kJet4 && stored.size >= 2 && b[0] == 0xFF && b[1] == 0xFE &&
         std::memchr(b + 2, 0, stored.size - 2) == nullptr;
}

// Pages read at once while streaming a table: 1 MB of 4 KB pages.
constexpr uint32_t kRunPages = 256;

// Reads `pages` (ascending) in long runs straight from the file and hands each to `visit`
// (page, bytes) -> Result<bool>; stops with false as soon as `visit` does.
// Two threads read half as much at once each, so that together they hold no more.
template <typename Visit>
Result<bool> StreamPages(Pager& pager, std::span<const uint32_t> pages, Visit visit, uint32_t run_pages = kRunPages) {
  if (pages.empty()) return true;
  const uint32_t page_size = pager.page_size();
  // With a block's room after the last page: a text at its very end is folded as a block too.
  const size_t size = size_t{run_pages} * page_size + 16;
  const std::unique_ptr<uint8_t[]> run = std::make_unique_for_overwrite<uint8_t[]>(size);
  for (size_t i = 0; i < pages.size();) {
    uint32_t count = 1;
    while (count < run_pages && i + count < pages.size() && pages[i + count] == pages[i] + count) ++count;
    JET_RETURN_IF_ERROR(pager.ReadRun(pages[i], count, run.get()));
    std::memset(run.get() + size_t{count} * page_size, 0, 16);  // what a block reads past the run's end
    for (uint32_t k = 0; k < count; ++k) {
      JET_ASSIGN_OR_RETURN(bool go_on, visit(pages[i] + k, run.get() + size_t{k} * page_size));
      if (!go_on) return false;
    }
    i += count;
  }
  return true;
}

// Hands the elements of `from` to `take` (elements, count), a piece at a time, front to back,
// giving the memory of those handed back to the system as it goes, and the rest of it at the end.
template <typename T, typename Take>
void DrainReleasing(AdoptableVector<T>& from, Take take) {
  constexpr size_t kPiece = size_t{1} << 15;
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  // Only pages wholly inside the elements: the allocator keeps its own words beside them.
  uintptr_t released = (reinterpret_cast<uintptr_t>(from.data()) + page - 1) & ~(page - 1);
  for (size_t i = 0; i < from.size(); i += kPiece) {
    const size_t end = std::min(from.size(), i + kPiece);
    take(from.data() + i, end - i);
    const uintptr_t handed = reinterpret_cast<uintptr_t>(from.data() + end) & ~(page - 1);
    if (handed > released) {
      madvise(reinterpret_cast<void*>(released), handed - released, MADV_DONTNEED);
      released = handed;
    }
  }
  AdoptableVector<T>().swap(from);
}

// The names of the moved rows whose bytes are at `homes`, among rows at `places` (ascending):
// each (row, the slot that begins the forwarding chain ending at its home), by row, into
// `headers`, from the table's forwarding slots (place, where it points) and its pages
// (ascending). False where a home ends no chain (a stray flag) or holds no row, or a chain is
// longer than a walk follows or leaves the table.
bool NameMovedRows(const std::vector<std::pair<uint32_t, uint32_t>>& forwarding, const std::vector<uint32_t>& pages,
                   std::vector<uint32_t> homes, const AdoptableVector<uint32_t>& places,
                   std::vector<std::pair<uint32_t, uint32_t>>* headers) {
  headers->clear();
  if (homes.empty()) return true;
  std::unordered_map<uint32_t, uint32_t> next, back;  // forwarding slot to where it points, and back
  for (const auto& [from, to] : forwarding) {
    if (!std::binary_search(pages.begin(), pages.end(), RowPointerPage(to))) return false;
    next.emplace(from, to);
    back.emplace(to, from);
  }
  for (const auto& [from, to] : forwarding) {
    uint32_t at = to;
    for (int hops = 1; next.count(at) != 0; ++hops) {
      if (hops == kMaxForwardingHops) return false;
      at = next.at(at);
    }
  }
  std::sort(homes.begin(), homes.end());
  for (const uint32_t home : homes) {
    auto from = back.find(home);
    const auto row = std::lower_bound(places.begin(), places.end(), home);
    if (from == back.end() || row == places.end() || *row != home) return false;
    while (back.count(from->second) != 0) from = back.find(from->second);  // no cycle: every chain ends
    headers->emplace_back(static_cast<uint32_t>(row - places.begin()), from->second);
  }
  return true;
}

class Builder {
 public:
  // `expected_rows`: the rows it will most likely hold, room for which is made at once.
  Builder(Pager& pager, const TableDef& def, const std::vector<size_t>& columns, size_t expected_rows)
      : pager_(pager), def_(def), row_(pager, def), fold_(FoldTableOf(pager.format().version)), bytes_(fold_) {
    folded_ = std::make_unique<FoldedColumns>();
    folded_->columns = columns;
    plain_ = pager.format().version == JetVersion::kJet4 && def.var_column_count > 0;
    for (size_t k = 0; k < columns.size() && k < 8; ++k) {
      const ColumnDef& column = def.columns[columns[k]];
      plain_ = plain_ && column.type == ColumnType::kText && !column.fixed();
      numbers_[k] = column.number;
      var_indexes_[k] = column.var_index;
    }
    // Growing by doubling, then shrinking to fit, held the lists up to three times over at their
    // largest.
    const size_t rows = std::min<size_t>(expected_rows, size_t{1} << 26);
    folded_->starts.reserve(rows * columns.size() + 1);
    folded_->places.reserve(rows);
    folded_->nulls.reserve(rows);
    folded_->mapping = arena_.held();
  }

  // Takes the chunks of texts folded from up to `pages` pages from one reservation (ChunkArena):
  // at most three bytes for each byte stored, and what chunks leave unused at their ends.
  void ReserveChunksFor(size_t pages) {
    const size_t most = pages * pager_.page_size() / FoldedColumns::kChunkBytes * 3;
    arena_ = ChunkArena(most + most / 16 + 2, FoldedColumns::kChunkBytes);
    folded_->mapping = arena_.held();
  }

  // Reads the rows of the table's pages in long runs, with each page's digest into `digests`;
  // false (with nothing kept) where a row cannot be read from its page alone: the caller walks
  // the table with a StorageCursor instead, as it does when MovedRowsNamed is false.
  Result<bool> Stream(std::span<const uint32_t> pages, std::vector<uint64_t>* digests, uint32_t run_pages = kRunPages) {
    const uint32_t page_size = pager_.page_size();
    return StreamPages(
        pager_, pages,
        [&](uint32_t page, const uint8_t* data) {
          digests->push_back(PageDigest(data, page_size));
          return AddPage(page, data);
        },
        run_pages);
  }

  // Streams `pages` as Stream does, on a thread of its own beside the one that owns the pager:
  // only pages whose rows are all plain (AddPlain) are added, from their bytes alone. Stops at
  // the first page that wants more (a row read through its layout, a damaged page, a read that
  // failed), or when `stop` is set; returns how many pages it added. What it stopped at is
  // neither reported nor kept: the caller reads on from there, meeting it as one thread would.
  size_t StreamAlone(std::span<const uint32_t> pages, std::vector<uint64_t>* digests, const std::atomic<bool>& stop) {
    size_t done = 0;
    const uint32_t page_size = pager_.page_size();
    (void)StreamPages(
        pager_, pages,
        [&](uint32_t page, const uint8_t* data) -> Result<bool> {
          if (stop.load(std::memory_order_relaxed) || !AddPageAlone(page, data)) return false;
          digests->push_back(PageDigest(data, page_size));
          ++done;
          return true;
        },
        kRunPages / 2);
    return done;
  }

  // Adds the rows of a data page of the table; false as Stream says. `alone`: false too, with
  // rows of the page added, where a row is not plain.
  Result<bool> AddPage(uint32_t page, const uint8_t* data, bool alone = false) {
    JET_RETURN_IF_ERROR(CheckOwnedDataPage(pager_, def_.page, page, data));
    const Format& format = pager_.format();
    const uint16_t count = DataPageRowCount(format, data);
    const uint32_t slots_end = format.data_row_offsets + 2u * count;
    // A row ends where the slot before it begins, whatever that slot holds.
    uint32_t row_end = format.page_size;
    for (uint32_t r = 0; r < count; ++r) {
      if (plain_ && slots_end <= format.page_size) {
        const uint16_t raw = Get16(data + format.data_row_offsets + 2 * r);
        const uint32_t start = raw & kRowOffsetMask, end = row_end;
        row_end = start;
        if ((raw & (kRowDeleted | kRowOverflow)) == 0 && start >= slots_end && start <= end && end <= format.page_size) {
          if (AddPlain(page << 8 | static_cast<uint8_t>(r), data + start, end - start)) continue;
        }
      }
      JET_ASSIGN_OR_RETURN(RowSlot slot, RowSlotOf(pager_, page, data, r));
      if (slot.deleted()) continue;
      const uint32_t place = page << 8 | static_cast<uint8_t>(r);
      if (slot.forwarding()) {
        // Only the forwarding slots tell a moved row's home from a stray flag: noted for
        // MovedRowsNamed. One too short to point anywhere is left to the walk to report.
        const Result<uint32_t> to = ForwardingPointer(pager_, page, slot);
        if (!to.ok()) return false;
        forwarding_.emplace_back(place, to.value());
        continue;
      }
      if (slot.moved_home()) {
        moved_homes_.emplace_back(static_cast<uint32_t>(folded_->places.size()), place);
        folded_->moved_rows = true;
        if (plain_ && AddPlain(place, slot.bytes, slot.size)) continue;
      }
      if (alone) return false;
      JET_RETURN_IF_ERROR(Add(RowId{page, static_cast<uint8_t>(r)}, slot));
    }
    return true;
  }

  // Whether the rows added from moved homes are moved rows, as a walk of the table finds them
  // (NameMovedRows), named then by their chains' first slots; false where any is not, for the
  // walk to drop a stray flag's row or report the damage.
  bool MovedRowsNamed(const std::vector<uint32_t>& pages) {
    return NameMovedRows(forwarding_, pages, MovedHomes(), folded_->places, &folded_->headers);
  }

  // The forwarding slots met: (place, where it points).
  const std::vector<std::pair<uint32_t, uint32_t>>& forwarding() const { return forwarding_; }
  // The places of the rows added from moved homes.
  std::vector<uint32_t> MovedHomes() const {
    std::vector<uint32_t> homes;
    for (const auto& [row, place] : moved_homes_) homes.push_back(place);
    return homes;
  }

  // Names the row added last by `header`, the slot its index entries name, where that is not
  // where its bytes are.
  void NameLastRow(RowId header) {
    const uint32_t row = static_cast<uint32_t>(folded_->places.size() - 1), place = header.page << 8 | header.row;
    if (folded_->places[row] != place) folded_->headers.emplace_back(row, place);
  }

  Status Add(RowId id, const RowSlot& slot) {
    JET_RETURN_IF_ERROR(row_.Load(id, slot));
    folded_->moved_rows = folded_->moved_rows || slot.moved_home();
    AddPlace(id.page << 8 | id.row);
    uint8_t nulls = 0;
    for (size_t k = 0; k < folded_->columns.size(); ++k) {
      StoredText stored;
      JET_ASSIGN_OR_RETURN(Stored kind, row_.GetStored(folded_->columns[k], &stored));
      if (kind == Stored::kText && OneByteUnits(pager_.format().version, stored)) {
        // Folded where it is kept: room for the most its units take, then as much used as written.
        JET_ASSIGN_OR_RETURN(char* at, Room(ByteFolder::Room(stored.size - 2)));
        Kept(bytes_.Fold(stored.bytes + 2, stored.size - 2, at, false));
        continue;
      }
      text_.clear();
      JET_ASSIGN_OR_RETURN(bool null, FoldColumn(folded_->columns[k], kind, stored));
      if (null) nulls |= static_cast<uint8_t>(1u << k);
      JET_RETURN_IF_ERROR(Keep());
    }
    folded_->nulls.push_back(nulls);
    return Status::Ok();
  }

  // Adds a live row kept where its slot says, straight from its bytes, as Add would through the
  // row's layout; false, with nothing added, when the row wants Add (its texts not all in it, a
  // damaged row, or too much text, which Add reports).
  bool AddPlain(uint32_t place, const uint8_t* bytes, uint32_t size) {
    if (size < 4) return false;
    const uint32_t column_count = Get16(bytes);
    const uint32_t mask_size = (column_count + 7) / 8;
    if (mask_size + 4 > size) return false;
    const uint8_t* null_mask = bytes + size - mask_size;
    const uint32_t var_count = Get16(bytes + size - mask_size - 2);
    if (mask_size + 2 + 2 * (var_count + 1) > size) return false;
    const uint8_t* offsets = bytes + size - mask_size - 4;  // variable column 0's; the next below
    const size_t width = folded_->columns.size();
    // Filled for the row's columns below: not emptied first, as a StoredText would be.
    struct {
      const uint8_t* bytes;
      size_t size;
    } texts[8];
    uint8_t nulls = 0;
    for (size_t k = 0; k < width; ++k) {
      const uint32_t n = numbers_[k], v = var_indexes_[k];
      if (n >= column_count || (null_mask[n / 8] >> (n % 8) & 1) == 0 || v >= var_count) {
        nulls |= static_cast<uint8_t>(1u << k);
        texts[k].size = 0;
        continue;
      }
      const uint32_t start = Get16(offsets - 2 * v), end = Get16(offsets - 2 * v - 2);
      if (start > end || end > size) return false;
      texts[k].bytes = bytes + start;
      texts[k].size = end - start;
    }
    // Room for the row's texts at once, each written right after the one before.
    size_t most = 0;
    for (size_t k = 0; k < width; ++k) most += ByteFolder::Room(texts[k].size) + 1;
    std::vector<uint32_t>& used = folded_->chunk_used;
    if ((used.empty() || used.back() + most > FoldedColumns::kChunkBytes) && !Room(most).ok()) return false;
    char* const chunk = folded_->chunks.back().get();
    char* at = chunk + used.back();
    const uint64_t base = uint64_t{folded_->chunks.size() - 1} * FoldedColumns::kChunkBytes;
    for (size_t k = 0; k < width; ++k) {
      folded_->starts.push_back(static_cast<uint32_t>(base + static_cast<uint64_t>(at - chunk)));
      at = FoldStored(texts[k].bytes, texts[k].size, at);
      *at++ = '\0';
    }
    used.back() = static_cast<uint32_t>(at - chunk);
    AddPlace(place);
    folded_->nulls.push_back(nulls);
    return true;
  }

  // Writes at `at` the folded bytes of a Jet 4 text stored as `size` bytes `b` (none for a
  // NULL), with ByteFolder::Room of its size there; returns their end.
  char* FoldStored(const uint8_t* b, size_t size, char* at) {
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
      if (char* end = bytes_.Fold(b + 2, size - 2, at, true)) return end;
    }
    if (size == 0) return at;
    // Runs of two-byte characters, or a text kept two bytes a character: at most three bytes
    // for each two stored bytes.
    DecodeStoredText(JetVersion::kJet4, b, size, &scratch_);
    for (const char16_t u : scratch_) at = PutFoldedUnit(fold_[u], at);
    return at;
  }

  // Adds row `row` of other folded texts of the same columns, as they hold it.
  Status Copy(const FoldedColumns& from, size_t row) {
    AddPlace(from.places[row]);
    for (size_t k = 0; k < folded_->columns.size(); ++k) {
      text_.assign(from.Text(row, k));
      JET_RETURN_IF_ERROR(Keep());
    }
    folded_->nulls.push_back(from.nulls[row]);
    return Status::Ok();
  }

  // Adds rows [first, end) of other folded texts of the same columns: where rows lie together in
  // one chunk there and fit together in the chunk being filled here, their bytes are copied at
  // once and their starts moved by as much.
  Status CopyRows(const FoldedColumns& from, size_t first, size_t end) {
    const size_t width = folded_->columns.size();
    std::vector<uint32_t>& used = folded_->chunk_used;
    while (first < end) {
      const uint64_t at = from.starts[first * width];
      const uint64_t chunk_end = (at / FoldedColumns::kChunkBytes + 1) * FoldedColumns::kChunkBytes;
      const uint64_t room = used.empty() ? 0 : FoldedColumns::kChunkBytes - used.back();
      // The rows followed by another in the same chunk (the last one of a chunk is copied alone).
      size_t last = first;
      while (last < end && from.starts[(last + 1) * width] < chunk_end && from.starts[(last + 1) * width] - at <= room) ++last;
      if (last == first) {
        JET_RETURN_IF_ERROR(Copy(from, first++));
        continue;
      }
      const uint64_t bytes = from.starts[last * width] - at;
      const uint64_t to = uint64_t{folded_->chunks.size() - 1} * FoldedColumns::kChunkBytes + used.back();
      std::memcpy(folded_->chunks.back().get() + used.back(), from.At(at), bytes);
      used.back() += static_cast<uint32_t>(bytes);
      for (size_t i = first * width; i < last * width; ++i) folded_->starts.push_back(static_cast<uint32_t>(from.starts[i] - at + to));
      for (size_t row = first; row < last; ++row) {
        AddPlace(from.places[row]);
        folded_->nulls.push_back(from.nulls[row]);
      }
      first = last;
    }
    return Status::Ok();
  }

  // Adds the rows of `later`, built from pages that come after this one's: its chunks as they
  // are, its lists behind these, the memory of what is copied given back as it goes, so that
  // the lists of the two are never held twice over.
  Status Append(Builder& later) {
    FoldedColumns& to = *folded_;
    FoldedColumns& from = *later.folded_;
    const size_t chunks = to.chunks.size() + from.chunks.size();
    if (chunks > 0 && (chunks - 1) * FoldedColumns::kChunkBytes >= UINT32_MAX - FoldedColumns::kChunkBytes) return TooMuch();
    const uint32_t base = static_cast<uint32_t>(to.chunks.size() * FoldedColumns::kChunkBytes);
    LetTailGo();
    later.LetTailGo();
    arena_.Adopt(later.arena_);
    for (FoldedColumns::Chunk& chunk : from.chunks) to.chunks.push_back(std::move(chunk));
    to.chunk_used.insert(to.chunk_used.end(), from.chunk_used.begin(), from.chunk_used.end());
    to.moved_rows = to.moved_rows || from.moved_rows;
    for (const auto& [row, place] : later.moved_homes_) moved_homes_.emplace_back(static_cast<uint32_t>(to.places.size()) + row, place);
    forwarding_.insert(forwarding_.end(), later.forwarding_.begin(), later.forwarding_.end());
    to.places_ascending = to.places_ascending && from.places_ascending &&
                          (to.places.empty() || from.places.empty() || to.places.back() < from.places.front());
    DrainReleasing(from.starts, [&](const uint32_t* starts, size_t n) {
      const size_t at = to.starts.size();
      to.starts.resize(at + n);
      for (size_t i = 0; i < n; ++i) to.starts[at + i] = starts[i] + base;
    });
    DrainReleasing(from.places, [&](const uint32_t* places, size_t n) { to.places.insert(to.places.end(), places, places + n); });
    DrainReleasing(from.nulls, [&](const uint8_t* nulls, size_t n) { to.nulls.insert(to.nulls.end(), nulls, nulls + n); });
    later.folded_ = std::make_unique<FoldedColumns>();
    return Status::Ok();
  }

  bool plain() const { return plain_; }

  Result<std::unique_ptr<FoldedColumns>> Finish() {
    const uint64_t end = uint64_t{folded_->chunks.size()} * FoldedColumns::kChunkBytes;
    if (end > UINT32_MAX) return TooMuch();
    LetTailGo();
    folded_->starts.push_back(static_cast<uint32_t>(end));
    folded_->starts.shrink_to_fit();
    folded_->places.shrink_to_fit();
    folded_->nulls.shrink_to_fit();
    return std::move(folded_);
  }

 private:
  // Gives back what the huge page of the last text's end brought in past it.
  void LetTailGo() {
    if (!folded_->chunks.empty()) arena_.LetTailGo(folded_->chunks.back().get() + folded_->chunk_used.back());
  }

  // AddPage(alone), undone in full when it does not add the whole page.
  bool AddPageAlone(uint32_t page, const uint8_t* data) {
    FoldedColumns& f = *folded_;
    const size_t rows = f.places.size(), chunks = f.chunks.size();
    const uint32_t used = chunks == 0 ? 0 : f.chunk_used.back();
    const bool ascending = f.places_ascending, moved = f.moved_rows;
    const size_t homes = moved_homes_.size(), forwarding = forwarding_.size();
    const Result<bool> added = AddPage(page, data, true);
    if (added.ok() && added.value()) return true;
    moved_homes_.resize(homes);
    forwarding_.resize(forwarding);
    f.moved_rows = moved;
    f.places.resize(rows);
    f.nulls.resize(rows);
    f.starts.resize(rows * f.columns.size());
    f.chunks.resize(chunks);
    f.chunk_used.resize(chunks);
    if (chunks > 0) f.chunk_used.back() = used;
    f.places_ascending = ascending;
    return false;
  }

  void AddPlace(uint32_t packed) {
    folded_->places_ascending = folded_->places_ascending && (folded_->places.empty() || folded_->places.back() < packed);
    folded_->places.push_back(packed);
  }

  // Folds the row's value of `column`, stored as `kind` and `stored` say, into text_; true when
  // it is NULL.
  Result<bool> FoldColumn(size_t column, Stored kind, const StoredText& stored) {
    if (kind == Stored::kText) {
      DecodeStoredText(pager_.format().version, stored.bytes, stored.size, &scratch_);
      for (char16_t& u : scratch_) u = fold_[u];
      AppendFoldedBytes(scratch_, &text_);
      return false;
    }
    if (kind == Stored::kNull) return true;
    JET_ASSIGN_OR_RETURN(const Value* value, row_.Get(column));
    const jet::Text* text = std::get_if<jet::Text>(value);
    if (text == nullptr) return true;
    scratch_.resize(text->size());
    for (size_t i = 0; i < text->size(); ++i) scratch_[i] = fold_[(*text)[i]];
    AppendFoldedBytes(scratch_, &text_);
    return false;
  }

  // Where the next text goes, with room for `most` bytes: in the last chunk, or a new one where
  // they do not fit.
  Result<char*> Room(size_t most) {
    std::vector<uint32_t>& used = folded_->chunk_used;
    if (used.empty() || used.back() + most > FoldedColumns::kChunkBytes) {
      if (folded_->chunks.size() * FoldedColumns::kChunkBytes >= UINT32_MAX - FoldedColumns::kChunkBytes) return TooMuch();
      // Left unfilled: the end of the last chunk is never touched, so takes no memory.
      if (char* chunk = arena_.Take()) {
        folded_->chunks.emplace_back(chunk, FoldedColumns::ChunkFree(FoldedColumns::kChunkBytes));
      } else {
        folded_->chunks.push_back(std::make_unique_for_overwrite<char[]>(FoldedColumns::kChunkBytes));
      }
      used.push_back(0);
    }
    return folded_->chunks.back().get() + used.back();
  }
  // The text written from Room on ends at `end`: its zero goes there.
  void Kept(char* end) {
    *end = '\0';
    std::vector<uint32_t>& used = folded_->chunk_used;
    const char* at = folded_->chunks.back().get() + used.back();
    folded_->starts.push_back(static_cast<uint32_t>((folded_->chunks.size() - 1) * FoldedColumns::kChunkBytes + used.back()));
    used.back() += static_cast<uint32_t>(end + 1 - at);
  }

  // Puts text_ and its zero in the last chunk, or a new one where it does not fit.
  Status Keep() {
    JET_ASSIGN_OR_RETURN(char* at, Room(text_.size() + 1));
    std::memcpy(at, text_.data(), text_.size());
    Kept(at + text_.size());
    return Status::Ok();
  }

  Error TooMuch() const { return Error(ErrorCode::kInvalidArgument, "table \"" + def_.name + "\": too much text to search at once"); }

  Pager& pager_;
  const TableDef& def_;
  LazyRow row_;
  const char16_t* fold_;
  ByteFolder bytes_;
  bool plain_ = false;  // rows may be added by AddPlain: Jet 4, variable-length Text columns only
  // Per column of the texts: its number and its place among the variable-length columns.
  uint16_t numbers_[8] = {}, var_indexes_[8] = {};
  ChunkArena arena_;
  std::unique_ptr<FoldedColumns> folded_;
  std::string text_;
  jet::Text scratch_;
  std::vector<std::pair<uint32_t, uint32_t>> moved_homes_;  // rows added from moved homes: (row, place)
  std::vector<std::pair<uint32_t, uint32_t>> forwarding_;   // forwarding slots met: (place, where it points)
};

std::atomic<size_t> one_thread_pages{kOneThreadPages};

// Streams the table's `pages` into `builder` as Builder::Stream does. A large table's later half
// is folded meanwhile on a second thread, from where the first half ends on, and its rows are
// put behind the first half's; where that thread stopped short, this one reads on from there.
Result<bool> StreamTable(Pager& pager, const TableDef& def, const std::vector<size_t>& columns, const std::vector<uint32_t>& pages,
                         Builder& builder, std::vector<uint64_t>* digests) {
  digests->reserve(pages.size());
  if (pages.size() <= one_thread_pages.load() || !builder.plain()) return builder.Stream(pages, digests);
  const std::span<const uint32_t> all(pages);
  const size_t half = pages.size() / 2;
  // Room for every row, as the first half's: only what it fills takes memory.
  Builder later(pager, def, columns, def.row_count);
  later.ReserveChunksFor(pages.size() - half);
  std::vector<uint64_t> later_digests;
  later_digests.reserve(pages.size() - half);
  std::atomic<bool> stop{false};
  size_t done = 0;
  std::thread thread;
  try {
    thread = std::thread([&] { done = later.StreamAlone(all.subspan(half), &later_digests, stop); });
  } catch (const std::system_error&) {
    return builder.Stream(pages, digests);  // no thread to be had: one does it all
  }
  struct Joined {
    std::thread& thread;
    std::atomic<bool>& stop;
    ~Joined() {
      stop.store(true);
      if (thread.joinable()) thread.join();
    }
  } joined{thread, stop};
  JET_ASSIGN_OR_RETURN(bool whole, builder.Stream(all.first(half), digests, kRunPages / 2));
  if (!whole) return false;
  thread.join();
  JET_RETURN_IF_ERROR(builder.Append(later));
  digests->insert(digests->end(), later_digests.begin(), later_digests.end());
  return builder.Stream(all.subspan(half + done), digests);
}

// Folded texts of the table as it is now; with the digests of the pages read when the table was
// streamed (not when a moved row made the build walk it, or inside a write).
Result<std::shared_ptr<FoldedCarry>> Build(Pager& pager, const TableDef& def, const std::vector<size_t>& columns) {
  auto carry = std::make_shared<FoldedCarry>();
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
  if (!pager.in_write()) {
    Builder streamed(pager, def, columns, def.row_count);
    streamed.ReserveChunksFor(owned.size());
    JET_ASSIGN_OR_RETURN(bool whole, StreamTable(pager, def, columns, owned, streamed, &carry->digests));
    if (whole && streamed.MovedRowsNamed(owned)) {
      carry->forwarding = streamed.forwarding();
      JET_ASSIGN_OR_RETURN(carry->folded, streamed.Finish());
      carry->layout = LayoutOf(def);
      carry->pages = std::move(owned);
      return carry;
    }
    carry->digests.clear();
  }
  Builder walked(pager, def, columns, def.row_count);
  StorageCursor cursor(pager, def.page, std::make_shared<const std::vector<uint32_t>>(std::move(owned)));
  for (Result<bool> on = cursor.First();; on = cursor.Next()) {
    if (!on.ok()) return on.error();
    if (!on.value()) break;
    JET_RETURN_IF_ERROR(walked.Add(cursor.row(), cursor.slot()));
    walked.NameLastRow(cursor.header());
  }
  JET_ASSIGN_OR_RETURN(carry->folded, walked.Finish());
  return carry;
}

// The rows of `folded` (places ascending) on `page`: [first, second).
std::pair<size_t, size_t> RowsOnPage(const FoldedColumns& folded, uint32_t page) {
  const auto begin = std::lower_bound(folded.places.begin(), folded.places.end(), page << 8);
  const auto end = std::lower_bound(begin, folded.places.end(), (page + 1) << 8);
  return {static_cast<size_t>(begin - folded.places.begin()), static_cast<size_t>(end - folded.places.begin())};
}

// Whether rows [a, a + n) of `x` and [b, b + n) of `y` are the same rows with the same texts.
bool SameRows(const FoldedColumns& x, size_t a, const FoldedColumns& y, size_t b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (x.places[a + i] != y.places[b + i] || x.nulls[a + i] != y.nulls[b + i]) return false;
    for (size_t k = 0; k < x.columns.size(); ++k) {
      if (x.Text(a + i, k) != y.Text(b + i, k)) return false;
    }
  }
  return true;
}

// The kept rows, those of the `changed` pages (ascending) put in place of theirs. When the
// carry alone holds the kept texts, each of their chunks is given back as soon as it is copied,
// so that the two copies are never whole at once.
Result<std::unique_ptr<FoldedColumns>> Splice(Pager& pager, const TableDef& def, FoldedCarry& carry,
                                              const FoldedColumns& fresh, const std::vector<uint32_t>& changed) {
  const FoldedColumns& kept = *carry.folded;
  FoldedColumns* reclaim = carry.folded.use_count() == 1 ? const_cast<FoldedColumns*>(&kept) : nullptr;
  Builder spliced(pager, def, kept.columns, kept.rows() + fresh.rows());
  size_t c = 0, reclaimed = 0;
  for (size_t i = 0, r = 0; i < kept.rows() || r < fresh.rows();) {
    if (r < fresh.rows() && (i == kept.rows() || fresh.places[r] < kept.places[i])) {
      JET_RETURN_IF_ERROR(spliced.Copy(fresh, r++));
      continue;
    }
    const uint32_t page = kept.places[i] >> 8;
    while (c < changed.size() && changed[c] < page) ++c;
    if (c < changed.size() && changed[c] == page) {
      ++i;  // read again: among the fresh rows
      continue;
    }
    // The kept rows up to the next fresh row or the next changed page, copied together.
    uint32_t limit = c < changed.size() ? changed[c] << 8 : UINT32_MAX;
    if (r < fresh.rows()) limit = std::min(limit, fresh.places[r]);
    const size_t end = static_cast<size_t>(std::lower_bound(kept.places.begin() + static_cast<std::ptrdiff_t>(i), kept.places.end(), limit) -
                                           kept.places.begin());
    JET_RETURN_IF_ERROR(spliced.CopyRows(kept, i, end));
    i = end;
    for (const size_t chunk = kept.starts[i * kept.columns.size()] / FoldedColumns::kChunkBytes; reclaim != nullptr && reclaimed < chunk;) {
      reclaim->chunks[reclaimed++].reset();
    }
  }
  return spliced.Finish();
}

// Brings the carried folded texts up to the table as it is now: reads its pages, decodes those
// whose digest changed and compares their rows with the kept ones; the same rows with the same
// texts keep the folded texts as they are, others are spliced in. False when folding afresh is
// as cheap or the only way (moved rows, a changed definition): `carry` is then spent.
Result<bool> Refresh(Pager& pager, const TableDef& def, FoldedCarry& carry) {
  const FoldedColumns& kept = *carry.folded;
  if (carry.pages.empty() || carry.layout != LayoutOf(def) || !kept.places_ascending) return false;
  JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
  Builder fresh(pager, def, kept.columns, 0);  // the rows of the pages that changed
  std::vector<uint32_t> changed;               // pages that changed, came or went
  std::vector<uint64_t> digests;
  digests.reserve(owned.size());
  const size_t most_changed = owned.size() / 8 + 16;  // beyond it, folding every row costs little more
  size_t j = 0;
  JET_ASSIGN_OR_RETURN(bool plain, StreamPages(pager, owned, [&](uint32_t page, const uint8_t* data) -> Result<bool> {
    digests.push_back(PageDigest(data, pager.page_size()));
    for (; j < carry.pages.size() && carry.pages[j] < page; ++j) changed.push_back(carry.pages[j]);  // gone
    const bool had = j < carry.pages.size() && carry.pages[j] == page;
    if (had && carry.digests[j++] == digests.back()) return true;
    changed.push_back(page);
    if (changed.size() > most_changed) return false;
    return fresh.AddPage(page, data);
  }));
  if (!plain) return false;
  changed.insert(changed.end(), carry.pages.begin() + static_cast<std::ptrdiff_t>(j), carry.pages.end());
  if (changed.size() > most_changed) return false;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<const FoldedColumns> finished, fresh.Finish());
  const FoldedColumns& now = *finished;
  if (!now.places_ascending) return false;
  // The moved rows as they are now: the forwarding slots of the pages that did not change, and
  // of those that did; the homes of the rows kept on the first, and of the rows read again.
  std::vector<std::pair<uint32_t, uint32_t>> forwarding;
  for (const auto& slot : carry.forwarding) {
    if (!std::binary_search(changed.begin(), changed.end(), RowPointerPage(slot.first))) forwarding.push_back(slot);
  }
  forwarding.insert(forwarding.end(), fresh.forwarding().begin(), fresh.forwarding().end());
  std::vector<uint32_t> homes = fresh.MovedHomes();
  for (const auto& [row, header] : kept.headers) {
    if (!std::binary_search(changed.begin(), changed.end(), kept.places[row] >> 8)) homes.push_back(kept.places[row]);
  }
  bool same = true;
  for (size_t c = 0, r = 0; c < changed.size() && same; ++c) {
    const auto [begin, end] = RowsOnPage(kept, changed[c]);
    const size_t n = RowsOnPage(now, changed[c]).second - r;
    same = n == end - begin && SameRows(kept, begin, now, r, n);
    r += n;
  }
  if (!same) {
    // The orders kept for these texts are held by their rows' places meanwhile, so that the
    // splice may reclaim the texts' memory as it goes, and are then repaired for the new ones.
    std::vector<OrderByPlaces> orders = TakeOrdersByPlaces(pager, def.page, kept);
    if (carry.keeping.valid()) carry.keeping.wait();  // the keeping thread lets go of the texts
    JET_ASSIGN_OR_RETURN(std::unique_ptr<FoldedColumns> spliced, Splice(pager, def, carry, now, changed));
    if (!NameMovedRows(forwarding, owned, std::move(homes), spliced->places, &spliced->headers)) return false;
    spliced->moved_rows = !spliced->headers.empty();
    carry.folded = std::move(spliced);
    carry.kept_id = 0;  // no kept file holds these texts
    carry.keeping = {};
    JET_RETURN_IF_ERROR(CarryRepairedOrders(pager, def, carry.folded, changed, std::move(orders)));
  }
  if (same && (!homes.empty() || !kept.headers.empty())) {
    // The same rows with the same texts: named as before, unless a chain changed elsewhere.
    std::vector<std::pair<uint32_t, uint32_t>> headers;
    if (!NameMovedRows(forwarding, owned, std::move(homes), kept.places, &headers) || headers != kept.headers) return false;
  }
  carry.forwarding = std::move(forwarding);
  carry.pages = std::move(owned);
  carry.digests = std::move(digests);
  carry.stamp = 0;
  return true;
}

}  // namespace

void FoldOnOneThreadUpTo(size_t pages) { one_thread_pages.store(pages); }

std::string LayoutOf(const TableDef& def) {
  std::string layout = std::to_string(def.max_columns) + "/" + std::to_string(def.var_column_count);
  for (const ColumnDef& c : def.columns) {
    layout += ";" + std::to_string(static_cast<int>(c.type)) + "," + std::to_string(c.number) + "," + std::to_string(c.var_index) +
              "," + std::to_string(c.fixed_offset) + "," + std::to_string(c.flags) + "," + std::to_string(c.extra_flags);
  }
  return layout;
}

std::string FoldedColumnsKey(uint32_t table_page, const std::vector<size_t>& columns) {
  std::string key = "folded-columns:" + std::to_string(table_page);
  for (size_t c : columns) key += "," + std::to_string(c);
  return key;
}

std::string SortedRowsKeyPrefix(uint32_t table_page, const std::vector<size_t>& columns) {
  std::string key = "sorted-rows:" + std::to_string(table_page);
  for (size_t c : columns) key += "," + std::to_string(c);
  return key + ":";
}

Result<std::shared_ptr<const FoldedColumns>> FoldedColumnsOf(Pager& pager, const TableDef& def,
                                                             const std::vector<size_t>& columns) {
  if (columns.empty() || columns.size() > 8) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": folded texts of 1 to 8 columns, not " + std::to_string(columns.size()));
  }
  const std::string key = FoldedColumnsKey(def.page, columns);
  if (std::shared_ptr<const FoldedColumns> kept = pager.SharedDecoded<FoldedColumns>(key)) return kept;
  // Only Text columns are carried: their values lie on the table's own pages, whose digests are
  // kept, where a Memo's may lie on pages no digest covers.
  const bool carriable = std::all_of(columns.begin(), columns.end(), [&](size_t c) { return def.columns[c].type == ColumnType::kText; });
  std::shared_ptr<FoldedCarry> carry = carriable ? pager.TakeCarried<FoldedCarry>(key) : nullptr;
  // A process with nothing carried starts from what an earlier one kept, if it kept anything.
  if (carry == nullptr && carriable && !pager.in_write()) carry = LoadKeptTexts(pager, def, columns);
  bool current = false;
  if (carry != nullptr && carry->stamp != 0 && carry->stamp == pager.file_stamp()) {
    current = true;  // kept by a process that read the file as it still is
  } else if (carry != nullptr) {
    JET_ASSIGN_OR_RETURN(current, Refresh(pager, def, *carry));
  }
  if (!current) {
    // What was carried for these texts goes before they are folded afresh, so that the process
    // never holds two copies of them.
    if (carry != nullptr && carry->keeping.valid()) carry->keeping.wait();  // the keeping thread lets go of them
    carry.reset();
    pager.TakeCarriedUnder<void>(SortedRowsKeyPrefix(def.page, columns));
    JET_ASSIGN_OR_RETURN(carry, Build(pager, def, columns));
    if (carriable) KeepTexts(pager, def, *carry);
  }
  // Read before the carry is handed over: once carried, another handle may take it.
  std::shared_ptr<const FoldedColumns> folded = carry->folded;
  pager.ShareDecoded<FoldedColumns>(key, folded);
  if (carriable && !carry->pages.empty()) pager.Carry(key, std::move(carry));
  return folded;
}

}  // namespace jet
