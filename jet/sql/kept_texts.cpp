#include "jet/sql/kept_texts.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "jet/sql/page_digest.h"

namespace jet {

namespace fs = std::filesystem;

namespace {

std::mutex folder_mutex;
std::string kept_folder;

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'K', 'E', 'P', 'T'};
constexpr uint32_t kVersion = 1;
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
  fs::path path = fs::weakly_canonical(fs::absolute(pager.path(), error), error);
  return error ? fs::absolute(pager.path()).lexically_normal().string() : path.string();
}

// The name shared by the files kept for one catalogue's folded texts of some columns.
std::string BaseName(const std::string& catalogue, const std::string& texts_key) {
  return Hex(DigestOf(catalogue + '\0' + texts_key));
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
    v->resize(n);
    return Bytes(v->data(), n * sizeof(T));
  }
  bool String(std::string* s) {
    const uint64_t n = Number();
    if (!ok_ || n > left_) return ok_ = false;
    s->resize(n);
    return Bytes(s->data(), n);
  }
  // Whether all of it was read and is what was written.
  bool Whole() const { return ok_ && left_ == 0 && digest_ == expected_; }
  uint64_t digest() const { return expected_; }

 private:
  FILE* file_ = nullptr;
  bool ok_ = false;
  uint64_t expected_ = 0, left_ = 0, digest_ = page_digest_detail::kPrime3;
};

void Discard(const fs::path& path) {
  std::error_code error;
  fs::remove(path, error);
}

// Keeps at most kKeptFiles files in the folder, the oldest going first.
void Trim(const fs::path& folder) {
  std::error_code error;
  std::vector<std::pair<fs::file_time_type, fs::path>> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file(error)) files.emplace_back(entry.last_write_time(error), entry.path());
  }
  if (files.size() <= kKeptFiles) return;
  std::sort(files.begin(), files.end());
  for (size_t i = 0; i + kKeptFiles < files.size(); ++i) Discard(files[i].second);
}

// Whether the loaded texts hold together: every text where the starts say, ended by the one zero
// that the search counts texts by, every row on one of the pages, places ascending.
bool HoldsTogether(const FoldedColumns& f, const std::vector<uint32_t>& pages, const std::vector<uint64_t>& digests) {
  const size_t width = f.columns.size(), rows = f.places.size();
  constexpr size_t kChunk = FoldedColumns::kChunkBytes;
  if (pages.empty() || digests.size() != pages.size() || f.nulls.size() != rows || f.starts.size() != rows * width + 1 ||
      f.chunks.size() != f.chunk_used.size() || f.chunks.size() * kChunk > UINT32_MAX || f.starts.back() != f.chunks.size() * kChunk) {
    return false;
  }
  for (size_t i = 1; i < pages.size(); ++i) {
    if (pages[i] <= pages[i - 1]) return false;
  }
  for (size_t r = 0, p = 0; r < rows; ++r) {
    if (r > 0 && f.places[r] <= f.places[r - 1]) return false;
    while (p < pages.size() && pages[p] < f.places[r] >> 8) ++p;
    if (p == pages.size() || pages[p] != f.places[r] >> 8) return false;
  }
  // Texts follow each other from the start of each chunk to the end of what it uses.
  std::vector<size_t> texts_in(f.chunks.size());
  if (f.starts.size() > 1 && f.starts.front() != 0) return false;
  for (size_t i = 0; i + 1 < f.starts.size(); ++i) {
    const size_t chunk = f.starts[i] / kChunk, at = f.starts[i] % kChunk, next = f.starts[i + 1];
    if (chunk >= f.chunks.size() || next <= f.starts[i]) return false;
    // The last text of a chunk ends where the chunk's bytes do, and the next begins the next chunk.
    const size_t end = next / kChunk == chunk ? next % kChunk : f.chunk_used[chunk];
    if (next / kChunk != chunk && next != (chunk + 1) * kChunk) return false;
    if (end <= at || end > f.chunk_used[chunk] || f.chunks[chunk][end - 1] != 0) return false;
    ++texts_in[chunk];
  }
  for (size_t c = 0; c < f.chunks.size(); ++c) {
    const char* bytes = f.chunks[c].get();
    if (texts_in[c] == 0 || static_cast<size_t>(std::count(bytes, bytes + f.chunk_used[c], '\0')) != texts_in[c]) return false;
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
  if (!in.Vector(&carry->pages) || !in.Vector(&carry->digests) || !in.Vector(&folded->places) || !in.Vector(&folded->nulls) ||
      !in.Vector(&folded->starts) || !in.Vector(&folded->chunk_used)) {
    return nullptr;
  }
  for (const uint32_t used : folded->chunk_used) {
    if (used > FoldedColumns::kChunkBytes) return nullptr;
    folded->chunks.push_back(std::make_unique_for_overwrite<char[]>(FoldedColumns::kChunkBytes));
    if (!in.Bytes(folded->chunks.back().get(), used)) return nullptr;
  }
  if (!in.Whole() || !HoldsTogether(*folded, carry->pages, carry->digests)) return nullptr;
  carry->kept_id = in.digest();
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
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
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
  out.Vector(carry.pages);
  out.Vector(carry.digests);
  out.Vector(f.places);
  out.Vector(f.nulls);
  out.Vector(f.starts);
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
