// Memory for the chunks of folded texts being built (folded_columns.h), reserved at once and
// handed out a chunk at a time, in order, so that the system may back it with huge pages: a
// fault per 2 MB instead of one per 4 KB page, which otherwise cost the first build of a large
// table about a tenth of its processor time. The reservation takes address space only: what no
// chunk touches takes no memory.
//
// Contract:
//   - Take gives the next chunk, or null when the reservation is spent or could not be had (the
//     caller then allocates the chunk itself);
//   - a chunk taken is given back with FoldedColumns::ChunkFree(kChunkBytes), which lets its
//     pages go; the reservation goes when the last holder of held() lets it go;
//   - a huge page brings in memory past the last text: LetTailGo gives it back;
//   - Adopt makes this arena's holders hold another's reservation too, so that chunks taken
//     from it may join this one's texts;
//   - ReserveList reserves room for a large list of the texts, held and let go with the chunks,
//     on the system's usual pages; LetGo and LetHugeTailGo give back what such a list no longer
//     needs;
//   - an arena made without `huge` asks for no huge pages for its chunks either: for texts that
//     fill little of what is reserved (one search's matches), where a huge page would be
//     brought in mostly unused.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace jet {

class ChunkArena {
 public:
  static constexpr size_t kHugeBytes = size_t{2} << 20;

  // The reservations held for a set of texts.
  struct Reserved {
    std::vector<std::pair<void*, size_t>> spans;
    Reserved() = default;
    Reserved(const Reserved&) = delete;
    Reserved& operator=(const Reserved&) = delete;
    ~Reserved() {
      for (const auto& [at, size] : spans) munmap(at, size);
    }
  };

  // `huge`: whether the system is asked for huge pages.
  explicit ChunkArena(bool huge = true) : huge_(huge) {}
  // Room for `chunks` chunks of `chunk_bytes` (a divisor of kHugeBytes).
  ChunkArena(size_t chunks, size_t chunk_bytes, bool huge = true) : chunk_bytes_(chunk_bytes), huge_(huge) {
    if (chunks == 0) return;
    const size_t size = chunks * chunk_bytes + kHugeBytes;  // with room to start on a huge page
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (at == MAP_FAILED) return;
    held_->spans.emplace_back(at, size);
    base_ = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(at) + kHugeBytes - 1) & ~(kHugeBytes - 1));
    count_ = chunks;
    if (huge_) madvise(base_, chunks * chunk_bytes, MADV_HUGEPAGE);  // a hint: without it, 4 KB pages serve
  }

  char* Take() { return next_ < count_ ? base_ + next_++ * chunk_bytes_ : nullptr; }

  // Lets the memory from `end` (in a chunk taken from here) to the end of its huge page go.
  void LetTailGo(const char* end) const {
    if (end < base_ || end >= base_ + count_ * chunk_bytes_) return;
    LetHugeTailGo(end, base_ + count_ * chunk_bytes_);
  }

  // Room for `bytes` of a list about to grow to nearly that size, held with the chunks and given
  // back whole with them. Not on huge pages: the last one of each list, partly filled, held up to
  // 2 MB more until the list was done, three lists at once, and a build's peak went over its
  // texts by that much; the faults of 4 KB pages cost a build of a million rows about 3 ms, off
  // the path of the search that waits for it. Null when it could not be had.
  void* ReserveList(size_t bytes) {
    const size_t size = bytes + kHugeBytes;
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (at == MAP_FAILED) return nullptr;
    held_->spans.emplace_back(at, size);
    char* const list = reinterpret_cast<char*>((reinterpret_cast<uintptr_t>(at) + kHugeBytes - 1) & ~(kHugeBytes - 1));
    return list;
  }

  // Lets the memory from `end` to the end of its huge page (or `limit`, if before) go: the pages
  // wholly inside.
  static void LetHugeTailGo(const void* end, const void* limit) {
    const uintptr_t huge_end = (reinterpret_cast<uintptr_t>(end) + kHugeBytes) & ~(kHugeBytes - 1);
    LetGo(end, reinterpret_cast<const void*>(std::min(reinterpret_cast<uintptr_t>(limit), huge_end)));
  }
  // Lets the pages wholly inside [begin, end) go.
  static void LetGo(const void* begin, const void* end) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(begin) + page - 1) & ~(page - 1);
    const uintptr_t to = reinterpret_cast<uintptr_t>(end) & ~(page - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_DONTNEED);
  }

  void Adopt(ChunkArena& other) {
    for (const auto& span : other.held_->spans) held_->spans.push_back(span);
    other.held_->spans.clear();
  }

  const std::shared_ptr<Reserved>& held() const { return held_; }

 private:
  std::shared_ptr<Reserved> held_ = std::make_shared<Reserved>();
  char* base_ = nullptr;
  size_t chunk_bytes_ = 0, count_ = 0, next_ = 0;
  bool huge_ = true;
};

}  // namespace jet
