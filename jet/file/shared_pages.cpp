#include "jet/file/shared_pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <list>
#include <map>
#include <tuple>

namespace jet {

namespace {

// Shares kept while no handle uses them: a handful, as the program works on one catalogue at a
// time and a share holds at most kMaxBytes.
constexpr size_t kFilesKept = 2;

constexpr int64_t kNoStamp = -1;  // no file state has it: nothing is handed out

using ShareKey = std::tuple<uint64_t, uint64_t, uint32_t>;  // device, inode, page size

std::mutex registry_mutex;
// Every share some handle still uses, so that all handles of a file meet in one (and count each
// other's commits), and the last few used, kept for handles yet to open.
std::map<ShareKey, std::weak_ptr<SharedPages>> live_shares;
std::list<std::shared_ptr<SharedPages>> kept_shares;  // most recent first

}  // namespace

std::shared_ptr<SharedPages> SharedPages::Of(uint64_t device, uint64_t inode, uint32_t page_size) {
  std::lock_guard<std::mutex> lock(registry_mutex);
  const ShareKey key{device, inode, page_size};
  std::shared_ptr<SharedPages> share = live_shares[key].lock();
  if (share == nullptr) {
    share = std::make_shared<SharedPages>(page_size);
    live_shares[key] = share;
  }
  kept_shares.remove(share);
  kept_shares.push_front(share);
  if (kept_shares.size() > kFilesKept) kept_shares.pop_back();
  for (auto it = live_shares.begin(); it != live_shares.end();) {
    it = it->second.expired() ? live_shares.erase(it) : std::next(it);
  }
  return share;
}

void SharedPages::ForgetUnusedForTesting() {
  std::lock_guard<std::mutex> lock(registry_mutex);
  kept_shares.clear();
}

void SharedPages::StartOver(int64_t stamp) {
  stamp_ = stamp;
  pages_.clear();
  decoded_.clear();
  numerous_count_ = 0;
  shared_count_ = 0;
}

std::shared_ptr<const void> SharedPages::FindDecoded(int64_t stamp, const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamp != stamp_) return nullptr;
  auto found = decoded_.find(key);
  return found == decoded_.end() ? nullptr : found->second;
}

void SharedPages::OfferDecoded(int64_t stamp, const std::string& key, std::shared_ptr<const void> value, bool numerous) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamp != stamp_) return;
  if (numerous) {
    if (numerous_count_ >= kMaxNumerous || decoded_.count(key) != 0) return;
    ++numerous_count_;
  }
  decoded_[key] = std::move(value);
}

std::shared_ptr<void> SharedPages::TakeCarried(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = carried_.find(key);
  if (found == carried_.end()) return nullptr;
  std::shared_ptr<void> taken = std::move(found->second);
  carried_.erase(found);
  return taken;
}

bool SharedPages::Carries(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  return carried_.count(key) != 0;
}

void SharedPages::Carry(const std::string& key, std::shared_ptr<void> value) {
  std::lock_guard<std::mutex> lock(mutex_);
  carried_[key] = std::move(value);
}

std::vector<std::pair<std::string, std::shared_ptr<void>>> SharedPages::TakeCarriedUnder(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::pair<std::string, std::shared_ptr<void>>> taken;
  std::erase_if(carried_, [&](auto& entry) {
    if (!entry.first.starts_with(prefix)) return false;
    taken.emplace_back(entry.first, std::move(entry.second));
    return true;
  });
  return taken;
}

void SharedPages::Validated(int64_t stamp, bool settled) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!settled) StartOver(kNoStamp);
  else if (stamp != stamp_) StartOver(stamp);
}

SharedPage SharedPages::Find(int64_t stamp, uint32_t page) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamp != stamp_ || page >= pages_.size()) return nullptr;
  return pages_[page];
}

std::shared_ptr<uint8_t[]> SharedPages::FreshPage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (block_next_ == kBlockPages) {
    const size_t size = kBlockPages * page_size_;
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (at == MAP_FAILED) return std::make_shared_for_overwrite<uint8_t[]>(page_size_);
    block_ = std::shared_ptr<uint8_t[]>(static_cast<uint8_t*>(at), [size](uint8_t* block) { munmap(block, size); });
    block_next_ = 0;
  }
  return std::shared_ptr<uint8_t[]>(block_, block_.get() + block_next_++ * page_size_);
}

void SharedPages::ForgetPages() {
  std::lock_guard<std::mutex> lock(mutex_);
  pages_.clear();
  pages_.shrink_to_fit();
  shared_count_ = 0;
}

void SharedPages::Offer(int64_t stamp, uint32_t page, SharedPage bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stamp != stamp_ || shared_count_ >= max_pages_) return;
  if (page >= pages_.size()) pages_.resize(page + 1);
  if (pages_[page] == nullptr) ++shared_count_;
  pages_[page] = std::move(bytes);
}

void SharedPages::Committed(int64_t before, int64_t after, uint32_t page_count,
                            const std::vector<std::pair<uint32_t, SharedPage>>& written) {
  std::lock_guard<std::mutex> lock(mutex_);
  commits_.fetch_add(1, std::memory_order_acq_rel);
  if (stamp_ != before) {
    StartOver(after);  // what is shared belongs to another state of the file
  } else {
    stamp_ = after;
    decoded_.clear();  // decoded from pages the commit may have changed
    numerous_count_ = 0;
    if (pages_.size() > page_count) {
      shared_count_ -= static_cast<size_t>(std::count_if(pages_.begin() + page_count, pages_.end(),
                                                         [](const SharedPage& p) { return p != nullptr; }));
      pages_.resize(page_count);
    }
  }
  for (const auto& [page, bytes] : written) {
    if (page >= page_count) continue;
    if (page >= pages_.size()) pages_.resize(page + 1);
    if (pages_[page] == nullptr) {
      if (shared_count_ >= max_pages_) continue;
      ++shared_count_;
    }
    pages_[page] = bytes;
  }
}

}  // namespace jet
