// The pages a pager has at hand, by page number, for files of any size.
//
// A handle is opened for every search and reads a few hundred pages of files that may have tens
// of thousands: a table as long as the file would be allocated and cleared each time for nothing.
// This one allocates a block of slots only when a page in it is kept.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "jet/file/shared_pages.h"

namespace jet {

class PageTable {
 public:
  // The slot of `page` (null until a page is kept there); `page` must be below size().
  SharedPage& operator[](uint32_t page) {
    std::unique_ptr<Block>& block = blocks_[page / kBlockPages];
    if (block == nullptr) block = std::make_unique<Block>();
    return (*block)[page % kBlockPages];
  }
  // The bytes kept for `page`, or null, allocating nothing; `page` must be below size().
  const uint8_t* Kept(uint32_t page) const {
    const Block* block = blocks_[page / kBlockPages].get();
    return block == nullptr ? nullptr : (*block)[page % kBlockPages].get();
  }
  uint32_t size() const { return size_; }
  // Makes room for `pages` pages; pages at and beyond it are dropped.
  void resize(uint32_t pages) {
    // Whole blocks past the end go with the vector; only the last kept block is cleared in part.
    blocks_.resize((static_cast<size_t>(pages) + kBlockPages - 1) / kBlockPages);
    if (pages % kBlockPages != 0 && blocks_.back() != nullptr) {
      for (uint32_t slot = pages % kBlockPages; slot < kBlockPages; ++slot) (*blocks_.back())[slot].reset();
    }
    size_ = pages;
  }
  void clear() {
    blocks_.clear();
    size_ = 0;
  }

 private:
  static constexpr uint32_t kBlockPages = 256;
  using Block = std::array<SharedPage, kBlockPages>;
  std::vector<std::unique_ptr<Block>> blocks_;
  uint32_t size_ = 0;
};

}  // namespace jet
