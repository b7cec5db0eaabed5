#include "jet/sql/kept_texts.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <future>
#include <mutex>
#include <system_error>
#include <thread>

#include "jet/sql/bulk_digest.h"
#include "jet/sql/page_digest.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define JET_WIDE_CHECKS 1
#endif

namespace jet {

namespace fs = std::filesystem;

namespace {

std::mutex folder_mutex;
std::string kept_folder;

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'K', 'E', 'P', 'T'};
constexpr uint32_t kVersion = 5;
constexpr uint32_t kTextsKind = 1, kOrderKind = 2;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t kind;
  uint64_t digest;  // of everything after the header
  uint64_t body_bytes;
};


std::string Hex(uint64_t v) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

uint64_t DigestOf(const std::string& s) { return PageDigest(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

// The catalogue as one name whatever way it was opened.
std::string CataloguePath(const Pager& pager) {
  std::error_code error;
  const fs::path absolute = fs::absolute(pager.path(), error);
  const fs::path path = fs::weakly_canonical(absolute, error);
  return error ? absolute.lexically_normal().string() : path.string();
}

// The name shared by the files kept for one catalogue's folded texts of some columns.
std::string BaseName(const std::string& catalogue, const std::string& texts_key) {
  return Hex(DigestOf(catalogue + '\0' + texts_key));
}

// Gives memory about to be written whole its pages with one call rather than a fault per page.
void MapInAtOnce(char* bytes, size_t size) {
#if defined(MADV_POPULATE_WRITE)
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(bytes) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(bytes) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);  // a hint: failing costs nothing
#else
  (void)bytes;
  (void)size;
#endif
}

// Writes a kept file: the header goes last, once the digest of the rest is known, and the file
// takes its name only when whole. Each vector's elements begin at a multiple of 8 bytes from the
// file's start, so that a reader may use them where the file is mapped.
class Writer {
 public:
  explicit Writer(fs::path path) : path_(std::move(path)) {
    static std::atomic<uint64_t> serial{0};
    temp_ = path_.string() + "." + std::to_string(getpid()) + "-" + std::to_string(serial++) + ".tmp";
    file_ = std::fopen(temp_.c_str(), "wb");
    const Header blank{};
    ok_ = file_ != nullptr && std::fwrite(&blank, sizeof blank, 1, file_) == 1;
  }
  ~Writer() {
    if (file_ != nullptr) std::fclose(file_);
    if (!done_) std::remove(temp_.c_str());
  }
  void Bytes(const void* p, size_t n) {
    if (!ok_) return;
    ok_ = n == 0 || std::fwrite(p, 1, n, file_) == n;
    digest_.Add(p, n);
    bytes_ += n;
  }
  void Number(uint64_t n) { Bytes(&n, sizeof n); }
  template <typename Elements>
  void Vector(const Elements& v) {
    Number(v.size());
    static constexpr char kZeros[8] = {};
    Bytes(kZeros, (8 - (sizeof(Header) + bytes_) % 8) % 8);
    Bytes(v.data(), v.size() * sizeof(v[0]));
  }
  void String(const std::string& s) {
    Number(s.size());
    Bytes(s.data(), s.size());
  }
  // Puts the file in place; its digest, or 0 when it could not be written.
  uint64_t Finish(uint32_t kind) {
    if (file_ == nullptr) return 0;  // the folder could not take a file
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kVersion;
    header.kind = kind;
    header.digest = digest_.Value();
    header.body_bytes = bytes_;
    ok_ = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(&header, sizeof header, 1, file_) == 1;
    ok_ = std::fclose(file_) == 0 && ok_;
    file_ = nullptr;
    std::error_code error;
    if (ok_) fs::rename(temp_, path_, error);
    done_ = ok_ && !error;
    return done_ ? header.digest : 0;
  }

 private:
  fs::path path_;
  std::string temp_;
  FILE* file_ = nullptr;
  bool ok_ = false, done_ = false;
  BulkDigest digest_;
  uint64_t bytes_ = 0;
};

// Reads a kept file where it is mapped, front to back, every count checked against what is left
// of it and every byte taken added to the digest it must match. The mapping is followed by
// `ahead` bytes that read as zeros (texts are read past their end).
class Reader {
 public:
  Reader(const fs::path& path, uint32_t kind, size_t ahead) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    const bool sized = fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_size) >= sizeof(Header);
    const size_t size = sized ? static_cast<size_t>(st.st_size) : 0;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t span = (size + ahead + page - 1) / page * page;
    // Room for all of it first, so that what lies past the file's end reads as zeros.
    void* room = sized ? mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) : MAP_FAILED;
    if (room != MAP_FAILED) {
      mapping_.reset(room, [span](const void* p) { munmap(const_cast<void*>(p), span); });
      ok_ = mmap(room, size, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) != MAP_FAILED;
    }
    close(fd);
    Header header{};
    if (ok_) std::memcpy(&header, room, sizeof header);
    ok_ = ok_ && std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 && header.version == kVersion && header.kind == kind &&
          size - sizeof header == header.body_bytes;
    expected_ = header.digest;
    left_ = ok_ ? header.body_bytes : 0;
    at_ = static_cast<const char*>(room) + sizeof header;
  }

  bool ok() const { return ok_; }
  // The next `n` bytes, where they lie; null when fewer are left.
  const char* Take(uint64_t n) {
    ok_ = ok_ && n <= left_;
    if (!ok_) return nullptr;
    const char* p = at_;
    at_ += n;
    left_ -= n;
    digest_.Add(p, n);
    return p;
  }
  uint64_t Number() {
    uint64_t n = 0;
    if (const char* p = Take(sizeof n)) std::memcpy(&n, p, sizeof n);
    return n;
  }
  bool String(std::string* s) {
    const uint64_t n = Number();
    const char* p = Take(n);
    if (p != nullptr) s->assign(p, n);
    return p != nullptr;
  }
  // A vector's `count` elements (Writer::Vector), where they lie.
  template <typename T>
  const T* Elements(uint64_t count) {
    Take((8 - (sizeof(Header) + static_cast<size_t>(at_ - first())) % 8) % 8);
    return ok_ && count <= left_ / sizeof(T) ? reinterpret_cast<const T*>(Take(count * sizeof(T))) : nullptr;
  }
  template <typename T>
  bool Vector(std::vector<T>* v) {
    const uint64_t n = Number();
    const T* p = Elements<T>(n);
    if (p == nullptr) return false;
    v->reserve(n);
    MapInAtOnce(reinterpret_cast<char*>(v->data()), n * sizeof(T));
    v->assign(p, p + n);
    return true;
  }
  // Whether all of it was read and is what was written.
  bool Whole() const { return ok_ && left_ == 0 && digest_.Value() == expected_; }
  uint64_t digest() const { return expected_; }
  const std::shared_ptr<const void>& mapping() const { return mapping_; }

 private:
  const char* first() const { return static_cast<const char*>(mapping_.get()) + sizeof(Header); }

  std::shared_ptr<const void> mapping_;
  bool ok_ = false;
  const char* at_ = nullptr;
  uint64_t expected_ = 0, left_ = 0;
  BulkDigest digest_;
};

// The files in `folder`, without a throw when it changes meanwhile (other processes keep files
// there too) or cannot be read.
std::vector<fs::directory_entry> FilesIn(const fs::path& folder) {
  std::vector<fs::directory_entry> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) files.push_back(*it);
  return files;
}

void Discard(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

// Keeps at most kKeptFiles files and kKeptBytes in the folder, the oldest going first (the newest
// stays whatever its size: it was just written to be used).
void Trim(const fs::path& folder) {
  std::error_code error;
  struct Kept {
    fs::file_time_type time;
    uintmax_t size;
    fs::path path;
  };
  std::vector<Kept> files;
  for (const fs::directory_entry& entry : FilesIn(folder)) {
    // A file still being written (by another thread, or another process) is not counted or
    // taken: it takes its name when whole.
    if (entry.path().extension() == ".tmp") continue;
    if (entry.is_regular_file(error)) files.push_back({entry.last_write_time(error), entry.file_size(error), entry.path()});
  }
  std::sort(files.begin(), files.end(), [](const Kept& a, const Kept& b) { return a.time > b.time; });
  uintmax_t total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    total += files[i].size;
    if (i > 0 && (i >= kKeptFiles || total > kKeptBytes)) Discard(files[i].path);
  }
}

#if defined(JET_WIDE_CHECKS)
// Counts the zero bytes of whole 32-byte blocks of `bytes` into *count; returns the bytes done.
__attribute__((target("avx2,popcnt"))) size_t WideZeros(const char* bytes, size_t size, size_t* count) {
  const __m256i zero = _mm256_setzero_si256();
  size_t i = 0, n = 0;
  for (; i + 32 <= size; i += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    n += static_cast<size_t>(_mm_popcnt_u32(static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, zero)))));
  }
  *count = n;
  return i;
}

// GCC 12's own AVX-512 intrinsics start some results from a deliberately undefined register and
// then warn that it may be used uninitialized; the warning is about the header, not this code.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Compares the starts s[1, room) with where the zeros of bytes [0, size) are, in order: the text
// after the zero at offset z must begin at `base` + z + 1. 64 bytes at a time: their zeros'
// offsets gathered into one register (compress), compared 16 at a time with the starts there.
// The number of texts the zeros begin (s[0]'s among them), or 0 when a start is not where it
// should be or there are more zeros than starts.
__attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt"))) size_t WiderStartsFollowZeros(const char* bytes, size_t size,
                                                                                          const uint32_t* s, size_t room,
                                                                                          uint32_t base) {
  const __m512i offsets = _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
                                          40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                          16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  size_t k = 1;
  __mmask16 bad = 0;
  for (size_t i = 0; i < size; i += 64) {
    const __mmask64 valid = size - i >= 64 ? ~__mmask64{0} : (__mmask64{1} << (size - i)) - 1;
    const __mmask64 zeros = _mm512_mask_cmpeq_epi8_mask(valid, _mm512_maskz_loadu_epi8(valid, bytes + i), _mm512_setzero_si512());
    size_t n = static_cast<size_t>(_mm_popcnt_u64(zeros));
    if (n > room - k) return 0;
    __m512i at = _mm512_maskz_compress_epi8(zeros, offsets);
    const __m512i after = _mm512_set1_epi32(static_cast<int>(base + i + 1));
    for (; n > 0; at = _mm512_alignr_epi32(_mm512_setzero_si512(), at, 4)) {
      const size_t take = std::min<size_t>(n, 16);
      const __mmask16 lanes = static_cast<__mmask16>((1u << take) - 1);
      const __m512i expected = _mm512_add_epi32(_mm512_cvtepu8_epi32(_mm512_castsi512_si128(at)), after);
      bad |= _mm512_mask_cmpneq_epu32_mask(lanes, _mm512_maskz_loadu_epi32(lanes, s + k), expected);
      k += take;
      n -= take;
    }
  }
  return bad == 0 ? k : 0;
}
#pragma GCC diagnostic pop
#endif

// How many zero bytes `bytes` holds.
size_t ZerosIn(const char* bytes, size_t size) {
  size_t count = 0, i = 0;
#if defined(JET_WIDE_CHECKS)
  static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
  if (wide) i = WideZeros(bytes, size, &count);
#endif
  for (; i < size; ++i) count += bytes[i] == 0;
  return count;
}

// Whether the kept starts of the texts of chunk `c`, from (*next) on, are where its texts begin:
// the first at the chunk's start, each other right after a zero, ascending, inside what the
// chunk uses, and as many as the zeros that end its texts; moves *next past them. Then a text
// found in the bytes is the one the starts name, and no text is read past its chunk.
bool ChunkStartsHold(const FoldedColumns& f, size_t c, size_t* next) {
  const char* bytes = f.chunks[c].get();
  const uint32_t used = f.chunk_used[c];
  if (used == 0 || bytes[used - 1] != 0) return false;
  const size_t first = *next, room = f.starts.size() - 1 - first;  // the last entry is no text's start
  const uint32_t* s = f.starts.data() + first;
  const uint32_t base = static_cast<uint32_t>(c * FoldedColumns::kChunkBytes);
  if (room == 0 || s[0] != base) return false;
#if defined(JET_WIDE_CHECKS)
  static const bool wider = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("popcnt");
  if (wider) {
    // The chunk's last zero ends its last text: the next start is the next chunk's.
    const size_t texts = WiderStartsFollowZeros(bytes, used - 1, s, room, base);
    *next = first + texts;
    return texts != 0;
  }
#endif
  const size_t texts = ZerosIn(bytes, used);
  if (texts > room) return false;
  *next = first + texts;
  // Without a branch per text: the byte looked at stays inside the chunk's readable span even
  // for a start that fails, and a failure is only told at the end.
  uint32_t bad = 0;
  for (size_t k = 1; k < texts; ++k) {
    const uint32_t at = s[k] - base - 1;
    bad |= static_cast<uint32_t>(s[k] <= s[k - 1]) | static_cast<uint32_t>(at >= used - 1);
    bad |= static_cast<unsigned char>(bytes[at & (FoldedColumns::kChunkBytes - 1)]);
  }
  return bad == 0;
}

// Whether the loaded rows hold together: places ascending, each on one of the pages (ascending,
// each with its digest), a NULL flag per row.
bool RowsHoldTogether(const FoldedColumns& f, const std::vector<uint32_t>& pages, const std::vector<uint64_t>& digests) {
  if (pages.empty() || digests.size() != pages.size() || f.nulls.size() != f.places.size()) return false;
  for (size_t i = 1; i < pages.size(); ++i) {
    if (pages[i] <= pages[i - 1]) return false;
  }
  // The rows' pages ascend with them: one walk over both, a step each time a row's page changes.
  uint32_t descending = 0;
  for (size_t r = 0, p = 0, page = SIZE_MAX; r < f.places.size(); ++r) {
    descending |= static_cast<uint32_t>(r > 0 && f.places[r] <= f.places[r - 1]);
    if (f.places[r] >> 8 == page) continue;
    page = f.places[r] >> 8;
    while (p < pages.size() && pages[p] < page) ++p;
    if (p == pages.size() || pages[p] != page) return false;
  }
  return descending == 0;
}

// Takes the moved rows' headers, (row << 32) | place, for `f`: rows ascending, each slot on one
// of the table's pages (ascending); false where they are not.
bool TakeHeaders(const std::vector<uint64_t>& headers, const std::vector<uint32_t>& pages, FoldedColumns* f) {
  for (size_t i = 0; i < headers.size(); ++i) {
    const uint32_t row = static_cast<uint32_t>(headers[i] >> 32), place = static_cast<uint32_t>(headers[i]);
    if (row >= f->rows() || (i > 0 && row <= f->headers.back().first) || !std::binary_search(pages.begin(), pages.end(), place >> 8)) {
      return false;
    }
    f->headers.emplace_back(row, place);
  }
  return true;
}

// Takes for `v` the next vector of the file where it lies in the mapping.
template <typename T>
bool Adopt(Reader& in, AdoptableVector<T>* v) {
  const uint64_t n = in.Number();
  const T* p = in.Elements<T>(n);
  if (p == nullptr) return false;
  *v = AdoptableVector<T>(AdoptingAllocator<T>(const_cast<T*>(p), n));
  v->reserve(n);
  v->resize(n);
  return true;
}

std::shared_ptr<FoldedCarry> ReadTexts(const fs::path& path, const std::string& catalogue, const std::string& key,
                                       const TableDef& def, const std::vector<size_t>& columns) {
  Reader in(path, kTextsKind, FoldedColumns::kChunkBytes);
  auto carry = std::make_shared<FoldedCarry>();
  auto folded = std::make_shared<FoldedColumns>();
  std::string kept_catalogue, kept_key;
  std::vector<uint64_t> kept_columns;
  if (!in.String(&kept_catalogue) || !in.String(&kept_key) || !in.String(&carry->layout) || !in.Vector(&kept_columns)) return nullptr;
  if (kept_catalogue != catalogue || kept_key != key || carry->layout != LayoutOf(def) ||
      !std::equal(kept_columns.begin(), kept_columns.end(), columns.begin(), columns.end())) {
    return nullptr;
  }
  folded->columns = columns;
  // The texts, their starts, places and NULL flags are used where the file's pages lie in the
  // system's cache: neither copied nor given memory of their own, which costs several times
  // what mapping them does.
  folded->mapping = in.mapping();
  const uint64_t stamp = in.Number();
  std::vector<uint64_t> headers, forwarding;
  if (!in.Vector(&carry->pages) || !in.Vector(&carry->digests) || !in.Vector(&headers) || !in.Vector(&forwarding) || !Adopt(in, &folded->places) ||
      !Adopt(in, &folded->nulls) || !in.Vector(&folded->chunk_used) || !RowsHoldTogether(*folded, carry->pages, carry->digests) ||
      !TakeHeaders(headers, carry->pages, folded.get())) {
    return nullptr;
  }
  // The forwarding slots as a build meets them: each once, in storage order, on the table's pages.
  for (size_t i = 0; i < forwarding.size(); ++i) {
    const uint32_t from = static_cast<uint32_t>(forwarding[i] >> 32);
    if ((i > 0 && forwarding[i] >> 32 <= forwarding[i - 1] >> 32) || !std::binary_search(carry->pages.begin(), carry->pages.end(), from >> 8)) {
      return nullptr;
    }
    carry->forwarding.emplace_back(from, static_cast<uint32_t>(forwarding[i]));
  }
  const size_t chunks = folded->chunk_used.size();
  if (chunks >= UINT32_MAX / FoldedColumns::kChunkBytes) return nullptr;
  if (!Adopt(in, &folded->starts) || folded->starts.size() != folded->rows() * columns.size() + 1 ||
      folded->starts.back() != chunks * FoldedColumns::kChunkBytes) {
    return nullptr;
  }
  const size_t count = folded->starts.size();
  size_t next = 0;
  for (size_t c = 0; c < chunks; ++c) {
    const uint32_t used = folded->chunk_used[c];
    const char* bytes = used <= FoldedColumns::kChunkBytes ? in.Take(used) : nullptr;
    if (bytes == nullptr) return nullptr;
    folded->chunks.emplace_back(const_cast<char*>(bytes), FoldedColumns::ChunkFree(used));
    // Each chunk looked at while the digest has just brought it into the cache.
    if (!ChunkStartsHold(*folded, c, &next)) return nullptr;
  }
  if (!in.Whole() || next != count - 1) return nullptr;
  carry->kept_id = in.digest();
  carry->stamp = static_cast<int64_t>(stamp);
  carry->folded = std::move(folded);
  return carry;
}

// An order kept under `key` for the texts of file `texts_id`, loaded for `folded`; null when the
// file is not one.
std::shared_ptr<const SortedRows> ReadOrder(const fs::path& path, const std::string& catalogue, const std::string& prefix,
                                            uint64_t texts_id, const TableDef& def,
                                            const std::shared_ptr<const FoldedColumns>& folded, std::string* key) {
  Reader in(path, kOrderKind, 0);
  std::string kept_catalogue;
  std::vector<uint64_t> order_by;
  auto order = std::make_shared<SortedRows>();
  if (!in.String(&kept_catalogue) || !in.String(key) || in.Number() != texts_id || !in.Vector(&order_by) || !in.Vector(&order->rows) ||
      !in.Whole() || kept_catalogue != catalogue || order_by.empty() || order->rows.size() != folded->rows()) {
    return nullptr;
  }
  // The key names the order's columns; each a Text column of the texts, as only those orders are carried.
  std::string expected = prefix;
  for (const uint64_t c : order_by) {
    const size_t column = c >> 1;
    if (column >= def.columns.size() || def.columns[column].type != ColumnType::kText ||
        std::find(folded->columns.begin(), folded->columns.end(), column) == folded->columns.end()) {
      return nullptr;
    }
    order->order_by.push_back(SortColumn{column, (c & 1) != 0});
    expected += std::to_string(column) + ((c & 1) != 0 ? "+" : "-");
  }
  // An order the index of its first column gives as the search walks it is never kept now; a
  // file of one (kept by an earlier version) would only hold its memory.
  if (*key != expected || OrdersByWalking(def, folded->columns, order->order_by)) return nullptr;
  // Every row once.
  std::vector<bool> seen(folded->rows());
  for (const uint32_t r : order->rows) {
    if (r >= seen.size() || seen[r]) return nullptr;
    seen[r] = true;
  }
  order->folded = folded;
  return order;
}

fs::path Folder() {
  std::lock_guard<std::mutex> lock(folder_mutex);
  return kept_folder;
}

}  // namespace

void SetKeptTextsFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(folder_mutex);
  kept_folder = folder;
}

std::string KeptTextsFolder() { return Folder().string(); }

std::shared_ptr<FoldedCarry> LoadKeptTexts(const Pager& pager, const TableDef& def, const std::vector<size_t>& columns) {
  const fs::path folder = Folder();
  if (folder.empty()) return nullptr;
  const std::string catalogue = CataloguePath(pager), key = FoldedColumnsKey(def.page, columns);
  const std::string base = BaseName(catalogue, key);
  const fs::path texts = folder / (base + ".texts");
  std::error_code error;
  if (!fs::exists(texts, error)) return nullptr;
  std::shared_ptr<FoldedCarry> carry = ReadTexts(texts, catalogue, key, def, columns);
  if (carry == nullptr) {
    Discard(texts);
    return nullptr;
  }
  const std::string prefix = SortedRowsKeyPrefix(def.page, columns);
  for (const fs::directory_entry& entry : FilesIn(folder)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with(base + "-") || !name.ends_with(".order")) continue;
    std::string order_key;
    std::shared_ptr<const SortedRows> order = ReadOrder(entry.path(), catalogue, prefix, carry->kept_id, def, carry->folded, &order_key);
    if (order == nullptr) {
      Discard(entry.path());
      continue;
    }
    pager.Carry(order_key, order);
  }
  return carry;
}

namespace {

// Begins the texts file of `carry`: all of it but what lies in the folded texts themselves.
std::unique_ptr<Writer> BeginTexts(const fs::path& folder, const std::string& catalogue, const std::string& key, const FoldedCarry& carry) {
  std::error_code error;
  fs::create_directories(folder, error);
  auto out = std::make_unique<Writer>(folder / (BaseName(catalogue, key) + ".texts"));
  out->String(catalogue);
  out->String(key);
  out->String(carry.layout);
  out->Vector(std::vector<uint64_t>(carry.folded->columns.begin(), carry.folded->columns.end()));
  out->Number(static_cast<uint64_t>(carry.stamp));
  out->Vector(carry.pages);
  out->Vector(carry.digests);
  // Pairs of numbers go as one number each, the first in the high half.
  for (const auto* pairs : {&carry.folded->headers, &carry.forwarding}) {
    std::vector<uint64_t> packed;
    for (const auto& [first, second] : *pairs) packed.push_back(uint64_t{first} << 32 | second);
    out->Vector(packed);
  }
  return out;
}

// Ends a texts file begun by BeginTexts with the texts `f` and puts it in place in `folder`: its
// digest, or 0 when it could not be written.
uint64_t EndTexts(Writer& out, const fs::path& folder, const FoldedColumns& f) {
  out.Vector(f.places);
  out.Vector(f.nulls);
  out.Vector(f.chunk_used);
  out.Vector(f.starts);
  for (size_t c = 0; c < f.chunks.size(); ++c) out.Bytes(f.chunks[c].get(), f.chunk_used[c]);
  const uint64_t id = out.Finish(kTextsKind);
  Trim(folder);
  return id;
}

// The threads writing kept files. The process waits for them as it exits (this goes before the
// statics they use, made earlier), so that a file begun is finished, not left half-written.
// A file is begun a moment after the texts are built: the search that built them reads its rows
// meanwhile, without the writing beside it. Whoever waits for a file has it begun at once.
class KeepingThreads {
 public:
  ~KeepingThreads() { Wait(); }
  template <typename Job>
  void Start(Job job) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Those done are joined here, so that a long-running program holds only those under way.
    std::erase_if(threads_, [](Thread& t) {
      if (!t.done->load()) return false;
      t.thread.join();
      return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    auto held = std::make_shared<Job>(std::move(job));
    const uint64_t number = ++started_;
    // The entry is made before its thread, so that a failure to make room for it leaves no
    // running thread unowned.
    threads_.emplace_back().done = done;
    try {
      threads_.back().thread = std::thread([this, held, done, number] {
        bool awaited = false;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          awaited = hurry_.wait_for(lock, kDelay, [&] { return hurried_ >= number; });
        }
        // Writing for a later process: whatever this one searches meanwhile goes first; unless
        // someone waits for the file, who would then wait the longer.
        if (!awaited) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
        (*held)();
        done->store(true);
      });
    } catch (const std::system_error&) {
      threads_.pop_back();
      (*held)();  // no thread to be had: the file is written here
    }
  }
  // Has every file begun so far written without waiting.
  void Hurry() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      hurried_ = started_;
    }
    hurry_.notify_all();
  }
  void Wait() {
    Hurry();
    std::vector<Thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      threads.swap(threads_);
    }
    for (Thread& t : threads) t.thread.join();
  }

 private:
  static constexpr std::chrono::milliseconds kDelay{50};
  struct Thread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex mutex_;
  std::condition_variable hurry_;
  uint64_t started_ = 0, hurried_ = 0;  // files begun, and those to be written without waiting
  std::vector<Thread> threads_;
};

KeepingThreads& Keeping() {
  static KeepingThreads threads;
  return threads;
}

// The kept file holding the carried texts, once the thread writing it is done.
uint64_t KeptIdOf(FoldedCarry& carry) {
  AwaitKeeping(carry);
  if (carry.keeping.valid()) carry.kept_id = carry.keeping.get();
  carry.keeping = {};
  return carry.kept_id;
}

}  // namespace

void KeepTexts(const Pager& pager, const TableDef& def, FoldedCarry& carry) {
  const fs::path folder = Folder();
  if (folder.empty() || carry.pages.empty() || !carry.folded->places_ascending) return;
  // The pages were read as the file is now: where no later write can leave its stamp again, a
  // process that finds the file at that stamp trusts them without reading them again.
  const Result<int64_t> settled = pager.SettledStampNow();
  carry.stamp = settled.ok() && settled.value() == pager.file_stamp() ? settled.value() : 0;
  carry.kept_id = 0;
  // The carry's lists change when the file does: the thread writes a copy of them as they are
  // now (a few hundred KB), and the texts, which never change. Making the folder and the file is
  // left to it too: on a first search that took a millisecond or two before the rows were read.
  auto lists = std::make_unique<FoldedCarry>(carry);
  std::string catalogue = CataloguePath(pager), key = FoldedColumnsKey(def.page, carry.folded->columns);
  std::promise<uint64_t> kept;
  carry.keeping = kept.get_future().share();
  Keeping().Start([folder, catalogue = std::move(catalogue), key = std::move(key), lists = std::move(lists), kept = std::move(kept)]() mutable {
    uint64_t id = 0;  // not kept, as when the file could not be written
    try {
      std::unique_ptr<Writer> out = BeginTexts(folder, catalogue, key, *lists);
      id = EndTexts(*out, folder, *lists->folded);
    } catch (const std::exception&) {
      // Whatever failed (memory for its buffers, say), thrown on this thread it would end the
      // process; the file is only a head start for the next one, which folds afresh without it.
    }
    // Let go of the texts before saying so: whoever waits for the file may then free them.
    lists.reset();
    kept.set_value(id);
  });
}

void PrepareKeeping() { Keeping(); }

void WaitForKeptTexts() { Keeping().Wait(); }

void AwaitKeeping(const FoldedCarry& carry) {
  if (!carry.keeping.valid()) return;
  Keeping().Hurry();
  carry.keeping.wait();
}

void KeepOrder(const Pager& pager, const TableDef& def, const std::string& key, const SortedRows& order) {
  const fs::path folder = Folder();
  if (folder.empty() || !order.usable) return;
  const std::string texts_key = FoldedColumnsKey(def.page, order.folded->columns);
  std::shared_ptr<FoldedCarry> carry = pager.TakeCarried<FoldedCarry>(texts_key);
  if (carry == nullptr) return;
  if (carry->folded == order.folded) {
    const std::string catalogue = CataloguePath(pager);
    if (KeptIdOf(*carry) == 0) KeepTexts(pager, def, *carry);
    if (KeptIdOf(*carry) != 0) {
      Writer out(folder / (BaseName(catalogue, texts_key) + "-" + Hex(DigestOf(key)) + ".order"));
      out.String(catalogue);
      out.String(key);
      out.Number(carry->kept_id);
      std::vector<uint64_t> order_by;
      for (const SortColumn& c : order.order_by) order_by.push_back(uint64_t{c.column} << 1 | (c.ascending ? 1 : 0));
      out.Vector(order_by);
      out.Vector(order.rows);
      out.Finish(kOrderKind);
      Trim(folder);
    }
  }
  pager.Carry(texts_key, carry);
}

}  // namespace jet
