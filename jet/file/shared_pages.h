// The pages of a database file that every handle of this process on it shares.
//
// The program opens the database afresh for every search; with the pages kept here a new handle
// starts with what the last one read instead of reading the file again. Pages belong to one
// change stamp (the file's modification time and size, which every commit sets anew, whichever
// process makes it, see Pager::Refresh): a page is only handed out for the stamp it was read at,
// and the share starts over when a handle validates a new stamp under the data lock.
//
// Thread-safe. The pages themselves are never changed once shared: a write copies a page before
// changing it (Pager::MutablePage) and shares the copy when it commits.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace jet {

using SharedPage = std::shared_ptr<const uint8_t[]>;

class SharedPages {
 public:
  // The share of the file with this device and inode number, whose pages are `page_size` bytes.
  // The process keeps the shares of the few files used last even while no handle has them open.
  static std::shared_ptr<SharedPages> Of(uint64_t device, uint64_t inode, uint32_t page_size);

  // Testing aid: drops the shares no handle uses, as a process started afresh has none.
  static void ForgetUnusedForTesting();

  explicit SharedPages(uint32_t page_size) : page_size_(page_size), max_pages_(kMaxBytes / page_size) {}

  // A handle has checked, holding the data lock, that the file is at `stamp`: from now on pages
  // are shared for that stamp (those of an earlier stamp are dropped). A stamp that is not
  // `settled` may still be left by another write (Pager::Refresh): nothing is shared for it.
  void Validated(int64_t stamp, bool settled);
  // The page as read at `stamp`; null when nobody shared it.
  SharedPage Find(int64_t stamp, uint32_t page);
  // A page read at `stamp`; kept when that is the stamp the share is at and there is room.
  void Offer(int64_t stamp, uint32_t page, SharedPage bytes);
  // Lets go of every page kept (handles that read them keep their own until they close); what was
  // decoded and carried stays.
  void ForgetPages();
  // A handle's commit took the file from `before` to `after`, leaving it `page_count` pages long
  // with `written` as their new contents. Counts the commit.
  void Committed(int64_t before, int64_t after, uint32_t page_count,
                 const std::vector<std::pair<uint32_t, SharedPage>>& written);

  // Things decoded from the pages (the catalogue, table definitions), kept for the stamp they
  // were decoded at under a key of their user's choosing; a key names one type of thing.
  // Things of which a file has many (decoded index pages) are offered as `numerous`: at most
  // kMaxNumerous of them are kept, the first ones offered, so that a walk over a whole index
  // does not keep all of it.
  std::shared_ptr<const void> FindDecoded(int64_t stamp, const std::string& key);
  void OfferDecoded(int64_t stamp, const std::string& key, std::shared_ptr<const void> value, bool numerous = false);
  static constexpr size_t kMaxNumerous = 1024;

  // Things decoded for some earlier state of the file that can be checked against the pages as
  // they are now for less than decoding them afresh costs (the folded texts, with a digest of
  // every page they came from). Kept whatever the stamp, one per key, and handed out once: the
  // taker owns it alone until it carries it again, so it may bring it up to date in place.
  std::shared_ptr<void> TakeCarried(const std::string& key);
  // Whether something is carried under `key`, left where it is.
  bool Carries(const std::string& key);
  void Carry(const std::string& key, std::shared_ptr<void> value);
  // Takes what is carried under keys that begin with `prefix`, with their keys.
  std::vector<std::pair<std::string, std::shared_ptr<void>>> TakeCarriedUnder(const std::string& prefix);

  // Commits made through this process's handles: a handle holding values read earlier compares
  // it to know, without a system call, that a handle of this process changed the file meanwhile.
  uint64_t commits() const { return commits_.load(std::memory_order_acquire); }

  // Pages kept per file at most; beyond it pages are read by each handle as before.
  static constexpr size_t kMaxBytes = size_t{256} << 20;

  // Memory for a page about to be read (page_size bytes, not cleared), taken from blocks of
  // kBlockPages put in place with one call: page by page, each first touch of fresh memory cost a
  // fault, most of what reading a search's thousand rows from as many pages took. A block goes
  // when the last of its pages does.
  std::shared_ptr<uint8_t[]> FreshPage();
  static constexpr size_t kBlockPages = 64;

 private:
  void StartOver(int64_t stamp);

  const uint32_t page_size_;
  std::mutex mutex_;
  std::shared_ptr<uint8_t[]> block_;      // FreshPage's block, of which block_next_ pages are taken
  size_t block_next_ = kBlockPages;
  int64_t stamp_ = -1;
  std::vector<SharedPage> pages_;  // by page number; null where not shared
  std::unordered_map<std::string, std::shared_ptr<const void>> decoded_;
  std::unordered_map<std::string, std::shared_ptr<void>> carried_;  // not dropped by StartOver
  size_t numerous_count_ = 0;
  size_t shared_count_ = 0;
  const size_t max_pages_;
  std::atomic<uint64_t> commits_{0};
};

}  // namespace jet
