#include "jet/sql/kept_texts.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "jet/sql/page_digest.h"

#if defined(__x86_64__)
#include <immintrin.h>
#define JET_WIDE_ZEROS 1
#endif

namespace jet {

namespace fs = std::filesystem;

namespace {

std::mutex folder_mutex;
std::string kept_folder;

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'K', 'E', 'P', 'T'};
constexpr uint32_t kVersion = 2;
constexpr uint32_t kTextsKind = 1, kOrderKind = 2;

struct Header {
  char magic[8];
  uint32_t version;
  uint32_t kind;
  uint64_t digest;  // of everything after the header
  uint64_t body_bytes;
};

uint64_t Combine(uint64_t h, uint64_t d) { return std::rotl(h ^ d, 29) * page_digest_detail::kPrime1 + page_digest_detail::kPrime4; }

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
// takes its name only when whole.
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
    digest_ = Combine(digest_, PageDigest(static_cast<const uint8_t*>(p), n));
    bytes_ += n;
  }
  void Number(uint64_t n) { Bytes(&n, sizeof n); }
  template <typename T>
  void Vector(const std::vector<T>& v) {
    Number(v.size());
    Bytes(v.data(), v.size() * sizeof(T));
  }
  void String(const std::string& s) {
    Number(s.size());
    Bytes(s.data(), s.size());
  }
  // Puts the file in place; its digest, or 0 when it could not be written.
  uint64_t Finish(uint32_t kind) {
    Header header{};
    std::memcpy(header.magic, kMagic, sizeof kMagic);
    header.version = kVersion;
    header.kind = kind;
    header.digest = digest_;
    header.body_bytes = bytes_;
    ok_ = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 && std::fwrite(&header, sizeof header, 1, file_) == 1;
    ok_ = std::fclose(file_) == 0 && ok_;
    file_ = nullptr;
    std::error_code error;
    if (ok_) fs::rename(temp_, path_, error);
    done_ = ok_ && !error;
    return done_ ? digest_ : 0;
  }

 private:
  fs::path path_;
  std::string temp_;
  FILE* file_ = nullptr;
  bool ok_ = false, done_ = false;
  uint64_t digest_ = page_digest_detail::kPrime3, bytes_ = 0;
};

// Reads a kept file, every count checked against what is left of it before room is made.
class Reader {
 public:
  Reader(const fs::path& path, uint32_t kind) {
    file_ = std::fopen(path.c_str(), "rb");
    Header header{};
    ok_ = file_ != nullptr && std::fread(&header, sizeof header, 1, file_) == 1 &&
          std::memcmp(header.magic, kMagic, sizeof kMagic) == 0 && header.version == kVersion && header.kind == kind;
    std::error_code error;
    const uintmax_t size = fs::file_size(path, error);
    ok_ = ok_ && !error && size == sizeof header + header.body_bytes;
    expected_ = header.digest;
    left_ = header.body_bytes;
  }
  ~Reader() {
    if (file_ != nullptr) std::fclose(file_);
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool ok() const { return ok_; }
  bool Bytes(void* p, size_t n) {
    ok_ = ok_ && n <= left_ && (n == 0 || std::fread(p, 1, n, file_) == n);
    if (!ok_) return false;
    left_ -= n;
    digest_ = Combine(digest_, PageDigest(static_cast<const uint8_t*>(p), n));
    return true;
  }
  uint64_t Number() {
    uint64_t n = 0;
    Bytes(&n, sizeof n);
    return n;
  }
  template <typename T>
  bool Vector(std::vector<T>* v) {
    const uint64_t n = Number();
    if (!ok_ || n > left_ / sizeof(T)) return ok_ = false;
    v->reserve(n);
    MapInAtOnce(reinterpret_cast<char*>(v->data()), n * sizeof(T));
    v->resize(n);
    return Bytes(v->data(), n * sizeof(T));
  }
  bool String(std::string* s) {
    const uint64_t n = Number();
    if (!ok_ || n > left_) return ok_ = false;
    s->resize(n);
    return Bytes(s->data(), n);
  }
  // The next `n` bytes mapped in place rather than read, with `ahead` more bytes readable past
  // them; the mapping is held by `holder`. Their digest is taken as they are told (Digest).
  const char* Map(size_t n, size_t ahead, std::shared_ptr<const void>* holder) {
    const long at = ok_ && n <= left_ ? std::ftell(file_) : -1;
    if (at < 0) return nullptr;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t lead = static_cast<size_t>(at) % page;
    const size_t span = (lead + n + ahead + page - 1) / page * page;
    // Room for all of it first, so that what lies past the file's end reads as zeros.
    void* room = mmap(nullptr, span, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (room == MAP_FAILED) return nullptr;
    holder->reset(room, [span](const void* p) { munmap(const_cast<void*>(p), span); });
    if (lead + n > 0 && mmap(room, lead + n, PROT_READ, MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fileno(file_),
                             static_cast<off_t>(static_cast<size_t>(at) - lead)) == MAP_FAILED) {
      return nullptr;
    }
    if (std::fseek(file_, at + static_cast<long>(n), SEEK_SET) != 0) return nullptr;
    left_ -= n;
    return static_cast<const char*>(room) + lead;
  }
  void Digest(const char* p, size_t n) { digest_ = Combine(digest_, PageDigest(reinterpret_cast<const uint8_t*>(p), n)); }
  // Whether all of it was read and is what was written.
  bool Whole() const { return ok_ && left_ == 0 && digest_ == expected_; }
  uint64_t digest() const { return expected_; }

 private:
  FILE* file_ = nullptr;
  bool ok_ = false;
  uint64_t expected_ = 0, left_ = 0, digest_ = page_digest_detail::kPrime3;
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
    if (entry.is_regular_file(error)) files.push_back({entry.last_write_time(error), entry.file_size(error), entry.path()});
  }
  std::sort(files.begin(), files.end(), [](const Kept& a, const Kept& b) { return a.time > b.time; });
  uintmax_t total = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    total += files[i].size;
    if (i > 0 && (i >= kKeptFiles || total > kKeptBytes)) Discard(files[i].path);
  }
}

#if defined(JET_WIDE_ZEROS)

// For each zero byte of bytes [0, size) at offset p, writes at + p to `out`, 32 bytes at a time
// while `out` stays `room` entries before `limit` (a block writes at most 32, and the first eight
// whatever the block holds); returns the bytes done and moves `out` past what it wrote.
__attribute__((target("avx2,popcnt,bmi"))) size_t WideZeros(const char* bytes, size_t size, uint32_t at, uint32_t*& out,
                                                             const uint32_t* limit) {
  constexpr ptrdiff_t kRoom = 40;
  const __m256i zero = _mm256_setzero_si256();
  size_t i = 0;
  for (; i + 32 <= size && limit - out >= kRoom; i += 32) {
    const __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
    uint32_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(block, zero)));
    const int count = _mm_popcnt_u32(mask);
    const uint32_t from = at + static_cast<uint32_t>(i);
    for (int k = 0; k < 8; ++k, mask &= mask - 1) out[k] = from + _tzcnt_u32(mask);
    for (uint32_t* rest = out + 8; mask != 0; mask &= mask - 1) *rest++ = from + _tzcnt_u32(mask);
    out += count;
  }
  return i;
}
#endif

// Where each text of the loaded chunks begins, found from the zero that ends each (the one zero
// the search counts texts by): texts follow each other from the start of each chunk to the end
// of what it uses. Each chunk is looked at as soon as it is read, while it is in the cache.
class StartsFinder {
 public:
  StartsFinder(FoldedColumns& f, size_t count) : f_(f), count_(count) {
    f.starts.reserve(count + 1);
    MapInAtOnce(reinterpret_cast<char*>(f.starts.data()), (count + 1) * sizeof(uint32_t));
    f.starts.resize(count + 1);
    out_ = f.starts.data();
  }
  // False when chunk `c` does not end with a zero or holds more texts than are kept.
  bool Chunk(size_t c) {
    const char* bytes = f_.chunks[c].get();
    const size_t used = f_.chunk_used[c];
    if (used == 0 || bytes[used - 1] != 0) return false;
    const uint32_t base = static_cast<uint32_t>(c * FoldedColumns::kChunkBytes);
    // The chunk's first text begins it; each zero ends one and begins the next (the last zero,
    // the next chunk's first, dropped below). At most count_ + 1 entries are written.
    uint32_t* out = out_ + n_;
    const uint32_t* const limit = out_ + count_ + 1;
    if (out == limit - 1) return false;
    *out++ = base;
    size_t i = 0;
#if defined(JET_WIDE_ZEROS)
    static const bool wide = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") && __builtin_cpu_supports("bmi");
    if (wide) i = WideZeros(bytes, used, base + 1, out, limit);
#endif
    for (; i < used; ++i) {
      if (bytes[i] != 0) continue;
      if (out == limit) return false;
      *out++ = base + static_cast<uint32_t>(i) + 1;
    }
    n_ = static_cast<size_t>(out - out_) - 1;
    return true;
  }
  // Whether every text was found; the end past the last one set.
  bool Finish() {
    if (n_ != count_ || f_.chunks.size() * FoldedColumns::kChunkBytes > UINT32_MAX) return false;
    out_[count_] = static_cast<uint32_t>(f_.chunks.size() * FoldedColumns::kChunkBytes);
    return true;
  }

 private:
  FoldedColumns& f_;
  size_t count_, n_ = 0;
  uint32_t* out_;
};

// Whether the loaded rows hold together: places ascending, each on one of the pages (ascending,
// each with its digest), a NULL flag per row.
bool RowsHoldTogether(const FoldedColumns& f, const std::vector<uint32_t>& pages, const std::vector<uint64_t>& digests) {
  if (pages.empty() || digests.size() != pages.size() || f.nulls.size() != f.places.size()) return false;
  for (size_t i = 1; i < pages.size(); ++i) {
    if (pages[i] <= pages[i - 1]) return false;
  }
  for (size_t r = 0, p = 0; r < f.places.size(); ++r) {
    if (r > 0 && f.places[r] <= f.places[r - 1]) return false;
    while (p < pages.size() && pages[p] < f.places[r] >> 8) ++p;
    if (p == pages.size() || pages[p] != f.places[r] >> 8) return false;
  }
  return true;
}

std::shared_ptr<FoldedCarry> ReadTexts(const fs::path& path, const std::string& catalogue, const std::string& key,
                                       const TableDef& def, const std::vector<size_t>& columns) {
  Reader in(path, kTextsKind);
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
  const uint64_t stamp = in.Number();
  if (!in.Vector(&carry->pages) || !in.Vector(&carry->digests) || !in.Vector(&folded->places) || !in.Vector(&folded->nulls) ||
      !in.Vector(&folded->chunk_used) || !RowsHoldTogether(*folded, carry->pages, carry->digests)) {
    return nullptr;
  }
  if (folded->chunk_used.size() >= UINT32_MAX / FoldedColumns::kChunkBytes) return nullptr;
  size_t bytes = 0;
  for (const uint32_t used : folded->chunk_used) {
    if (used > FoldedColumns::kChunkBytes) return nullptr;
    bytes += used;
  }
  // The texts are searched where the file's pages lie in the system's cache: neither copied nor
  // given memory of their own, which costs several times what reading them does.
  const char* mapped = in.Map(bytes, FoldedColumns::kChunkBytes, &folded->mapping);
  if (mapped == nullptr) return nullptr;
  StartsFinder starts(*folded, folded->rows() * columns.size());
  for (size_t c = 0; c < folded->chunk_used.size(); ++c) {
    const uint32_t used = folded->chunk_used[c];
    folded->chunks.emplace_back(const_cast<char*>(mapped), FoldedColumns::ChunkFree(used));
    in.Digest(mapped, used);
    if (!starts.Chunk(c)) return nullptr;
    mapped += used;
  }
  if (!in.Whole() || !starts.Finish()) return nullptr;
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
  Reader in(path, kOrderKind);
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
  if (*key != expected) return nullptr;
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

uint64_t WriteTexts(const fs::path& folder, const std::string& catalogue, const std::string& key, const FoldedCarry& carry) {
  const FoldedColumns& f = *carry.folded;
  std::error_code error;
  fs::create_directories(folder, error);
  Writer out(folder / (BaseName(catalogue, key) + ".texts"));
  out.String(catalogue);
  out.String(key);
  out.String(carry.layout);
  out.Vector(std::vector<uint64_t>(f.columns.begin(), f.columns.end()));
  out.Number(static_cast<uint64_t>(carry.stamp));
  out.Vector(carry.pages);
  out.Vector(carry.digests);
  out.Vector(f.places);
  out.Vector(f.nulls);
  // Not the starts: each text's zero tells where the next begins.
  out.Vector(f.chunk_used);
  for (size_t c = 0; c < f.chunks.size(); ++c) out.Bytes(f.chunks[c].get(), f.chunk_used[c]);
  const uint64_t id = out.Finish(kTextsKind);
  Trim(folder);
  return id;
}

}  // namespace

void KeepTexts(const Pager& pager, const TableDef& def, FoldedCarry& carry) {
  const fs::path folder = Folder();
  if (folder.empty() || carry.pages.empty() || carry.folded->moved_rows || !carry.folded->places_ascending) return;
  // The pages were read as the file is now: where no later write can leave its stamp again, a
  // process that finds the file at that stamp trusts them without reading them again.
  const Result<int64_t> settled = pager.SettledStampNow();
  carry.stamp = settled.ok() && settled.value() == pager.file_stamp() ? settled.value() : 0;
  carry.kept_id = WriteTexts(folder, CataloguePath(pager), FoldedColumnsKey(def.page, carry.folded->columns), carry);
}

void KeepOrder(const Pager& pager, const TableDef& def, const std::string& key, const SortedRows& order) {
  const fs::path folder = Folder();
  if (folder.empty() || !order.usable) return;
  const std::string texts_key = FoldedColumnsKey(def.page, order.folded->columns);
  std::shared_ptr<FoldedCarry> carry = pager.TakeCarried<FoldedCarry>(texts_key);
  if (carry == nullptr) return;
  if (carry->folded == order.folded) {
    const std::string catalogue = CataloguePath(pager);
    if (carry->kept_id == 0) KeepTexts(pager, def, *carry);
    if (carry->kept_id != 0) {
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
