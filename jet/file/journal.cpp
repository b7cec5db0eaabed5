#include "jet/file/journal.h"

#include <sys/uio.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "jet/base/bytes.h"

namespace jet {

namespace {

constexpr char kMagic[8] = {'V', 'L', 'R', 'N', 'J', 'R', 'N', 'L'};
constexpr uint32_t kByteChecksumVersion = 1;
constexpr uint32_t kVersion = 2;
constexpr size_t kHeaderSize = 32;

// FNV-1a over the bytes; enough to tell a torn or stale record from a whole one. Headers, and the
// records of version 1 journals.
uint32_t Checksum(const uint8_t* data, size_t length, uint32_t seed = 2166136261u) {
  uint32_t h = seed;
  for (size_t i = 0; i < length; ++i) {
    h ^= data[i];
    h *= 16777619u;
  }
  return h;
}

uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// Version 2 records: the page number and the page bytes as little-endian words mixed into four
// independent lanes (multiply, rotate, multiply), then folded and scrambled, so that a torn record
// (sectors of old bytes among new) or a stale one fails the check all but certainly.
uint32_t LaneChecksum(uint32_t page, const uint8_t* data, size_t length) {
  constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull, kPrime2 = 0xC2B2AE3D27D4EB4Full;
  auto mix = [](uint64_t lane, uint64_t word) { return std::rotl(lane + word * kPrime2, 31) * kPrime1; };
  uint64_t lane[4] = {kPrime1 + page, kPrime2 ^ page, ~static_cast<uint64_t>(page), page * kPrime1 + length};
  size_t i = 0;
  for (; i + 32 <= length; i += 32) {
    for (int k = 0; k < 4; ++k) lane[k] = mix(lane[k], Load64(data + i + 8 * k));
  }
  for (; i < length; ++i) lane[i % 4] = mix(lane[i % 4], data[i]);  // page sizes leave none; kept for safety
  uint64_t h = std::rotl(lane[0], 1) + std::rotl(lane[1], 7) + std::rotl(lane[2], 12) + std::rotl(lane[3], 18);
  for (int k = 0; k < 4; ++k) h = (h ^ mix(0, lane[k])) * kPrime1 + kPrime2;
  h ^= h >> 29;
  h *= kPrime2;
  h ^= h >> 32;
  return static_cast<uint32_t>(h);
}

uint32_t RecordChecksum(uint32_t version, const uint8_t* record, uint32_t page_size) {
  if (version == kByteChecksumVersion) return Checksum(record + 4, page_size, Checksum(record, 4));
  return LaneChecksum(Get32(record), record + 4, page_size);
}

}  // namespace

std::string JournalPath(const std::string& database_path) { return database_path + "-journal"; }

JournalWriter::~JournalWriter() = default;

Result<std::unique_ptr<JournalWriter>> JournalWriter::Create(const std::string& database_path, uint32_t page_size,
                                                              uint32_t page_count, Os& os) {
  auto file = os.Open(JournalPath(database_path), OpenMode::kReplace);
  if (!file.ok()) return file.error().WithContext("creating the journal that keeps the database safe during a change");
  return std::unique_ptr<JournalWriter>(new JournalWriter(os, std::move(file).value(), page_size, page_count));
}

Status JournalWriter::Append(uint32_t page, const uint8_t* original) {
  const size_t at = frames_.size();
  frames_.resize(at + 8);
  Put32(frames_.data() + at, page);
  Put32(frames_.data() + at + 4, LaneChecksum(page, original, page_size_));
  originals_.push_back(original);
  return Status::Ok();
}

Status JournalWriter::Sync() {
  static_assert(sizeof header_ == kHeaderSize);
  uint8_t* header = header_;
  std::memcpy(header, kMagic, sizeof kMagic);
  Put32(header + 8, kVersion);
  Put32(header + 12, page_size_);
  Put32(header + 16, page_count_);
  Put32(header + 20, Checksum(header, 20));
  // Three pieces a record (number, page, checksum) and the header in the first call.
  constexpr size_t kRecordsPerCall = 256;
  std::vector<struct iovec> parts;
  parts.reserve(1 + 3 * std::min(kRecordsPerCall, originals_.size()));
  parts.push_back({header, kHeaderSize});
  uint64_t offset = 0;
  size_t first = 0;
  do {
    const size_t end = std::min(originals_.size(), first + kRecordsPerCall);
    for (size_t i = first; i < end; ++i) {
      uint8_t* frame = frames_.data() + 8 * i;
      parts.push_back({frame, 4});
      parts.push_back({const_cast<uint8_t*>(originals_[i]), page_size_});
      parts.push_back({frame + 4, 4});
    }
    JET_RETURN_IF_ERROR(file_->WriteGather(parts, offset));
    for (const struct iovec& part : parts) offset += part.iov_len;
    parts.clear();
    first = end;
  } while (first < originals_.size());
  JET_RETURN_IF_ERROR(file_->Sync(true));
  return os_.SyncFolderOf(file_->path());
}

Status JournalWriter::Void() {
  // Why no step can lose a finished write or keep half of one, power cut or not:
  //  - until the zeros are durable, the journal is whole and durable (Sync): a cut undoes the
  //    write, which has not been reported done;
  //  - the zeros fit one sector, and a header torn between zeros and the old bytes fails its
  //    checksum as surely as zeros do: once written, no outcome undoes anything, and every page of
  //    the write was durable before (the caller synced the database first);
  //  - after the sync the journal is void on disk, so it does not matter whether its deletion
  //    (Delete) reaches the disk: a journal brought back by a cut is deleted unused (RecoverJournal).
  // A void whose zeros may not have reached the disk is taken back: the caller undoes the write
  // and reports it failed, which the journal then agrees with whatever the disk kept.
  const uint8_t zeros[kHeaderSize] = {};
  Status status = file_->WriteAll(zeros, kHeaderSize, 0);
  if (status.ok()) status = file_->Sync(true);
  if (!status.ok()) (void)file_->WriteAll(header_, kHeaderSize, 0);
  return status;
}

Status JournalWriter::Delete() { return os_.Delete(file_->path()); }

Status WritePages(OsFile& file, std::vector<std::pair<uint32_t, const uint8_t*>> pages, uint32_t page_size,
                  const std::function<void()>& after_page) {
  std::sort(pages.begin(), pages.end());
  constexpr size_t kMaxRun = 256;  // well under any system's limit on pieces per call
  std::vector<struct iovec> parts;
  for (size_t first = 0; first < pages.size();) {
    size_t end = first + 1;
    while (end < pages.size() && end - first < kMaxRun && pages[end].first == pages[end - 1].first + 1) ++end;
    parts.clear();
    for (size_t i = first; i < end; ++i) parts.push_back({const_cast<uint8_t*>(pages[i].second), page_size});
    JET_RETURN_IF_ERROR(file.WriteGather(parts, static_cast<uint64_t>(pages[first].first) * page_size));
    for (size_t i = first; i < end; ++i) after_page();
    first = end;
  }
  return Status::Ok();
}

namespace {

// A header written whole by a writer of this page size: what makes a journal worth undoing.
bool WholeHeader(const uint8_t* data, size_t size, uint32_t page_size) {
  return size >= kHeaderSize && std::memcmp(data, kMagic, sizeof kMagic) == 0 && Get32(data + 20) == Checksum(data, 20) &&
         Get32(data + 12) == page_size;
}

// The journal's first `at_most` bytes, as far as it goes; nothing when there is no journal.
Result<std::optional<std::vector<uint8_t>>> ReadJournal(Os& os, const std::string& path, size_t at_most) {
  auto file = os.Open(path, OpenMode::kRead);
  if (!file.ok()) {
    JET_ASSIGN_OR_RETURN(bool exists, os.Exists(path));
    if (!exists) return std::optional<std::vector<uint8_t>>();
    return file.error().WithContext("reading the journal of an unfinished change");
  }
  JET_ASSIGN_OR_RETURN(FileInfo info, file.value()->Stat());
  std::vector<uint8_t> data(static_cast<size_t>(std::min<uint64_t>(info.size, at_most)));
  JET_ASSIGN_OR_RETURN(size_t n, file.value()->ReadFull(data.data(), data.size(), 0));
  data.resize(n);
  return std::optional<std::vector<uint8_t>>(std::move(data));
}

}  // namespace

Result<bool> JournalUndoesAnything(const std::string& database_path, uint32_t page_size, Os& os) {
  JET_ASSIGN_OR_RETURN(auto header, ReadJournal(os, JournalPath(database_path), kHeaderSize));
  return header.has_value() && WholeHeader(header->data(), header->size(), page_size);
}

Status RecoverJournal(Os& os, OsFile& file, uint32_t page_size, bool* recovered) {
  *recovered = false;
  const std::string path = JournalPath(file.path());
  JET_ASSIGN_OR_RETURN(auto journal, ReadJournal(os, path, SIZE_MAX));
  if (!journal.has_value()) return Status::Ok();
  const std::vector<uint8_t>& data = *journal;
  // A journal without a whole header was cut short before any database page was touched.
  bool valid = WholeHeader(data.data(), data.size(), page_size);
  const uint32_t version = valid ? Get32(data.data() + 8) : 0;
  if (valid && version != kByteChecksumVersion && version != kVersion) {
    return Error(ErrorCode::kUnsupported, path + ": the journal of an unfinished change was written by a newer version of "
                                                 "this program (journal version " + std::to_string(version) +
                                                 "); open the database with that version to undo the change");
  }
  if (valid) {
    uint32_t original_pages = Get32(data.data() + 16);
    size_t record = 4 + page_size + 4;
    for (size_t at = kHeaderSize; at + record <= data.size(); at += record) {
      const uint8_t* r = data.data() + at;
      if (Get32(r + 4 + page_size) != RecordChecksum(version, r, page_size)) break;
      Status restored = file.WriteAll(r + 4, page_size, static_cast<uint64_t>(Get32(r)) * page_size);
      if (!restored.ok()) return restored.error().WithContext("undoing an unfinished change");
    }
    Status restored = file.Truncate(static_cast<uint64_t>(original_pages) * page_size);
    if (restored.ok()) restored = file.Sync(false);
    if (!restored.ok()) return restored.error().WithContext("undoing an unfinished change");
    *recovered = true;
  }
  JET_RETURN_IF_ERROR(os.Delete(path));
  return os.SyncFolderOf(path);
}

}  // namespace jet
