#include "jet/sql/folded_columns.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <system_error>
#include <thread>

#include "jet/base/bytes.h"
#include "jet/pages/data_page.h"
#include "jet/pages/index_key.h"
#include "jet/pages/usage_map.h"
#include "jet/sql/folded_builder.h"
#include "jet/sql/kept_texts.h"
#include "jet/sql/later_folds.h"
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

using folding::Builder;
using folding::kRunPages;
using folding::NameMovedRows;
using folding::StreamPages;

std::atomic<size_t> one_thread_pages{kOneThreadPages};
std::atomic<size_t> matches_only_pages{kMatchesOnlyPages};
std::atomic<bool> every_search_from_matches{false};

// Pieces of a table's pages not taken yet: one thread takes them from the front, the other from
// the back (never the first, which the front always takes), until they meet.
class PieceClaims {
 public:
  explicit PieceClaims(size_t pieces) : back_(pieces) {}
  std::optional<size_t> Front() {
    std::lock_guard<std::mutex> lock(mutex_);
    return front_ == back_ ? std::nullopt : std::optional<size_t>(front_++);
  }
  std::optional<size_t> Back() {
    std::lock_guard<std::mutex> lock(mutex_);
    return front_ == back_ || back_ == 1 ? std::nullopt : std::optional<size_t>(--back_);
  }

 private:
  std::mutex mutex_;
  size_t front_ = 0, back_;
};

// Streams the table's `pages` into `builder` as Builder::Stream does. A large table's pages are
// folded on two threads, in pieces: this one takes them from the front, the other from the back
// (into builders of their own), until they meet, so that whichever runs faster does more. The
// other's pieces are then put behind this one's rows in order; where that thread stopped short in
// a piece, this one reads on from there.
Result<bool> StreamTable(Pager& pager, const TableDef& def, const std::vector<size_t>& columns, const std::vector<uint32_t>& pages,
                         Builder& builder, std::vector<uint64_t>* digests) {
  digests->reserve(pages.size());
  if (pages.size() <= one_thread_pages.load() || !builder.plain()) return builder.Stream(pages, digests);
  const std::span<const uint32_t> all(pages);
  constexpr size_t kPieces = 16;
  const size_t piece = (pages.size() + kPieces - 1) / kPieces, pieces = (pages.size() + piece - 1) / piece;
  const auto piece_pages = [&](size_t p) { return all.subspan(p * piece, std::min(piece, pages.size() - p * piece)); };
  struct Piece {
    std::unique_ptr<Builder> builder;  // for a piece the other thread may take
    std::vector<uint64_t> digests;
    size_t done = 0;  // its pages the other thread added
    bool taken = false;
  };
  std::vector<Piece> later(pieces);
  for (size_t p = 1; p < pieces; ++p) {
    // Room for the piece's rows and a good deal more: only what it fills takes memory.
    later[p].builder = std::make_unique<Builder>(pager, def, columns, def.row_count / pieces * 2 + 64, builder.keep_only());
    later[p].builder->ReserveChunksFor(piece_pages(p).size());
    later[p].digests.reserve(piece_pages(p).size());
  }
  PieceClaims claims(pieces);
  std::atomic<bool> stop{false};
  // What the other thread throws (it may fail to allocate) stops both and is thrown here once it
  // is joined, as one thread would have thrown it.
  std::exception_ptr failed;
  std::thread thread;
  try {
    thread = std::thread([&] {
      try {
        for (std::optional<size_t> p; !stop.load(std::memory_order_relaxed) && (p = claims.Back());) {
          later[*p].taken = true;
          later[*p].done = later[*p].builder->StreamAlone(piece_pages(*p), &later[*p].digests, stop);
        }
      } catch (...) {
        failed = std::current_exception();
        stop.store(true);
      }
    });
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
  while (const std::optional<size_t> p = claims.Front()) {
    JET_ASSIGN_OR_RETURN(bool whole, builder.Stream(piece_pages(*p), digests, kRunPages / 2));
    if (!whole) return false;
  }
  thread.join();
  if (failed) std::rethrow_exception(failed);
  for (size_t p = 0; p < pieces; ++p) {
    if (!later[p].taken) continue;
    JET_RETURN_IF_ERROR(builder.Append(*later[p].builder));
    digests->insert(digests->end(), later[p].digests.begin(), later[p].digests.end());
    JET_ASSIGN_OR_RETURN(bool whole, builder.Stream(piece_pages(p).subspan(later[p].done), digests));
    if (!whole) return false;
  }
  return true;
}

// Folded texts of the table as it is now (with `keep_only`, of the rows it matches alone); with
// the digests of the pages read when the table was streamed (not when a stray moved-row flag or
// damage made the build walk it, or inside a write, or for some rows).
Result<std::shared_ptr<FoldedCarry>> Build(Pager& pager, const TableDef& def, const std::vector<size_t>& columns,
                                           std::vector<uint32_t> owned, const FoldedSearch* keep_only = nullptr) {
  auto carry = std::make_shared<FoldedCarry>();
  if (!pager.in_write()) {
    Builder streamed(pager, def, columns, def.row_count, keep_only);
    streamed.ReserveChunksFor(owned.size());
    JET_ASSIGN_OR_RETURN(bool whole, StreamTable(pager, def, columns, owned, streamed, &carry->digests));
    if (whole && streamed.MovedRowsNamed(owned)) {
      carry->forwarding = streamed.forwarding();
      JET_ASSIGN_OR_RETURN(carry->folded, streamed.Finish());
      carry->layout = LayoutOf(def);
      if (keep_only == nullptr) carry->pages = std::move(owned);
      return carry;
    }
    carry->digests.clear();
  }
  Builder walked(pager, def, columns, def.row_count, keep_only);
  StorageCursor cursor(pager, def.page, std::make_shared<const std::vector<uint32_t>>(std::move(owned)));
  for (Result<bool> on = cursor.First();; on = cursor.Next()) {
    if (!on.ok()) return on.error();
    if (!on.value()) break;
    JET_RETURN_IF_ERROR(walked.Add(cursor.row(), cursor.slot()));
    if (!walked.dropped()) walked.NameLastRow(cursor.header());
  }
  JET_ASSIGN_OR_RETURN(carry->folded, walked.Finish());
  return carry;
}

// Begins a fold of the whole texts (FoldLater) where it can: one not begun now (no thread to be
// had) is begun by the next search that wants the texts.
void BeginLaterFold(const std::function<void()>& begin) {
  try {
    begin();
  } catch (const std::exception&) {
  }
}

// The share of rows `search` matches on kSamplePages of the table's pages spread evenly over it
// (`owned`, ascending), half a match added so that a word the sample misses counts as rare; -1
// when the sample cannot tell (a row it cannot read from its page alone).
Result<double> SampledMatchShare(Pager& pager, const TableDef& def, const std::vector<size_t>& columns,
                                 const std::vector<uint32_t>& owned, const FoldedSearch& search) {
  constexpr size_t kSamplePages = 64;
  const size_t count = std::min(kSamplePages, owned.size());
  std::vector<uint32_t> sample(count);
  for (size_t i = 0; i < count; ++i) sample[i] = owned[i * owned.size() / count];
  const size_t rows_per_page = def.row_count / std::max<size_t>(owned.size(), 1) + 1;
  Builder sampled(pager, def, columns, count * rows_per_page * 2, &search);
  sampled.ReserveChunksFor(count);
  std::vector<uint64_t> digests;
  JET_ASSIGN_OR_RETURN(bool whole, sampled.Stream(sample, &digests));
  if (!whole) return -1.0;
  JET_ASSIGN_OR_RETURN(std::unique_ptr<FoldedColumns> matches, sampled.Finish());
  return (static_cast<double>(matches->rows()) + 0.5) / (static_cast<double>(matches->table_rows) + 1);
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

// The table's forwarding slots and the homes of its moved rows as they are now: those carried
// for the pages that did not change (`changed`, ascending), and those met on the pages read again.
void MovedRowsNow(const FoldedCarry& carry, const std::vector<uint32_t>& changed, const Builder& fresh,
                  std::vector<std::pair<uint32_t, uint32_t>>* forwarding, std::vector<uint32_t>* homes) {
  const auto unchanged = [&](uint32_t place) { return !std::binary_search(changed.begin(), changed.end(), place >> 8); };
  for (const auto& slot : carry.forwarding) {
    if (unchanged(slot.first)) forwarding->push_back(slot);
  }
  forwarding->insert(forwarding->end(), fresh.forwarding().begin(), fresh.forwarding().end());
  std::sort(forwarding->begin(), forwarding->end());  // in storage order, as a build meets them
  *homes = fresh.MovedHomes();
  const FoldedColumns& kept = *carry.folded;
  for (const auto& [row, header] : kept.headers) {
    if (unchanged(kept.places[row])) homes->push_back(kept.places[row]);
  }
}

// Brings the carried folded texts up to the table as it is now: reads its pages, decodes those
// whose digest changed and compares their rows with the kept ones; the same rows with the same
// texts keep the folded texts as they are, others are spliced in. False when folding afresh is
// as cheap or the only way (a changed definition, a moved row's chain lost): `carry` is then spent.
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
  std::vector<std::pair<uint32_t, uint32_t>> forwarding;
  std::vector<uint32_t> homes;
  MovedRowsNow(carry, changed, fresh, &forwarding, &homes);
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
    AwaitKeeping(carry);  // the keeping thread lets go of the texts
    JET_ASSIGN_OR_RETURN(std::unique_ptr<FoldedColumns> spliced, Splice(pager, def, carry, now, changed));
    if (!NameMovedRows(forwarding, owned, std::move(homes), spliced->places, &spliced->headers)) return false;
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
void AnswerFromMatchesFrom(size_t pages, bool every_search) {
  matches_only_pages.store(pages);
  every_search_from_matches.store(every_search);
}

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

Result<std::shared_ptr<const FoldedColumns>> FoldedColumnsOf(Pager& pager, const TableDef& def, const std::vector<size_t>& columns,
                                                             FirstSearch* first) {
  if (columns.empty() || columns.size() > 8) {
    return Error(ErrorCode::kInvalidArgument, "table \"" + def.name + "\": folded texts of 1 to 8 columns, not " + std::to_string(columns.size()));
  }
  if (first != nullptr) first->way = FirstSearchWay::kTexts;
  const std::string key = FoldedColumnsKey(def.page, columns);
  if (first != nullptr && every_search_from_matches.load() && !pager.in_write()) {
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
    JET_ASSIGN_OR_RETURN(std::shared_ptr<FoldedCarry> matched, Build(pager, def, columns, std::move(owned), first->search));
    first->way = FirstSearchWay::kMatchesOnly;
    return matched->folded;
  }
  if (!pager.in_write()) AwaitLaterFold(pager.path(), key);
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
    if (carry != nullptr) AwaitKeeping(*carry);  // the keeping thread lets go of them
    const bool nothing_kept = carry == nullptr;
    carry.reset();
    pager.TakeCarriedUnder<void>(SortedRowsKeyPrefix(def.page, columns));
    JET_ASSIGN_OR_RETURN(std::vector<uint32_t> owned, ReadUsageMap(pager, def.owned_pages_map));
    if (first != nullptr && nothing_kept && carriable && !pager.in_write() && owned.size() > matches_only_pages.load()) {
      if (first->may_read_rows) {
        JET_ASSIGN_OR_RETURN(double share, SampledMatchShare(pager, def, columns, owned, *first->search));
        if (share >= kReadRowsShare) {
          first->way = FirstSearchWay::kReadRows;
          first->fold_later = [begin = FoldLater(pager.path(), def.name, def.page, columns, key)] { BeginLaterFold(begin); };
          return std::shared_ptr<const FoldedColumns>();
        }
      }
      // The whole texts take tens of megabytes of fresh memory for a million songs, which a
      // machine that gave idle memory back (a virtual one) hands out at a couple of milliseconds
      // a megabyte: a program's first search after a pause took 80-120 ms so, 25-50 ms from its
      // matches alone (20-40 ms without the pause, from 35-66). The whole texts are folded once
      // the search lets go of its matches.
      JET_ASSIGN_OR_RETURN(std::shared_ptr<FoldedCarry> matched, Build(pager, def, columns, std::move(owned), first->search));
      std::shared_ptr<const FoldedColumns> texts = std::move(matched->folded);
      const FoldedColumns* const found = texts.get();
      first->way = FirstSearchWay::kMatchesOnly;
      return std::shared_ptr<const FoldedColumns>(
          found, [texts = std::move(texts), begin = FoldLater(pager.path(), def.name, def.page, columns, key)](const FoldedColumns*) mutable {
            texts.reset();
            BeginLaterFold(begin);
          });
    }
    JET_ASSIGN_OR_RETURN(carry, Build(pager, def, columns, std::move(owned)));
    if (carriable) KeepTexts(pager, def, *carry);
  }
  // Read before the carry is handed over: once carried, another handle may take it.
  std::shared_ptr<const FoldedColumns> folded = carry->folded;
  pager.ShareDecoded<FoldedColumns>(key, folded);
  if (carriable && !carry->pages.empty()) pager.Carry(key, std::move(carry));
  return folded;
}

}  // namespace jet
