// The texts of a table's Text columns, folded the way LIKE compares characters, kept end to end in
// one stretch of memory: a search for a word in titles and artists reads them at the speed of
// memory instead of decoding every row.
//
// Contract:
//   - built by one scan of the table, in storage order, under the caller's read lock (or inside a
//     write, where it is not kept); it describes the file as that scan read it;
//   - kept for the other handles of this process on the file (Pager::ShareDecoded) and handed out
//     again only while the file's change stamp stays the one it was built at;
//   - carried to the file's next state (Pager::Carry) with a digest of every page of the table
//     it was read from: after any write, by this process or another program, the next search
//     reads the table's pages again but decodes only those whose digest changed. When their rows
//     are the same rows at the same places with the same texts (a changed print flag), what is
//     kept describes the new state as it is; else the changed pages' rows are spliced in;
//   - each text is kept as its folded code units (FoldUnit), each unit written as one to three
//     bytes the way UTF-8 writes it (U+0000 as the two bytes C0 80), so that a string of folded
//     units is contained in a text exactly when its bytes are contained in the text's bytes; each
//     text is followed by a zero byte, which no text and no string looked for holds. The bytes
//     are kept in chunks of kChunkBytes, a text never crossing from one chunk to the next, so
//     that building never holds two copies of them; a NULL is kept as an empty text and flagged;
//   - rows are kept in storage order with the places their bytes are at, and reported at the
//     places a scan of the table reports (a moved row: the slot its index entries name, kept
//     apart in `headers`), so that the places stay in storage order;
//   - the first search of a large table with nothing kept for it may hold the texts of its own
//     matches alone (FoldedColumnsOf with a first search), never shared, carried or kept: they
//     are only ever that search's;
//   - the scan reads the table's pages in long runs straight from the file and keeps none of
//     them, so that what a search holds for a large catalogue is these texts and little more; a
//     large table's later half is read and folded meanwhile on a second thread, the texts and
//     lists coming out as one thread makes them (only how full each chunk is may differ).
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/base/adoptable_vector.h"
#include "jet/base/status.h"
#include "jet/file/pager.h"
#include "jet/pages/table_def.h"
#include "jet/table/storage_cursor.h"

namespace jet {

struct FoldedColumns {
  static constexpr size_t kChunkBytes = size_t{1} << 20;

  // Gives a chunk back: one the texts own is freed; one that lies in a mapping (of a kept file,
  // kept_texts.h, or memory a build reserved for its chunks), `mapped` bytes of it, has its
  // pages let go, the mapping itself going with the texts.
  struct ChunkFree {
    size_t mapped = 0;
    ChunkFree() = default;
    explicit ChunkFree(size_t mapped_bytes) : mapped(mapped_bytes) {}
    ChunkFree(std::default_delete<char[]>) {}  // NOLINT: a chunk made with new[] is owned
    void operator()(char* chunk) const;
  };
  using Chunk = std::unique_ptr<char[], ChunkFree>;

  std::vector<size_t> columns;  // positions in def.columns, each a Text column
  // What holds mapped chunks in memory: declared before them, so that it goes after them.
  std::shared_ptr<const void> mapping;
  // Each readable for kChunkBytes from its start, whatever it uses: a search may read ahead.
  std::vector<Chunk> chunks;
  std::vector<uint32_t> chunk_used;  // bytes used at the start of each chunk
  // Where each text begins, as chunk * kChunkBytes + offset: row r's text of columns[k] at
  // starts[r * columns.size() + k]; one more entry at the end, past every text. Loaded from a
  // kept file, they (and the NULL flags and places below) lie in its mapping.
  AdoptableVector<uint32_t> starts;
  AdoptableVector<uint8_t> nulls;    // per row: bit k set when the row's value of columns[k] is NULL
  AdoptableVector<uint32_t> places;  // per row, in storage order: (page << 8) | row
  bool places_ascending = true;  // places in ascending order
  // The rows that live away from the slot their index entries name (moved rows): (row, that
  // slot's place), by row. A row is reported at that slot, the place that stays its own however
  // often it moves; `places` keeps where its bytes are, in storage order.
  std::vector<std::pair<uint32_t, uint32_t>> headers;
  // 0 when the texts hold every row of the table; else they hold the matches of one search
  // (FoldedColumnsOf with a first search) among this many rows read.
  size_t table_rows = 0;

  size_t rows() const { return places.size(); }
  // Where a search reports `row`: the slot its index entries name.
  RowId Place(size_t row) const {
    const uint32_t place = headers.empty() ? places[row] : HeaderOf(row);
    return RowId{place >> 8, static_cast<uint8_t>(place & 0xFF)};
  }
  uint32_t HeaderOf(size_t row) const;
  const char* At(uint64_t position) const { return chunks[position / kChunkBytes].get() + position % kChunkBytes; }
  std::string_view Text(size_t row, size_t k) const {
    const size_t i = row * columns.size() + k;
    const char* text = At(starts[i]);
    // The next text begins right after this one's zero, unless it begins a new chunk.
    if (starts[i + 1] / kChunkBytes == starts[i] / kChunkBytes) return std::string_view(text, starts[i + 1] - starts[i] - 1);
    return std::string_view(text, std::strlen(text));
  }
  bool Null(size_t row, size_t k) const { return (nulls[row] >> k & 1) != 0; }
  size_t MemoryBytes() const;
};

class FoldedSearch;

// How FoldedColumnsOf served a search it was given.
enum class FirstSearchWay : uint8_t {
  kTexts,        // the whole texts: held, carried or kept already, or folded now
  kMatchesOnly,  // the texts of the search's matches alone; the whole texts follow
  kReadRows,     // none: the search matches so many rows that reading rows along the index of its
                 // order, until the caller stops, costs less; the whole texts follow
};

// A search that may be the first of its catalogue, and how it was served.
struct FirstSearch {
  const FoldedSearch* search = nullptr;
  bool may_read_rows = false;  // the caller can walk an index in the order it wants
  FirstSearchWay way = FirstSearchWay::kTexts;
  // With kReadRows: begins folding the whole texts (never throws). The caller calls it once it
  // has read its rows, so that the fold does not slow them; else the next search begins it.
  std::function<void()> fold_later;
};

// The folded texts of `columns` (at most 8 Text columns of `def`), from what this process keeps
// for the file as it is now, else from a scan of the table (then kept).
// With `first`: where nothing is kept for them (no handle of this process folded them, no
// earlier process kept them) and the table has more than AnswerFromMatchesFrom's pages, the scan
// keeps only the rows first->search matches (kMatchesOnly): the whole texts are folded on a
// thread of their own once the caller lets go of these (later_folds.h), and the next search
// waits for them. With first->may_read_rows too, a search that a sample of the table's pages
// finds matching at least kReadRowsShare of the rows gets no texts (null, kReadRows).
Result<std::shared_ptr<const FoldedColumns>> FoldedColumnsOf(Pager& pager, const TableDef& def, const std::vector<size_t>& columns,
                                                             FirstSearch* first = nullptr);

// The share of rows from which a first search reads rows along an index rather than keep its
// matches. Reading a row met out of storage order costs about 2.5 us on a first search, keeping a
// match's texts far less but after reading every row: on a million songs, a tenth of them
// matching, either takes about 30 ms; a word in a quarter of them took 50 ms from its matches
// and 17 read, a single letter 55-74 ms and 10-20.
constexpr double kReadRowsShare = 0.1;

// A first search answers from its matches alone on tables of more pages than this: about as
// many as take longer to fold than a person takes between two keys.
constexpr size_t kMatchesOnlyPages = 2048;
// From now on, for this whole process (kMatchesOnlyPages: as the program does); a test makes
// small tables answer that way (0) or never (SIZE_MAX). With `every_search`, every search given
// answers from its matches, whatever is held or kept, and none folds the whole texts after: a
// test compares the answers with reading every row.
void AnswerFromMatchesFrom(size_t pages, bool every_search = false);

// Tables of more pages than this are folded on two threads, each half of them on one: a second
// thread costs more than it saves on fewer.
constexpr size_t kOneThreadPages = 2048;
// Folds tables of more than `pages` pages on two threads from now on (kOneThreadPages: as the
// program does); a test makes small tables take that way.
void FoldOnOneThreadUpTo(size_t pages);

// What a build keeps beside the folded texts, carried from one state of the file to the next
// (Pager::Carry): when the file changes, its pages are read again and only those whose digest
// differs are decoded, instead of every row being folded afresh.
struct FoldedCarry {
  std::shared_ptr<const FoldedColumns> folded;
  std::string layout;             // LayoutOf the table's definition they were folded with
  std::vector<uint32_t> pages;    // the table's pages they came from, ascending
  std::vector<uint64_t> digests;  // PageDigest of each of those pages as it was read
  // The forwarding slots on those pages, (place, where it points): with them a moved row's home
  // on a page that did not change is still named by the slot that begins its chain.
  std::vector<std::pair<uint32_t, uint32_t>> forwarding;
  uint64_t kept_id = 0;           // the kept file (kept_texts.h) that holds these very texts; 0: none
  std::shared_future<uint64_t> keeping;  // while that file is being written: its kept_id to come
  // The file's change stamp when the pages were read, where it is one no later write can leave
  // again (Pager::SettledStampNow); 0 when unknown. The same stamp now: the pages are as read.
  int64_t stamp = 0;
};

// What decoding a row depends on besides its page: where each column's value lies in it.
std::string LayoutOf(const TableDef& def);

// Where the folded texts of `columns` of the table at `table_page` are kept and carried.
std::string FoldedColumnsKey(uint32_t table_page, const std::vector<size_t>& columns);

// Where the orders of the rows of folded texts of `columns` of a table are kept (Pager::ShareDecoded,
// Pager::Carry): under keys that begin with this.
std::string SortedRowsKeyPrefix(uint32_t table_page, const std::vector<size_t>& columns);

// Appends the bytes FoldedColumns keeps for folded units `folded`.
void AppendFoldedBytes(std::u16string_view folded, std::string* out);
// The folded units back from such bytes.
void FoldedUnitsOf(std::string_view bytes, std::u16string* out);

// Appends the key part (AppendKeyColumn) of the text of `row` in folded.columns[k], for a text column
// sorted `ascending`: a folded text keys exactly as the text does, as folding keeps every weight of
// every character. `units`: a Text the units are decoded into where they must be.
Status AppendFoldedKeyColumn(JetVersion version, const FoldedColumns& folded, size_t row, size_t k, bool ascending, Value* units,
                             std::string* key);

}  // namespace jet
