// Folding a table's rows into FoldedColumns (folded_columns.h): its pages read in long runs straight
// from the file, each row's texts folded from its bytes where it lies whole on its page, the
// moved rows told from stray flags by the forwarding slots met on the way. Used by
// folded_columns.cpp alone, which builds, splices and brings folded texts up to date with it.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/sql/byte_folder.h"
#include "jet/sql/chunk_arena.h"
#include "jet/sql/folded_columns.h"
#include "jet/sql/folded_search.h"
#include "jet/sql/page_digest.h"
#include "jet/sql/sql_rows.h"
#include "jet/text/text_codec.h"
#include "jet/text/text_fold.h"

namespace jet::folding {

// Whether a stored text is a Jet 4 text kept one byte a character without a switch to two-byte
// runs (most of them): those are folded straight from their bytes.
inline bool OneByteUnits(JetVersion version, const StoredText& stored) {
  const uint8_t* b = stored.bytes;
  return version == JetVersion::kJet4 && stored.size >= 2 && b[0] == 0xFF && b[1] == 0xFE &&
         std::memchr(b + 2, 0, stored.size - 2) == nullptr;
}

// Pages read at once while streaming a table: 1 MB of 4 KB pages.
constexpr uint32_t kRunPages = 256;
// Pages of other objects a run reads through rather than end there. A table filled beside its
// indexes has their pages between its own, one to four at a time. A read costs about what
// copying one page does, so a run goes on past a single page and ends at a wider gap: reading
// through gaps of four read two and a half times the table's own pages, and its first search
// of a million songs took 2-3 ms longer.
constexpr uint32_t kRunGapPages = 1;

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
    // Pages [i, end) of the list, read with the few pages between them as one run.
    size_t end = i + 1;
    while (end < pages.size() && pages[end] > pages[end - 1] && pages[end] - pages[end - 1] <= kRunGapPages + 1 &&
           pages[end] - pages[i] < run_pages) {
      ++end;
    }
    const uint32_t first = pages[i], count = pages[end - 1] - first + 1;
    JET_RETURN_IF_ERROR(pager.ReadRun(first, count, run.get()));
    std::memset(run.get() + size_t{count} * page_size, 0, 16);  // what a block reads past the run's end
    for (; i < end; ++i) {
      JET_ASSIGN_OR_RETURN(bool go_on, visit(pages[i], run.get() + size_t{pages[i] - first} * page_size));
      if (!go_on) return false;
    }
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
  // A list in memory of its own (Builder::Reserve) lets all of it go: the steps above leave the
  // rest of the last page in, and whatever it outgrew.
  const AdoptingAllocator<T> allocator = from.get_allocator();
  if (allocator.held() != nullptr) ChunkArena::LetGo(allocator.held(), allocator.held() + allocator.held_count());
  AdoptableVector<T>().swap(from);
}

// The names of the moved rows whose bytes are at `homes`, among rows at `places` (ascending):
// each (row, the slot that begins the forwarding chain ending at its home), by row, into
// `headers`, from the table's forwarding slots (place, where it points) and its pages
// (ascending). False where a home ends no chain (a stray flag) or holds no row, or a chain is
// longer than a walk follows or leaves the table.
inline bool NameMovedRows(const std::vector<std::pair<uint32_t, uint32_t>>& forwarding, const std::vector<uint32_t>& pages,
                          std::vector<uint32_t> homes, const AdoptableVector<uint32_t>& places,
                          std::vector<std::pair<uint32_t, uint32_t>>* headers) {
  headers->clear();
  if (homes.empty()) return true;
  for (const auto& [from, to] : forwarding) {
    if (!std::binary_search(pages.begin(), pages.end(), RowPointerPage(to))) return false;
  }
  std::vector<std::pair<uint32_t, uint32_t>> starts;
  if (!ForwardingChainStarts(forwarding, &starts)) return false;
  std::sort(homes.begin(), homes.end());
  auto start = starts.begin();
  auto row = places.begin();
  for (const uint32_t home : homes) {
    while (start != starts.end() && start->first < home) ++start;
    // The homes ascend, as the places do: each row is searched for from the last one on, in
    // steps that double (a search of all the places for each took milliseconds).
    size_t step = 1;
    while (places.end() - row > static_cast<std::ptrdiff_t>(step) && row[static_cast<std::ptrdiff_t>(step)] < home) step *= 2;
    row = std::lower_bound(row, row + std::min<std::ptrdiff_t>(places.end() - row, static_cast<std::ptrdiff_t>(step) + 1), home);
    if (start == starts.end() || start->first != home || row == places.end() || *row != home) return false;
    headers->emplace_back(static_cast<uint32_t>(row - places.begin()), start->second);
  }
  return true;
}

class Builder {
 public:
  // `expected_rows`: the rows it will most likely hold, room for which is made at once.
  // `keep_only`: keeps only the rows this search matches, tested with a copy of it of its own (a
  // search is used by one thread at a time): the texts then hold one search's matches, few of
  // the rows read, in memory of the system's usual pages. A huge page is brought in whole, and
  // on a machine that gave idle memory back (a virtual one) each costs what a thousand rows' do.
  // The memory is still reserved apart, so that it goes back to the system with the texts.
  Builder(Pager& pager, const TableDef& def, const std::vector<size_t>& columns, size_t expected_rows,
          const FoldedSearch* keep_only = nullptr)
      : pager_(pager), def_(def), row_(pager, def), fold_(FoldTableOf(pager.format().version)), bytes_(fold_),
        arena_(keep_only == nullptr) {
    if (keep_only != nullptr) {
      keep_only_.emplace(*keep_only);
      ascii_needles_ = keep_only_->AsciiNeedles();
    }
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
    Reserve(folded_->starts, rows * columns.size() + 1);
    Reserve(folded_->places, rows);
    Reserve(folded_->nulls, rows);
    folded_->mapping = arena_.held();
  }

  // Takes the chunks of texts folded from up to `pages` pages from one reservation (ChunkArena):
  // at most three bytes for each byte stored, and what chunks leave unused at their ends.
  void ReserveChunksFor(size_t pages) {
    const size_t most = pages * pager_.page_size() / FoldedColumns::kChunkBytes * 3;
    ChunkArena arena(most + most / 16 + 2, FoldedColumns::kChunkBytes, !keep_only_);
    arena.Adopt(arena_);  // with the lists' room
    arena_ = std::move(arena);
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
          if (!keep_only_) digests->push_back(PageDigest(data, page_size));  // some rows' texts are not carried
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
          if (!keep_only_) digests->push_back(PageDigest(data, page_size));
          ++done;
          return true;
        },
        kRunPages / 2);
    // The huge page the last text ends on is given back past it now, not when the piece is
    // joined: the other thread fills many pieces meanwhile, each with a huge page of its own.
    LetTailGo();
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
        moved_homes_.push_back(place);
        if (plain_ && AddPlain(place, slot.bytes, slot.size)) {
          if (dropped_) moved_homes_.pop_back();
          continue;
        }
      }
      if (alone) return false;
      JET_RETURN_IF_ERROR(Add(RowId{page, static_cast<uint8_t>(r)}, slot));
      if (dropped_ && slot.moved_home()) moved_homes_.pop_back();
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
  const std::vector<uint32_t>& MovedHomes() const { return moved_homes_; }

  // Names the row added last by `header`, the slot its index entries name, where that is not
  // where its bytes are.
  void NameLastRow(RowId header) {
    const uint32_t row = static_cast<uint32_t>(folded_->places.size() - 1), place = header.page << 8 | header.row;
    if (folded_->places[row] != place) folded_->headers.emplace_back(row, place);
  }

  Status Add(RowId id, const RowSlot& slot) {
    JET_RETURN_IF_ERROR(row_.Load(id, slot));
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
    ++rows_read_;
    dropped_ = keep_only_ && !LastRowWanted();
    if (dropped_) DropLastRow();
    return Status::Ok();
  }

  const FoldedSearch* keep_only() const { return keep_only_ ? &*keep_only_ : nullptr; }
  // Whether the row Add or AddPlain took last was left out, as one keep_only does not match.
  bool dropped() const { return dropped_; }

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
    const int verdict = ascii_needles_.empty() ? -1 : Verdict(texts, width, nulls);
    if (verdict == 0) {
      dropped_ = true;  // no text folded
      ++rows_read_;
      return true;
    }
    // Room for the row's texts at once, each written right after the one before.
    size_t most = 0;
    for (size_t k = 0; k < width; ++k) most += ByteFolder::Room(texts[k].size) + 1;
    std::vector<uint32_t>& used = folded_->chunk_used;
    if ((used.empty() || used.back() + most > FoldedColumns::kChunkBytes) && !Room(most).ok()) return false;
    char* const chunk = folded_->chunks.back().get();
    char* at = chunk + used.back();
    const uint64_t base = uint64_t{folded_->chunks.size() - 1} * FoldedColumns::kChunkBytes;
    std::string_view folded[8];
    for (size_t k = 0; k < width; ++k) {
      folded_->starts.push_back(static_cast<uint32_t>(base + static_cast<uint64_t>(at - chunk)));
      char* const text = at;
      at = FoldStored(texts[k].bytes, texts[k].size, at);
      folded[k] = std::string_view(text, static_cast<size_t>(at - text));
      *at++ = '\0';
    }
    dropped_ = keep_only_ && verdict < 0 && !keep_only_->MatchesTexts(folded, width, nulls, chunk + FoldedColumns::kChunkBytes);
    ++rows_read_;
    if (dropped_) {
      // Read but not kept: the next row's texts are written over these.
      folded_->starts.resize(folded_->starts.size() - width);
      return true;
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
    moved_homes_.insert(moved_homes_.end(), later.moved_homes_.begin(), later.moved_homes_.end());
    rows_read_ += later.rows_read_;
    forwarding_.insert(forwarding_.end(), later.forwarding_.begin(), later.forwarding_.end());
    to.places_ascending = to.places_ascending && from.places_ascending &&
                          (to.places.empty() || from.places.empty() || to.places.back() < from.places.front());
    DrainReleasing(from.starts, [&](const uint32_t* starts, size_t n) {
      const size_t at = to.starts.size();
      // Copied at once, then moved past this one's chunks while still in the cache: resizing first
      // wrote each element twice to memory not touched before.
      to.starts.insert(to.starts.end(), starts, starts + n);
      uint32_t* moved = to.starts.data() + at;
      for (size_t i = 0; i < n; ++i) moved[i] += base;
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
    if (keep_only_) folded_->table_rows = rows_read_;
    Fit(folded_->starts);
    Fit(folded_->places);
    Fit(folded_->nulls);
    return std::move(folded_);
  }

 private:
  // Room for `n` elements of `list`: a large list in memory of its own (ChunkArena::ReserveList),
  // with an eighth more, which costs nothing untouched, so that a table holding a few more rows
  // than its definition counts does not move it.
  template <typename T>
  void Reserve(AdoptableVector<T>& list, size_t n) {
    if (n * sizeof(T) >= ChunkArena::kHugeBytes) {
      const size_t room = n + n / 8;
      if (void* at = arena_.ReserveList(room * sizeof(T))) {
        list = AdoptableVector<T>(AdoptingAllocator<T>(static_cast<T*>(at), room));
        list.reserve(room);
        return;
      }
    }
    list.reserve(n);
  }
  // A list's room past its elements given back: one in its reserved memory let go past its end
  // (untouched, the rest takes no memory); one that outgrew it moved to as much as it holds, and
  // the reserved memory let go.
  template <typename T>
  static void Fit(AdoptableVector<T>& list) {
    const AdoptingAllocator<T> allocator = list.get_allocator();
    T* const held = allocator.held();
    if (held != nullptr && list.data() == held) {
      ChunkArena::LetHugeTailGo(list.data() + list.size(), held + allocator.held_count());
      return;
    }
    if (held != nullptr) ChunkArena::LetGo(held, held + allocator.held_count());
    list.shrink_to_fit();
  }

  // Gives back what the huge page of the last text's end brought in past it.
  void LetTailGo() {
    if (!folded_->chunks.empty()) arena_.LetTailGo(folded_->chunks.back().get() + folded_->chunk_used.back());
  }

  // AddPage(alone), undone in full when it does not add the whole page.
  bool AddPageAlone(uint32_t page, const uint8_t* data) {
    FoldedColumns& f = *folded_;
    const size_t rows = f.places.size(), chunks = f.chunks.size();
    const uint32_t used = chunks == 0 ? 0 : f.chunk_used.back();
    const bool ascending = f.places_ascending;
    const size_t homes = moved_homes_.size(), forwarding = forwarding_.size(), read = rows_read_;
    const Result<bool> added = AddPage(page, data, true);
    if (added.ok() && added.value()) return true;
    moved_homes_.resize(homes);
    forwarding_.resize(forwarding);
    rows_read_ = read;
    f.places.resize(rows);
    f.nulls.resize(rows);
    f.starts.resize(rows * f.columns.size());
    f.chunks.resize(chunks);
    f.chunk_used.resize(chunks);
    if (chunks > 0) f.chunk_used.back() = used;
    f.places_ascending = ascending;
    return false;
  }

  // Whether keep_only_ matches a row, told from its stored texts (`texts`, one per column) where
  // its needles are ASCII bytes (ascii_needles_), before any is folded: 1 it does, 0 it does
  // not, -1 unknown (a text kept two bytes a character), the row then folded and tested.
  template <typename Stored>
  int Verdict(const Stored* texts, size_t width, uint8_t nulls) {
    // One needle in two texts that lie side by side in the row (a title and its artist, most
    // often), both kept a byte a character: looked for once in both, the second one's mark
    // between them, which folds to no ASCII byte, keeping a needle from spanning the two.
    if (width == 2 && nulls == 0 && ascii_needles_.size() == 1 && ascii_needles_[0].first == 3 && bytes_.MarkSeparates()) {
      const auto& [a, b] = texts[0].bytes < texts[1].bytes ? std::pair(texts[0], texts[1]) : std::pair(texts[1], texts[0]);
      if (a.bytes + a.size == b.bytes && Compressed(a.bytes, a.size) && Compressed(b.bytes, b.size)) {
        const int holds = bytes_.HoldsFolded(a.bytes + 2, a.size + b.size - 2, ascii_needles_[0].second);
        if (holds >= 0) return holds;
      }
    }
    bool unknown = false;
    for (size_t k = 0; k < width; ++k) {
      const uint8_t* b = texts[k].bytes;
      const size_t n = texts[k].size;
      if ((nulls >> k & 1) != 0 || n == 0) continue;  // holds no bytes
      if (!Compressed(b, n)) {
        unknown = true;
        continue;
      }
      bool listed = false;  // the text's first bytes, once listed for a needle that wanted them
      for (const auto& [mask, needle] : ascii_needles_) {
        if ((mask >> k & 1) == 0) continue;
        int holds = bytes_.HoldsFolded(b + 2, n - 2, needle);
        if (holds < 0 && !listed && n - 2 <= kMostFirstBytes && bytes_.FirstBytes(b + 2, n - 2, first_bytes_)) listed = true;
        if (holds < 0 && listed) holds = HoldsBytes(first_bytes_, n - 2, needle, first_bytes_ + sizeof first_bytes_) ? 1 : 0;
        if (holds > 0) return 1;
        unknown = unknown || holds < 0;
      }
    }
    return unknown ? -1 : 0;
  }

  // Whether the `n` stored bytes at `b` are a Jet 4 text kept a byte a character (it may switch
  // to two-byte runs further on).
  static bool Compressed(const uint8_t* b, size_t n) { return n >= 2 && b[0] == 0xFF && b[1] == 0xFE; }

  // Whether keep_only_ matches the row added last.
  bool LastRowWanted() const {
    const FoldedColumns& f = *folded_;
    const size_t width = f.columns.size(), first = f.starts.size() - width;
    std::string_view texts[8];
    for (size_t k = 0; k < width; ++k) texts[k] = std::string_view(f.At(f.starts[first + k]));  // each ends at its zero
    // Texts in two chunks are not end to end: each is tested alone.
    const char* readable = nullptr;
    if (f.starts[first] / FoldedColumns::kChunkBytes == f.starts[first + width - 1] / FoldedColumns::kChunkBytes) {
      readable = f.chunks[f.starts[first] / FoldedColumns::kChunkBytes].get() + FoldedColumns::kChunkBytes;
    }
    return keep_only_->MatchesTexts(texts, width, f.nulls.back(), readable);
  }
  // Takes back the row added last, its texts' room given back to the chunks they are in.
  void DropLastRow() {
    FoldedColumns& f = *folded_;
    const size_t width = f.columns.size();
    const uint32_t first = f.starts[f.starts.size() - width];
    const size_t chunk = first / FoldedColumns::kChunkBytes;
    f.chunk_used[chunk] = static_cast<uint32_t>(first % FoldedColumns::kChunkBytes);
    for (size_t c = chunk + 1; c < f.chunk_used.size(); ++c) f.chunk_used[c] = 0;
    f.starts.resize(f.starts.size() - width);
    f.places.pop_back();
    f.nulls.pop_back();
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
  std::vector<uint32_t> moved_homes_;                       // places of the rows added from moved homes
  std::vector<std::pair<uint32_t, uint32_t>> forwarding_;   // forwarding slots met: (place, where it points)
  std::optional<FoldedSearch> keep_only_;                    // the search whose matches alone are kept
  std::vector<std::pair<uint32_t, std::string>> ascii_needles_;  // its terms, where FoldedSearch::AsciiNeedles has them
  bool dropped_ = false;
  size_t rows_read_ = 0;  // rows added or left out
  // A stored text's first folded bytes (ByteFolder::FirstBytes), with room to read past them.
  static constexpr size_t kMostFirstBytes = 4096;
  char first_bytes_[kMostFirstBytes + 128];
};

}  // namespace jet::folding
